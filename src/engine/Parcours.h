// One walk of TraiterCouple (engine/UDelta.h), inside the engine only. The walk itself
// (engine/UDelta.cpp) lists, plans and goes from level to level; what it decides is acted
// on in engine/ActionsParcours.cpp (copies, deletions, what goes to the archive); a
// directory's finish, attribute fix-ups and hard links are in engine/Finitions.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/Anticipation.h"
#include "engine/Archive.h"
#include "engine/AttributsMiroir.h"
#include "engine/BudgetDescripteurs.h"
#include "engine/Changements.h"
#include "engine/Echecs.h"
#include "engine/Exclusions.h"
#include "engine/LiensDurs.h"
#include "engine/Listage.h"
#include "engine/ListeEntrees.h"
#include "engine/OutilsParcours.h"
#include "engine/Ouvriers.h"
#include "engine/Plan.h"
#include "engine/MarqueAttributs.h"
#include "engine/ProprietesCibles.h"
#include "engine/Publication.h"
#include "engine/UDelta.h"
#include "engine/VerrouMiroir.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix::parcours {

// The other way, one fdatasync per copy, measured slower (bench/README.md).
constexpr bool kSynchroParFichier = false;

// One walk: the state shared by every level of one call of TraiterCouple. The walk goes
// depth first without recursion: a stack of levels (TNiveau), the paths of the current
// level kept in one string per side, so that neither the stack nor memory grows more
// than linearly with depth.
class TParcours : private TSuitePublication {
 public:
  using TRepertoire = platform::TRepertoire;
  using EntreeRepertoire = platform::EntreeRepertoire;
  using GenreEntree = platform::GenreEntree;

  TParcours(bool comparerSeulement, const TSurMessage& surMessage,
            const TSurAvancement& surAvancement, TEtatRun& etat)
      : comparer_(comparerSeulement),
        surMessage_(surMessage),
        surAvancement_(surAvancement),
        etat_(etat),
        fs_(etat.Systeme != nullptr ? *etat.Systeme : platform::SystemeReel()),
        ouvriers_(NombreOuvriers(),
                  [this](std::function<void()> f) { return fs_.DemarrerFil(std::move(f)); }),
        archive_(fs_, comparerSeulement ? 0 : etat.JoursArchive, etat.DebutRun),
        publication_(ouvriers_, fs_, archive_, kSynchroParFichier, *this) {
    options_.SynchroDonnees = kSynchroParFichier;
  }
  ~TParcours();  // what still waits behind the walk is dropped with its temporary names
  TParcours(const TParcours&) = delete;
  TParcours& operator=(const TParcours&) = delete;

  int Nombre() const { return nombre_; }

  void Signaler(const TEchec& e) override { Signaler(TexteEchec(e), CauseEchec(e)); }
  // `erreur`: the system error behind the line, 0 when none.
  void Signaler(const std::string& texte, int erreur = 0) {
    if (fantome_ || Differer({texte, nullptr, nullptr, nullptr, erreur})) return;
    ++nombre_;
    if (surMessage_) surMessage_(texte, nombre_, erreur);
  }

  // Calls SurAvancement; true when the walk is to stop here.
  bool PointDeControle() {
    if (surAvancement_) surAvancement_(etat_.Abandon);
    return etat_.Abandon;
  }

  void Executer(const std::string& source, const std::string& destination);

