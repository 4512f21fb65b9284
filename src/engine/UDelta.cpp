#include "engine/UDelta.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/Anticipation.h"
#include "engine/Archive.h"
#include "engine/AttributsMiroir.h"
#include "engine/BudgetDescripteurs.h"
#include "engine/Changements.h"
#include "engine/Exclusions.h"
#include "engine/FichiersMotifs.h"
#include "engine/LiensDurs.h"
#include "engine/ListNomFichRep.h"
#include "engine/Listage.h"
#include "engine/ListeEntrees.h"
#include "engine/OutilsParcours.h"
#include "engine/Ouvriers.h"
#include "engine/Plan.h"
#include "engine/ProprietesCibles.h"
#include "engine/Publication.h"
#include "engine/RacineCible.h"
#include "engine/VerrouMiroir.h"
#include "engine/UVerif.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"

namespace jumelix {

void (*CrochetAvantAction)(const std::string& destination) = nullptr;

namespace {

using platform::EntreeRepertoire;
using platform::GenreEntree;
using platform::TRepertoire;
using namespace parcours;

// The other way, one fdatasync per copy, measured slower (bench/README.md).
constexpr bool kSynchroParFichier = false;

// One walk: the state shared by every level of one call of TraiterCouple. The walk goes
// depth first without recursion: a stack of levels (TNiveau), the paths of the current
// level kept in one string per side, so that neither the stack nor memory grows more
// than linearly with depth.
class TParcours : private TSuitePublication {
 public:
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

  int Nombre() const { return nombre_; }

  void Signaler(const std::string& texte) override {
    if (fantome_) return;
    ++nombre_;
    if (surMessage_) surMessage_(texte, nombre_);
  }

  // Calls SurAvancement; true when the walk is to stop here.
  bool PointDeControle() {
    if (surAvancement_) surAvancement_(etat_.Abandon);
    return etat_.Abandon;
  }

  void Executer(const std::string& source, const std::string& destination) {
    platform::ElargirLimiteDescripteurs();
    budget_ = TBudget::Pour(platform::LimiteDescripteurs());
    publication_.DefinirLimiteRepertoires(budget_.lotRepertoires);
    if (!platform::EstRepertoire(source)) {
      Signaler(source + " ==> Répertoire source non accessible");
      return;
    }
    TRepertoire src, dst;
    const int err_src = fs_.OuvrirChemin(src, source);
    // The patterns are known before anything of the destination is touched.
    if (!etat_.ExclusionsGlobales.Vide()) exclusions_.Empiler(etat_.ExclusionsGlobales);
    longueurRacineSrc_ = source.size();
    if (err_src == 0 && src.ExisteEntree(std::string(kNomFichierExclusions)) &&
        !ChargerMotifs(src, source, {})) {
      return;
    }
    int err_dst = 0;
    if (comparer_) {
      if (!platform::EstRepertoire(destination)) {
        Signaler(destination + " ==> Répertoire destination inexistant");
        return;
      }
      err_dst = fs_.OuvrirChemin(dst, destination);
    } else if (!platform::EstRepertoire(destination)) {
      if (const std::string refus = CreerRacineCible(fs_, destination, dst); !refus.empty()) {
        Signaler(refus);
        return;
      }
    } else {
      err_dst = fs_.OuvrirChemin(dst, destination);
    }
    if (dst.Ouvert()) {
      if (const std::string refus = RefusArchive(fs_, dst, destination); !refus.empty()) {
        Signaler(refus);
        return;
      }
    }
    // Synchronise mode only: a compare changes nothing, and may look at a destination
    // while it is being synchronised. The lock is held until the walk ends.
    if (!comparer_ && dst.Ouvert() && verrou_.Prendre(dst) == EWOULDBLOCK) {
      Signaler("Abandon : une autre synchronisation de " + destination + " est en cours");
      return;
    }
    cheminSrc_ = source;
    cheminDst_ = destination;
    attributs_.Destination(destination);
    liens_.Destination(destination);
    longueurRacineDst_ = destination.size();
    if (dst.Ouvert()) {
      archive_.Commencer(
          dst, destination,
          [&](const std::string& dossier) {
            Signaler("Impossible de supprimer le répertoire " + dossier);
          },
          verrou_.Cree());
    }
    Parcourir(std::move(src), err_src, std::move(dst), err_dst);
    const bool enAttente = !publication_.Vide();
    publication_.Tout();
    verrou_.Defaire(racine_);
    // A stop that came while the last batch went to disk (a flush of a large batch takes a
    // while): the pair did not end on its own, and says so.
    if (enAttente && !etat_.Abandon) PointDeControle();
    if (modifie_ && racine_.Ouvert()) {
      if (int err = fs_.Synchroniser(racine_)) {
        Signaler("Erreur lors de l'écriture sur disque de " + destination + " " +
                 TexteErreurSysteme(err));
      }
    }
  }

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
  };
  // Pushes the patterns of the source directory `rep` (the source path `chemin`, `base`
  // relative to the source root) when it holds a patterns file. False, with the report
  // line, when that file cannot be read.
  bool ChargerMotifs(const TRepertoire& rep, const std::string& chemin, std::string_view base) {
    std::string texte;
    const std::string nom(kNomFichierExclusions);
    const int err = fs_.LireFichier(rep, nom, texte);
    if (err == ENOENT) return true;
    if (err != 0) {
      Signaler(LigneExclusionsIllisibles(Joindre(chemin, nom), err));
      return false;
    }
    TMotifs motifs = TMotifs::Compiler(texte, std::string(base));
    if (!motifs.Vide()) exclusions_.Empiler(std::move(motifs));
    return true;
  }