 private:
  using Descente = TSousRepertoires::Element;
  // A level the walk is in: its two directories, open while the level is among the
  // deepest ones (else closed, and found again through ".." on the way back, checked to be
  // the very same directories), and the subdirectories still to enter.
  struct TNiveau {
    TRepertoire src, dst;
    std::pair<uint64_t, uint64_t> idSrc, idDst;
    bool ferme = false;
    bool fantome = false;  // missing from the destination, walked in the source only
    size_t longueurSrc = 0, longueurDst = 0;  // the parent's paths' lengths
    TSousRepertoires descentes;
    size_t prochaine = 0;
    std::unique_ptr<TAvance> avance;
    platform::ProprietesRepertoire props;
    bool enAttenteIci = false;
    size_t motifsParent = 0;  // the patterns stack's size before this level's were pushed
    bool differe = false;     // copies into it were taken without waiting for them
  };
  // What the walk has gone past while copies it took finish (TCopieDetachee): a copy, the
  // attributes of a finished directory behind copies into it, a report line or a change told
  // to whoever listens. Taken in order, so that the report, the listeners and the batches
  // get what a walk that waits for each copy gives them.
  struct TCopieDifferee {
    std::unique_ptr<TCopieDetachee> copie;
    std::shared_ptr<TPublication::Partage> partage;  // of its level's copies in the batch
    EntreeRepertoire e;
    std::string nom, source, destination;
    bool remplace = false;
    bool refaire = false;  // removed while the disk was full: written again when taken
  };
  struct TFinitionDifferee {
    TRepertoire src, dst;
    std::string chemin;
    platform::ProprietesRepertoire props;
  };
  struct TDiffere {
    std::string ligne;  // when none of the others
    std::unique_ptr<TCopieDifferee> copie;
    std::unique_ptr<TFinitionDifferee> finition;
    std::unique_ptr<TAction> action;  // a change told to whoever listens
    int erreur = 0;                   // the line's system error
  };
  // A report line or a change told goes behind the copies the walk went past, when some
  // wait (and none is being taken): true when it was queued.
  bool Differer(TDiffere&& d) {
    if (differes_.empty() || resolution_) return false;
    differes_.push_back(std::move(d));
    return true;
  }
  // Takes the first of what waits; the report lines it gives go out at once.
  void ResoudrePremier();
  void ResoudreTout() {
    while (!differes_.empty()) ResoudrePremier();
  }
  // The disk is full (or descriptors are out) while a copy gone past is taken: those
  // behind it give back their room and descriptors, and are written again when taken.
  // True when there were some.
  bool ArreterDifferes();
  // The directory of the level `f` takes its attributes after what waits.
  void DiffererFinition(TNiveau& f);
  // Pushes the patterns of the source directory `rep` (the source path `chemin`, `base`
  // relative to the source root) when it holds a patterns file. False, with the report
  // line, when that file cannot be read.
  bool ChargerMotifs(const TRepertoire& rep, const std::string& chemin, std::string_view base);

  // The current source directory's path relative to the source root ("" at the root).
  std::string_view Relatif() const { return Sous(cheminSrc_, longueurRacineSrc_); }
  std::string RelatifDst() const { return std::string(Sous(cheminDst_, longueurRacineDst_)); }
  static std::string_view Sous(std::string_view r, size_t racine) {
    r.remove_prefix(std::min(r.size(), racine));
    if (!r.empty() && r.front() == '/') r.remove_prefix(1);
    return r;
  }

  // The walk, depth first, one level at a time.
  void Parcourir(TRepertoire src, int errSrc, TRepertoire dst, int errDst);

  void Descendre(TNiveau& f);

  // The level on top of the stack is done: its directory takes its attributes, and the
  // walk goes back to its parent. A level still closed here could not be found again.
  void Remonter();

  static void Prolonger(std::string& chemin, const std::string& nom) {
    if (chemin.empty() || chemin.back() != '/') chemin += '/';
    chemin += nom;
  }

  // Opens a subdirectory; at the descriptor limit, the batch waiting for its flush gives
  // back the descriptors it holds and the open is tried once more.
  int Ouvrir(TRepertoire& rep, const TRepertoire& parent, const std::string& nom);

  // The entries of `rep`: those the workers listed ahead (`l`) when they are of the very
  // directory `rep` is open on, else listed now; those `seuil` calls old are not asked for
  // their extended attributes.
  int Entrees(const TRepertoire& rep, std::unique_ptr<TListage>& l, TListeEntrees& entrees,
              const platform::SeuilAttributs* seuil = nullptr);