  // The current source directory's path relative to the source root ("" at the root).
  std::string_view Relatif() const { return Sous(cheminSrc_, longueurRacineSrc_); }
  std::string RelatifDst() const { return std::string(Sous(cheminDst_, longueurRacineDst_)); }
  static std::string_view Sous(std::string_view r, size_t racine) {
    r.remove_prefix(std::min(r.size(), racine));
    if (!r.empty() && r.front() == '/') r.remove_prefix(1);
    return r;
  }

  // The walk, depth first, one level at a time.
  void Parcourir(TRepertoire src, int errSrc, TRepertoire dst, int errDst) {
    if (dst.Ouvert()) fs_.Dupliquer(racine_, dst);
    std::unique_ptr<TNiveau> n =
        Entrer(std::move(src), errSrc, std::move(dst), errDst, nullptr, nullptr, true);
    if (!n) return;
    pile_.push_back(std::move(n));
    while (!pile_.empty() && !etat_.Abandon && !arret_) {
      TNiveau& f = *pile_.back();
      if (f.ferme || f.prochaine >= f.descentes.size()) {
        Remonter();
      } else {
        Descendre(f);
      }
    }
    pile_.clear();
  }

  void Descendre(TNiveau& f) {
    const Descente& d = f.descentes[f.prochaine++];
    std::unique_ptr<TListage> ls, lc;
    if (f.avance) std::tie(ls, lc) = f.avance->Prendre(d.indice);
    TRepertoire s, c;
    const int es = Ouvrir(s, f.src, d.source);
    const int ec = f.fantome ? ENOENT : Ouvrir(c, f.dst, d.destination);
    const size_t longueurSrc = cheminSrc_.size(), longueurDst = cheminDst_.size();
    const size_t motifs = exclusions_.Taille();
    Prolonger(cheminSrc_, d.source);
    Prolonger(cheminDst_, d.destination);
    std::unique_ptr<TNiveau> n =
        Entrer(std::move(s), es, std::move(c), ec, std::move(ls), std::move(lc), false);
    if (!n) {
      cheminSrc_.resize(longueurSrc);
      cheminDst_.resize(longueurDst);
      while (exclusions_.Taille() > motifs) exclusions_.Depiler();
      fantome_ = f.fantome;
      return;
    }
    n->longueurSrc = longueurSrc;
    n->longueurDst = longueurDst;
    n->motifsParent = motifs;
    pile_.push_back(std::move(n));
    // Only the deepest levels keep their directories open.
    if (pile_.size() > budget_.niveauxOuverts) {
      TNiveau& loin = *pile_[pile_.size() - budget_.niveauxOuverts - 1];
      if (!loin.ferme) {
        loin.avance.reset();
        loin.idSrc = loin.src.Identite();
        loin.idDst = loin.dst.Identite();
        loin.src.Fermer();
        loin.dst.Fermer();
        loin.ferme = true;
      }
    }
  }

  // The level on top of the stack is done: its directory takes its attributes, and the
  // walk goes back to its parent. A level still closed here could not be found again.
  void Remonter() {
    TNiveau& f = *pile_.back();
    if (f.ferme) {
      Signaler("Erreur en lisant le répertoire " + cheminDst_);
    } else if (!comparer_) {
      FinirRepertoire(f.src, f.dst, cheminDst_, f.props, f.enAttenteIci);
    }
    cheminSrc_.resize(f.longueurSrc);
    cheminDst_.resize(f.longueurDst);
    while (exclusions_.Taille() > f.motifsParent) exclusions_.Depiler();
    if (pile_.size() >= 2 && pile_[pile_.size() - 2]->ferme && !f.ferme) {
      // Through "..", checked to be the very directories the walk left: one moved away
      // meanwhile is not walked further.
      TNiveau& p = *pile_[pile_.size() - 2];
      const bool retrouve = fs_.OuvrirSous(p.src, f.src, "..") == 0 &&
                            fs_.OuvrirSous(p.dst, f.dst, "..") == 0 &&
                            p.src.Identite() == p.idSrc && p.dst.Identite() == p.idDst;
      if (retrouve) {
        p.ferme = false;
      } else {
        p.src.Fermer();
        p.dst.Fermer();
      }
    }
    pile_.pop_back();
    fantome_ = !pile_.empty() && pile_.back()->fantome;
  }

  static void Prolonger(std::string& chemin, const std::string& nom) {
    if (chemin.empty() || chemin.back() != '/') chemin += '/';
    chemin += nom;
  }

  // Opens a subdirectory; at the descriptor limit, the batch waiting for its flush gives
  // back the descriptors it holds and the open is tried once more.
  int Ouvrir(TRepertoire& rep, const TRepertoire& parent, const std::string& nom) {
    int err = fs_.OuvrirSous(rep, parent, nom);
    if (TropDeDescripteurs(err)) {
      publication_.Tout();
      err = fs_.OuvrirSous(rep, parent, nom);
    }
    return err;
  }

  // The entries of `rep`: those the workers listed ahead (`l`) when they are of the very
  // directory `rep` is open on, else listed now.
  int Entrees(const TRepertoire& rep, std::unique_ptr<TListage>& l, TListeEntrees& entrees) {
    if (int err = 0; PrendreListage(l, rep, entrees, err)) return err;
    for (int essai = 0;; ++essai) {
      TListage ici(ouvriers_, fs_, rep);
      TListage::Resultat& r = ici.Attendre();
      const int err = r.errOuverture != 0 ? r.errOuverture : r.errListe;
      if (essai == 0 && TropDeDescripteurs(err)) {
        publication_.Tout();
        continue;
      }
      entrees = std::move(r.entrees);
      return err;
    }
  }