  // Lists, plans and acts on one level, then returns it for its subdirectories to be
  // entered; null when the level ends here (unreadable, or the walk is stopped).
  // `cibleCree`: the destination directory was just made by this walk, and is not listed.
  std::unique_ptr<TNiveau> Entrer(TRepertoire srcRep, int errSrc, TRepertoire dstRep, int errDst,
                                  std::unique_ptr<TListage> lsrc, std::unique_ptr<TListage> ldst,
                                  bool racine, bool cibleCree = false);

  // Deletes what stands in the way before anything is copied: a rename over a large file on
  // a nearly full disk needs the room of the surplus.
  void SupprimerSurplus(const TRepertoire& dstRep, const std::string& dst, const TPlanNiveau& plan);

  void SignalerSurplus(const TRepertoire& dstRep, const std::string& dst, const TPlanNiveau& plan);

  void Agir(const TRepertoire& srcRep, const TRepertoire& dstRep, const std::string& src,
            const std::string& dst, size_t indice, const EntreeRepertoire& e, const Decision& d,
            std::string nomDst, TSousRepertoires& descentes);

  // A file whose content is the same as its source's but whose attributes differ: fixed in
  // place (same inode, no copy), reported in compare mode.
  void CorrigerAttributs(const TRepertoire& srcRep, const TRepertoire& dstRep,
                         const EntreeRepertoire& e, const Decision& d, const std::string& nomDst,
                         const std::string& chemin);

  // A name of a file with several names, made a link to the first one mirrored in this run
  // (engine/LiensDurs.h) in place of a copy, or of a separate copy an earlier run left (not
  // in a run that follows a preview, which did not show it). False: mirrored as any file.
  bool LierAuGroupe(const TRepertoire& dstRep, const EntreeRepertoire& e, const Decision& d,
                    const std::string& nomDst, const std::string& src, const std::string& dst);

  static bool Plein(int err) { return err == ENOSPC || err == EDQUOT; }

  // Writes the copy of the source entry `e` under a temporary name; it takes the name
  // `nom` with its batch.
  void CopierFichier(const TRepertoire& srcRep, const TRepertoire& dstRep, size_t indice,
                     const EntreeRepertoire& e, const std::string& nom, const std::string& source,
                     const std::string& destination, bool remplace);
  // What follows a copy written with the result `err`: tried again where room or
  // descriptors can be found, reported, or handed to the batch (in the level's shared
  // destination descriptor, or in `partage` for a level the walk has left).
  void ConclureCopie(const TRepertoire& srcRep, const TRepertoire& dstRep,
                     const platform::OptionsCopie& options, const EntreeRepertoire& e,
                     platform::CopieEnAttente copie, int err, const std::string& source,
                     const std::string& destination, bool remplace,
                     TPublication::Partage* partage);

  // Room for the mirror, taken from the archive of the file system holding `chemin`: each
  // entry this run archived and now lets go is named, since its old version is lost.
  bool LibererPlace(const std::string& chemin) override;

  void CopiePubliee(const std::string& destination, int64_t octets, bool remplace) override;

  TAction Changement(TypeAction type, bool repertoire, const std::string& chemin,
                     const EntreeRepertoire* e = nullptr, bool cibleRecente = false) const {
    return changements_.Changement(type, repertoire, chemin, e, cibleRecente);
  }
  void Dire(const TAction& a) {
    if (differes_.empty() || resolution_) {
      changements_.Dire(a);
    } else {
      Differer({{}, nullptr, nullptr, std::make_unique<TAction>(a)});
    }
  }
  bool Ecoute() const { return changements_.Ecoute(); }
  TAction Cible(TAction a, const TRepertoire& dstRep, const std::string& nom) const {
    return changements_.Cible(std::move(a), fs_, dstRep, nom);
  }
  // In synchronise mode: whether the change `a` is to be made; an entry changed since the
  // preview gets its line.
  bool Choisir(const TAction& a) {
    const TChoix c = changements_.Choisir(a);
    if (c == TChoix::Imprevu) Signaler("Changé depuis l'aperçu, laissé tel quel : " + a.chemin);
    laisse_ = laisse_ || c == TChoix::Laisser;
    return c == TChoix::Faire;
  }