  // Lists, plans and acts on one level, then returns it for its subdirectories to be
  // entered; null when the level ends here (unreadable, or the walk is stopped).
  std::unique_ptr<TNiveau> Entrer(TRepertoire srcRep, int errSrc, TRepertoire dstRep, int errDst,
                                  std::unique_ptr<TListage> lsrc, std::unique_ptr<TListage> ldst,
                                  bool racine) {
    const std::string& src = cheminSrc_;
    const std::string& dst = cheminDst_;
    TListeEntrees cible;
    if (errDst == 0) errDst = Entrees(dstRep, ldst, cible);
    if (errDst != 0) {
      Signaler("Erreur en lisant le répertoire " + dst);
      // A comparison told to say what a synchronisation would make walks on in the source
      // of a directory missing from the destination, reporting no more: everything in it
      // is to be created.
      if (!comparer_ || errDst != ENOENT || racine || !changements_.Dit()) return nullptr;
      fantome_ = true;
    }
    // A file system mounted inside the destination keeps its own archive at its root.
    const bool montage = !racine && platform::EstRacineMontage(dstRep);
    if (montage && !comparer_) archive_.AjouterMontage(dstRep, dst);
    etat_.RepertoireCourant = src;  // for the window's progress display
    if (PointDeControle()) return nullptr;
    // The source is read whole before anything is decided: a source that cannot be read
    // completely must not make its destination counterparts look surplus.
    TListeEntrees entrees;
    if (errSrc == 0) errSrc = Entrees(srcRep, lsrc, entrees);
    if (errSrc != 0) {
      Signaler("Erreur " + TexteSystemeSeul(errSrc) + " " + src);
      return nullptr;
    }
    // A patterns file that cannot be read stops the pair here: what it would keep or leave
    // out is unknown.
    bool motifsIci = false;
    for (size_t i = 0; i < entrees.size() && !racine && !motifsIci; ++i) {
      motifsIci = entrees.NomVue(i) == kNomFichierExclusions;
    }
    if (motifsIci) {
      if (!ChargerMotifs(srcRep, src, Relatif())) {
        arret_ = true;
        return nullptr;
      }
    }
    if (!fantome_) props_ = proprietes_.Pour(dstRep, cible, !comparer_);
    options_.GarderDroits = !props_.NomsWindows;
    options_.AttributsEtendus = !props_.SansAttributsEtendus;
    if (CrochetAvantAction) CrochetAvantAction(dst);

    TReglesNiveau regles;
    regles.Comparer = comparer_;
    regles.ReplieCasse = props_.ReplieCasse;
    regles.DeuxSecondes = props_.DeuxSecondes;
    regles.GarderDroits = options_.GarderDroits;
    regles.RacineArchive = racine || montage;
    if (options_.AttributsEtendus) {
      regles.MemesAttributsEtendus = [&](const std::string& a, const std::string& b) {
        return attributs_.Memes(srcRep, a, dstRep, b);
      };
    }
    TExclu motifs;
    if (!exclusions_.Vide()) {
      motifs = [this, relatif = Relatif()](std::string_view nom, bool repertoire) {
        cheminExclu_.assign(relatif);
        if (!relatif.empty()) cheminExclu_ += '/';
        cheminExclu_ += nom;
        return exclusions_.Exclu(cheminExclu_, repertoire);
      };
    }
    // Tagged caches are found here, before the plan, which stays without disk.
    if (etat_.IgnorerCaches) motifs = AvecCaches(fs_, srcRep, entrees, std::move(motifs));
    regles.Exclu = std::move(motifs);
    TPlanNiveau plan;
    Planifier(
        entrees, cible, regles,
        [&](const std::string& a, const std::string& b) {
          std::string ca, cb;
          return fs_.LireLien(srcRep, a, ca) == 0 && fs_.LireLien(dstRep, b, cb) == 0 && ca == cb;
        },
        plan);
    for (const auto& [repertoire, nom] : plan.tropLongs) {
      Signaler((repertoire ? "Nom de répertoire trop long " : "Nom de fichier trop long ") + nom);
    }
    for (const std::string& nom : plan.reservesSource) {
      Signaler("Fichier non copié, son nom est réservé à l'archive de la destination : " +
               Joindre(src, nom));
    }

    auto n = std::make_unique<TNiveau>();
    n->fantome = fantome_;
    n->src = std::move(srcRep);
    n->dst = std::move(dstRep);
    n->props = props_;
    const std::vector<Decision>& decisions = plan.decisions;
    if (ouvriers_.Nombre() > 0) {
      n->avance = std::make_unique<TAvance>(ouvriers_, fs_, n->src, n->dst, enCours_,
                                            budget_.listagesAvance, budgetAvance_);
      for (size_t i = 0; i < entrees.size(); ++i) {
        const Decision& d = decisions[i];
        if (d.quoi == Quoi::CreerRep || (d.quoi == Quoi::Descendre && d.manquant)) {
          n->avance->Ajouter(i, entrees.Nom(i), {});
        } else if (d.quoi == Quoi::Descendre) {
          n->avance->Ajouter(i, entrees.Nom(i), plan.NomDst(d, entrees.NomVue(i)));
        }
      }
      n->avance->Lancer();
    }
    if (!comparer_) {
      SupprimerSurplus(n->dst, dst, plan);
      if (etat_.Abandon) return nullptr;
    }
    publication_.NouveauNiveau();
    {
      TCopiesAvance copies(ouvriers_, fs_, n->src, n->dst, options_, budget_.copiesAvance, entrees);
      if (!comparer_ && ouvriers_.Nombre() > 0 && n->dst.Inscriptible()) {
        for (size_t i = 0; i < entrees.size(); ++i) {
          const Decision& d = decisions[i];
          // A file with several names may be linked rather than copied: never ahead.
          if (d.quoi == Quoi::Copier && !d.renommer && entrees.Genre(i) == GenreEntree::Fichier &&
              !entrees.Description(i).PlusieursNoms &&
              (!props_.NomsWindows || NomCorrect(entrees.Nom(i)))) {
            copies.Ajouter(i);
          }
        }
        copies.Lancer();
      }
      copiesAvance_ = &copies;
      peripheriqueSrc_ = n->src.Peripherique();
      for (size_t i = 0; i < entrees.size(); ++i) {
        const Decision& d = decisions[i];
        Agir(n->src, n->dst, src, dst, i, entrees.Entree(i), d, plan.NomDst(d, entrees.NomVue(i)),
             n->descentes);
        if (PointDeControle()) {
          copiesAvance_ = nullptr;
          return nullptr;
        }
      }
      copiesAvance_ = nullptr;
    }
    n->enAttenteIci = publication_.EnAttenteIci();
    publication_.NouveauNiveau();
    entrees = {};
    if (PointDeControle()) return nullptr;
    if (comparer_) SignalerSurplus(n->dst, dst, plan);
    return n;
  }

  // Deletes what stands in the way before anything is copied: a rename over a large file on
  // a nearly full disk needs the room of the surplus.
  void SupprimerSurplus(const TRepertoire& dstRep, const std::string& dst,
                        const TPlanNiveau& plan) {
    if (!plan.cede.empty() || !plan.fichiersEnTrop.empty() || !plan.repertoiresEnTrop.empty() ||
        !plan.temporaires.empty()) {
      modifie_ = true;
    }
    // What an interrupted run left is no version of anything: deleted, not kept.
    for (const std::string& nom : plan.temporaires) {
      if (fs_.SupprimerFichier(dstRep, nom) != 0) {
        Signaler("Impossible de supprimer le fichier " + Joindre(dst, nom));
      }
    }
    for (const std::string& nom : plan.cede) SupprimerFichier(dstRep, dst, nom);
    for (const std::string& nom : plan.fichiersEnTrop) {
      if (Ecoute() && !Choisir(Cible(Changement(TypeAction::Suppression, false, Joindre(dst, nom)),
                                     dstRep, nom))) {
        continue;
      }
      if (!SupprimerFichier(dstRep, dst, nom)) {
        Signaler("Impossible de supprimer le fichier " + Joindre(dst, nom));
      }
    }
    for (const std::string& nom : plan.repertoiresEnTrop) {
      if (Ecoute() && !Choisir(Cible(Changement(TypeAction::Suppression, true, Joindre(dst, nom)),
                                     dstRep, nom))) {
        continue;
      }
      if (SupprimerRepertoire(dstRep, dst, nom) != 0) {
        Signaler("Impossible de supprimer le répertoire " + Joindre(dst, nom));
      }
      if (PointDeControle()) break;
    }
  }

  void SignalerSurplus(const TRepertoire& dstRep, const std::string& dst,
                       const TPlanNiveau& plan) {
    for (const std::string& nom : plan.fichiersEnTrop) {
      Signaler(Joindre(dst, nom) + " ==> Fichier en trop.");
      if (changements_.Dit())
        Dire(Cible(Changement(TypeAction::Suppression, false, Joindre(dst, nom)), dstRep, nom));
    }
    for (const std::string& nom : plan.repertoiresEnTrop) {
      Signaler(Joindre(dst, nom) + " ==> Répertoire en trop.");
      if (changements_.Dit())
        Dire(Cible(Changement(TypeAction::Suppression, true, Joindre(dst, nom)), dstRep, nom));
    }
  }