  // Once its contents are done, a directory takes the mode, owner and time of its source;
  // after the copies into it that still wait, when there are some.
  void FinirRepertoire(const TRepertoire& srcRep, const TRepertoire& dstRep, const std::string& dst,
                       const platform::ProprietesRepertoire& props, bool enAttenteIci);

  void AppliquerFinition(const TRepertoire& dstRep, const EntreeRepertoire& s,
                         const std::string& dst, bool garder) override;

  // Each deleted file is counted once, here; with the archive on, "deleted" means moved
  // into it.
  bool SupprimerFichier(const TRepertoire& dstRep, const std::string& dst, const std::string& nom);

  // A directory and its tree: each non-directory entry of it counts as one deleted file,
  // moved into the archive or deleted.
  int SupprimerRepertoire(const TRepertoire& dstRep, const std::string& dst,
                          const std::string& nom);

  int Archiver(const TRepertoire& dstRep, const std::string& nom, const std::string& chemin);

  const bool comparer_;
  bool fantome_ = false;  // the level walked is missing from the destination
  const TSurMessage& surMessage_;
  const TSurAvancement& surAvancement_;
  TEtatRun& etat_;
  platform::TSystemeFichiers& fs_;
  TVerrouMiroir verrou_{fs_};
  TOuvriers ouvriers_;  // made before, destroyed after, what it runs tasks for
  size_t enCours_ = 0;  // subdirectories listed ahead, not yet entered
  TBudgetAvance budgetAvance_{BudgetAvance()};  // entries they hold
  TBudget budget_;
  int nombre_ = 0;
  std::string cheminSrc_, cheminDst_;  // the paths of the level the walk is in
  size_t longueurRacineSrc_ = 0;
  TExclusions exclusions_;   // the patterns files of the source directories the walk is in
  std::string cheminExclu_;  // the path judged, reused from entry to entry
  bool arret_ = false;       // the pair stops where it is (a patterns file unreadable)
  std::vector<std::unique_ptr<TNiveau>> pile_;
  TRepertoire racine_;  // the destination root, for its flush at the end
  platform::ProprietesRepertoire props_;
  TProprietesCibles proprietes_;
  platform::OptionsCopie options_;
  TCopiesAvance* copiesAvance_ = nullptr;  // the current level's copies written ahead
  bool differer_ = false;  // copies ahead are taken without waiting for them
  std::deque<TDiffere> differes_;
  size_t differesTenus_ = 0;  // copies and finishes among them: they hold descriptors
  bool resolution_ = false;   // the first of them is being taken
  std::shared_ptr<TPublication::Partage> partageDiffere_;  // the current level's, once one waits
  bool modifie_ = false;  // something changed since the pair began: syncfs at its end
  TArchive archive_;
  TPublication publication_;  // after the archive, which it uses
  TChangements changements_{etat_, comparer_, archive_};
  TAttributsMiroir attributs_{fs_, etat_};
  TMarqueAttributs marque_;  // what the listings may leave unasked, and the mark this walk leaves
  bool laisse_ = false;      // a change the preview left out
  bool exclu_ = false;       // an entry a pattern or a cache tag left out
  bool attributsSource_ = false;  // a source entry holds extended attributes
  TLiensDurs liens_{fs_, etat_};
  uint64_t peripheriqueSrc_ = 0;  // of the source directory of the level acted on
  size_t longueurRacineDst_ = 0;
};

}  // namespace jumelix::parcours