  void Agir(const TRepertoire& srcRep, const TRepertoire& dstRep, const std::string& src,
            const std::string& dst, size_t indice, const EntreeRepertoire& e, const Decision& d,
            std::string nomDst, TSousRepertoires& descentes) {
    const bool repertoire = e.Genre == GenreEntree::Repertoire;
    if (e.AttributsEtendus && !options_.AttributsEtendus) attributs_.NonGardes();
    if (d.quoi == Quoi::Collision) {
      Signaler(
          std::string(repertoire ? "Répertoire" : "Fichier") +
          " non copié, son nom ne diffère que par la casse d'un autre : " + Joindre(src, e.Nom));
      return;
    }
    if (comparer_ && d.renommer) {
      Signaler(Joindre(dst, nomDst) + " ==> nom différent du fichier source : " + e.Nom);
    }
    if (!comparer_ && d.renommer) {
      modifie_ = true;
      // A case-only rename on a case-folding destination.
      if (fs_.Renommer(dstRep, nomDst, e.Nom) == 0) {
        nomDst = e.Nom;
      } else {
        Signaler("Impossible de renommer " + Joindre(dst, nomDst) + " en " + e.Nom);
      }
    }
    if (!comparer_ && e.PlusieursNoms && e.Genre == GenreEntree::Fichier &&
        LierAuGroupe(dstRep, e, d, nomDst, src, dst)) {
      return;
    }
    if (d.quoi == Quoi::Rien) {
      ++etat_.NbIdentiques;
      return;
    }
    const std::string chemin = Joindre(dst, nomDst);
    switch (d.quoi) {
      case Quoi::Attributs: {
        ++etat_.NbIdentiques;
        const TAction a =
            Cible(Changement(TypeAction::Attributs, false, chemin, &e), dstRep, nomDst);
        if (comparer_) {
          Signaler(chemin + " ==> attributs différents du fichier source.");
          Dire(a);
          return;
        }
        if (!Choisir(a)) return;
        modifie_ = true;
        platform::EntreeRepertoire listee;  // the destination entry the plan decided on
        listee.Mode = e.Mode;                // of the same kind as the source's
        listee.Inode = d.inodeDst;
        if (fs_.AppliquerAttributs(dstRep, nomDst, e, listee, options_) != 0 ||
            (options_.AttributsEtendus && e.Genre == GenreEntree::Fichier &&
             attributs_.Donner(srcRep, e.Nom, dstRep, nomDst, listee) != 0)) {
          Signaler("Impossible de modifier les attributs de " + chemin);
        } else {
          Dire(a);
        }
        return;
      }
      case Quoi::Copier: {
        TAction a = Changement(d.manquant ? TypeAction::Creation : TypeAction::Remplacement, false,
                               chemin, &e, d.cibleRecente);
        if (!d.manquant) a = Cible(std::move(a), dstRep, nomDst);
        if (comparer_) {
          Signaler(chemin +
                   (d.manquant ? " ==> Fichier inexistant" : " ==> diffère du fichier source."));
          Dire(a);
        } else if (Choisir(a)) {
          CopierFichier(srcRep, dstRep, indice, e, nomDst, Joindre(src, e.Nom), chemin, !d.manquant);
        }
        return;
      }
      case Quoi::CreerRep: {
        const TAction a = Changement(TypeAction::Creation, true, chemin);
        if (!Choisir(a)) return;  // nor anything of its content
        modifie_ = true;
        if (fs_.CreerRepertoire(dstRep, nomDst) != 0) {
          Signaler("Impossible de créer " + chemin);
        } else {
          Dire(a);
        }
        break;
      }
      case Quoi::Descendre:
        if (d.manquant) {
          Signaler(chemin + " ==> Répertoire inexistant");
          Dire(Changement(TypeAction::Creation, true, chemin));
        }
        break;
      default:
        return;
    }
    descentes.push_back({indice, e.Nom, nomDst});
  }

  // A name of a file with several names, made a link to the first one mirrored in this run
  // (engine/LiensDurs.h) in place of a copy, or of a separate copy an earlier run left (not
  // in a run that follows a preview, which did not show it). False: mirrored as any file.
  bool LierAuGroupe(const TRepertoire& dstRep, const EntreeRepertoire& e, const Decision& d,
                    const std::string& nomDst, const std::string& src, const std::string& dst) {
    platform::CopieEnAttente lien{{}, nomDst};
    if (!liens_.Lien(racine_, dstRep, RelatifDst(), peripheriqueSrc_, e.Inode,
                     d.quoi == Quoi::Copier, d.inodeDst, !etat_.SurChoix, options_.GarderDroits,
                     lien)) {
      return false;
    }
    const std::string chemin = Joindre(dst, nomDst);
    const TypeAction type = d.manquant ? TypeAction::Creation : TypeAction::Remplacement;
    if (!Choisir(Changement(type, false, chemin, &e, d.cibleRecente))) {
      fs_.Abandonner(dstRep, lien);
    } else {
      publication_.Ajouter(dstRep, std::move(lien), Joindre(src, e.Nom), chemin, e.Taille,
                           !d.manquant);
    }
    return true;
  }

  static bool Plein(int err) { return err == ENOSPC || err == EDQUOT; }

  // Writes the copy of the source entry `e` under a temporary name; it takes the name
  // `nom` with its batch.
  void CopierFichier(const TRepertoire& srcRep, const TRepertoire& dstRep, size_t indice,
                     const EntreeRepertoire& e, const std::string& nom, const std::string& source,
                     const std::string& destination, bool remplace) {
    if (props_.NomsWindows && !NomCorrect(e.Nom)) {
      Signaler("Fichier non copié, son nom n'est pas correct : " + source);
      return;
    }
    platform::CopieEnAttente copie{{}, nom};
    int err = 0;
    if (copiesAvance_ == nullptr || !copiesAvance_->Prendre(indice, err, copie)) {
      err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options_, copie);
    }
    if (Plein(err) || TropDeDescripteurs(err)) {
      // The copies written ahead hold room and descriptors: they are removed, and the level
      // goes on one copy at a time. The waiting copies still hold the room of the files
      // they replace: they are published. Then the copy is tried once more.
      bool libere = copiesAvance_ != nullptr && copiesAvance_->Arreter();
      if (!publication_.Vide()) {
        publication_.Tout();
        libere = true;
      }
      if (libere) err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options_, copie);
    }
    // Then the archive gives up its oldest folders, one by one, and at last what this run
    // put in it: the mirror comes first.
    while (Plein(err) && LibererPlace(destination)) {
      err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options_, copie);
    }
    if (err == platform::kPasFichierOrdinaire) {
      Signaler("Fichier non copié, ce n'est pas un fichier ordinaire : " + source);
    } else if (err == platform::kModifiePendantCopie) {
      Signaler("Fichier modifié pendant la copie, non copié : " + source);
    } else if (err != 0) {
      Signaler(LigneErreurCopie(source, destination, err));
    } else {
      if (copie.AttributsNonGardes) attributs_.NonGardes();
      if (e.PlusieursNoms) {
        liens_.RetenirCopie(dstRep, peripheriqueSrc_, e.Inode, RelatifDst(), copie);
      }
      etat_.OctetsCopies += e.Taille;  // for the window's progress display
      publication_.Ajouter(dstRep, std::move(copie), source, destination, e.Taille, remplace);
    }
  }

  // Room for the mirror, taken from the archive of the file system holding `chemin`: each
  // entry this run archived and now lets go is named, since its old version is lost.
  bool LibererPlace(const std::string& chemin) override {
    return archive_.LibererPlace(chemin, [&](const std::string& perdu) {
      Signaler("Place insuffisante : l'ancienne version de " + perdu +
               " n'est pas conservée dans l'archive");
    });
  }

  void CopiePubliee(const std::string& destination, int64_t octets, bool remplace) override {
    ++etat_.NbCopies;
    modifie_ = true;
    if (!changements_.Dit()) return;
    TAction a =
        Changement(remplace ? TypeAction::Remplacement : TypeAction::Creation, false, destination);
    a.octets = octets;
    Dire(changements_.Archivee(std::move(a)));
  }

  TAction Changement(TypeAction type, bool repertoire, const std::string& chemin,
                     const EntreeRepertoire* e = nullptr, bool cibleRecente = false) const {
    return changements_.Changement(type, repertoire, chemin, e, cibleRecente);
  }
  void Dire(const TAction& a) const { changements_.Dire(a); }
  bool Ecoute() const { return changements_.Ecoute(); }
  TAction Cible(TAction a, const TRepertoire& dstRep, const std::string& nom) const {
    return changements_.Cible(std::move(a), fs_, dstRep, nom);
  }
  // In synchronise mode: whether the change `a` is to be made; an entry changed since the
  // preview gets its line.
  bool Choisir(const TAction& a) {
    const TChoix c = changements_.Choisir(a);
    if (c == TChoix::Imprevu) Signaler("Changé depuis l'aperçu, laissé tel quel : " + a.chemin);
    return c == TChoix::Faire;
  }

  // Once its contents are done, a directory takes the mode, owner and time of its source;
  // after the copies into it that still wait, when there are some.
  void FinirRepertoire(const TRepertoire& srcRep, const TRepertoire& dstRep, const std::string& dst,
                       const platform::ProprietesRepertoire& props, bool enAttenteIci) {
    EntreeRepertoire s, d;
    if (fs_.Decrire(srcRep, s) != 0 || fs_.Decrire(dstRep, d) != 0) return;
    // Its extended attributes change no time: given now, whatever still waits in it.
    if (!props.SansAttributsEtendus && attributs_.Accorder(srcRep, dstRep, d, modifie_) != 0) {
      Signaler("Impossible de modifier les attributs de " + dst);
    }
    const bool garder = !props.NomsWindows;
    const int64_t ecart = s.Secondes - d.Secondes;
    const bool date = props.DeuxSecondes
                          ? (ecart < -2 || ecart > 2)
                          : !platform::MemeDateAPrecision(s.Secondes, s.Nanos, d.Secondes, d.Nanos);
    // Renames still to come in it would change its time again.
    if (!enAttenteIci || publication_.Vide()) {
      if (date || AttributsDifferents(s, d, garder)) AppliquerFinition(dstRep, s, dst, garder);
    } else if (!publication_.Differer(dstRep, std::move(s), dst, garder)) {
      Signaler("Impossible de modifier les attributs de " + dst);
    }
  }

  void AppliquerFinition(const TRepertoire& dstRep, const EntreeRepertoire& s,
                         const std::string& dst, bool garder) override {
    platform::OptionsCopie o = options_;
    o.GarderDroits = garder;
    if (fs_.AppliquerAttributsRepertoire(dstRep, s, o) != 0) {
      Signaler("Impossible de modifier les attributs de " + dst);
    } else {
      modifie_ = true;
    }
  }

  // Each deleted file is counted once, here; with the archive on, "deleted" means moved
  // into it.
  bool SupprimerFichier(const TRepertoire& dstRep, const std::string& dst, const std::string& nom) {
    if (archive_.Actif()) {
      if (Archiver(dstRep, nom, Joindre(dst, nom)) != 0) return false;
    } else {
      if (fs_.SupprimerFichier(dstRep, nom) != 0) return false;
      ++etat_.NbSupprimes;
    }
    if (changements_.Dit()) Dire(changements_.Archivee(Changement(TypeAction::Suppression, false, Joindre(dst, nom))));
    return true;
  }

  // A directory and its tree: each non-directory entry of it counts as one deleted file,
  // moved into the archive or deleted.
  int SupprimerRepertoire(const TRepertoire& dstRep, const std::string& dst,
                          const std::string& nom) {
    const int err = archive_.Actif() ? Archiver(dstRep, nom, Joindre(dst, nom))
                                     : fs_.SupprimerArborescence(dstRep, nom, etat_.NbSupprimes);
    if (err == 0 && changements_.Dit()) {
      Dire(changements_.Archivee(Changement(TypeAction::Suppression, true, Joindre(dst, nom))));
    }
    return err;
  }

  int Archiver(const TRepertoire& dstRep, const std::string& nom, const std::string& chemin) {
    int err = archive_.Archiver(dstRep, nom, chemin, etat_.NbSupprimes);
    while (Plein(err) && LibererPlace(chemin)) {
      err = archive_.Archiver(dstRep, nom, chemin, etat_.NbSupprimes);
    }
    return err;
  }

  const bool comparer_;
  bool fantome_ = false;     // the level walked is missing from the destination
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
  bool modifie_ = false;  // something changed since the pair began: syncfs at its end
  TArchive archive_;
  TPublication publication_;  // after the archive, which it uses
  TChangements changements_{etat_, comparer_, archive_};
  TAttributsMiroir attributs_{fs_, etat_};
  TLiensDurs liens_{fs_, etat_};
  uint64_t peripheriqueSrc_ = 0;  // of the source directory of the level acted on
  size_t longueurRacineDst_ = 0;
};

}  // namespace

int TraiterCouple(const std::string& source, const std::string& destination, bool ComparerSeulement,
                  const TSurMessage& SurMessage, const TSurAvancement& SurAvancement,
                  TEtatRun& Etat) {
  Etat.Abandon = false;
  TParcours parcours(ComparerSeulement, SurMessage, SurAvancement, Etat);
  if (Etat.ErreurExclusions != 0) {
    parcours.Signaler(LigneExclusionsIllisibles(Etat.FichierExclusions, Etat.ErreurExclusions));
    return parcours.Nombre();
  }
  if (!VerifierCouple(source, destination,
                      [&](const std::string& texte) { parcours.Signaler(texte); })) {
    return parcours.Nombre();
  }
  if (!ComparerSeulement && SourceVideCibleRemplie(source, destination)) {
    parcours.Signaler("Abandon : le répertoire source " + source +
                      " est vide, le répertoire cible n'est pas vidé");
    return parcours.Nombre();
  }
  parcours.Executer(source, destination);
  return parcours.Nombre();
}

}  // namespace jumelix
