#include "engine/UDelta.h"

#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"
#include "engine/Archive.h"
#include "engine/OutilsParcours.h"
#include "engine/ListNomFichRep.h"
#include "engine/Anticipation.h"
#include "engine/Listage.h"
#include "engine/Ouvriers.h"
#include "engine/UVerif.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/VerrouRepertoire.h"

namespace jumelix {

void (*CrochetAvantAction)(const std::string& destination) = nullptr;

namespace {

using platform::EntreeRepertoire;
using platform::GenreEntree;
using platform::TRepertoire;
using namespace parcours;

// A recorded destination name has at most this many characters.
constexpr size_t kLongueurNomMax = 259;
// Copies wait for their final names in batches: the whole batch is written to disk once
// (one syncfs per file system) before its renames, which costs far less than one flush
// per file. A batch ends at this many copies, bytes or directories (each holds a
// descriptor), when the disk is full, or with the pair.
constexpr size_t kLotCopies = 4096;
constexpr int64_t kLotOctets = int64_t{512} << 20;
constexpr size_t kLotRepertoires = 256;
// The other way, one fdatasync per copy, measured slower (bench/README.md).
constexpr bool kSynchroParFichier = false;

// One walk: the state shared by every level of one call of TraiterCouple.
class TParcours {
 public:
  TParcours(bool comparerSeulement, const TSurMessage& surMessage,
            const TSurAvancement& surAvancement, TEtatRun& etat)
      : comparer_(comparerSeulement),
        surMessage_(surMessage),
        surAvancement_(surAvancement),
        etat_(etat),
        archive_(comparerSeulement ? 0 : etat.JoursArchive, etat.DebutRun) {
    options_.SynchroDonnees = kSynchroParFichier;
  }

  ~TParcours() {
    if (lot_ && lot_->flush) ouvriers_.Annuler(lot_->flush);
  }

  int Nombre() const { return nombre_; }

  void Signaler(const std::string& texte) {
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
    if (!platform::EstRepertoire(source)) {
      Signaler(source + " ==> Répertoire source non accessible");
      return;
    }
    TRepertoire src, dst;
    const int err_src = src.OuvrirChemin(source);
    int err_dst = 0;
    if (comparer_) {
      if (!platform::EstRepertoire(destination)) {
        Signaler(destination + " ==> Répertoire destination inexistant");
        return;
      }
      err_dst = dst.OuvrirChemin(destination);
    } else if (!platform::EstRepertoire(destination)) {
      if (!CreerRacine(destination, dst)) return;
    } else {
      err_dst = dst.OuvrirChemin(destination);
    }
    // Synchronise mode only: a compare changes nothing, and may look at a destination
    // while it is being synchronised. The lock is on the destination directory itself, the
    // one just opened, and is held until the walk ends. Where the file system cannot lock
    // (NFS without write access) the walk goes on unlocked rather than not at all.
    if (!comparer_ && dst.Ouvert() && verrou_.Prendre(dst.fd()) == EWOULDBLOCK) {
      Signaler("Abandon : une autre synchronisation de " + destination + " est en cours");
      return;
    }
    racineSrc_ = source;
    racineDst_ = destination;
    if (dst.Ouvert()) {
      archive_.Commencer(dst, destination, [&](const std::string& dossier) {
        Signaler("Impossible de supprimer le répertoire " + dossier);
      });
    }
    TraiterNiveau(src, err_src, dst, err_dst, source, destination, nullptr, nullptr);
    PublierAttente();
    if (modifie_ && dst.Ouvert()) {
      if (int err = platform::Synchroniser(dst)) {
        Signaler("Erreur lors de l'écriture sur disque de " + destination + " " +
                 TexteErreurSysteme(err));
      }
    }
  }

 private:
  // What the walk does with one source entry of a level, decided before anything changes.
  enum class Quoi {
    Rien,       // ".", "..", or an identical entry
    Attributs,  // same content: mode, owner or link time to fix in place
    Copier,     // missing or different
    CreerRep,   // a directory missing from the destination
    Descendre,  // a directory present on both sides
    Collision,  // folds onto the name of another source entry
  };
  struct Decision {
    Quoi quoi = Quoi::Rien;
    std::string nomDst;     // the destination name it goes to
    bool renommer = false;  // nomDst differs from the source name by case only
    bool manquant = false;  // compare mode: nothing of that name in the destination
  };
  struct Descente {
    size_t indice;  // of the source entry in its level
    std::string source;
    std::string destination;
  };
  // A destination directory held open while copies into it, or its own attributes, wait
  // for the batch to be on disk.
  struct RepertoireEnAttente {
    TRepertoire rep;
    uint64_t peripherique = 0;
  };
  using Partage = std::shared_ptr<RepertoireEnAttente>;
  struct Attente {
    Partage dir;
    platform::CopieEnAttente copie;
    std::string source;
    std::string destination;
  };
  struct Finition {
    Partage dir;
    EntreeRepertoire source;
    std::string chemin;
    bool garder = true;
  };
  // A batch closed: its copies and directory attributes wait for its flush.
  struct Lot {
    std::vector<Attente> attente;
    std::vector<Finition> finitions;
    std::vector<std::pair<uint64_t, int>> synchros;  // (device, error) of each flush
    PTache flush;
  };

  // Creates the missing destination root, its last component only.
  bool CreerRacine(const std::string& destination, TRepertoire& dst) {
    TRepertoire parent;
    const std::string nom = NomFinal(destination);
    int err = parent.OuvrirChemin(Parent(destination));
    if (err == ENOENT) {
      // The mount point of a disk that is not there: never fill the disk beneath it.
      Signaler("Abandon : Impossible de créer le répertoire " + destination +
               ", son répertoire parent n'existe pas");
      return false;
    }
    if (err == 0) err = platform::CreerRepertoire(parent, nom);
    if (err == EEXIST) err = 0;
    if (err == 0) err = dst.OuvrirSous(parent, nom);
    if (err != 0) {
      Signaler("Abandon : Impossible de créer le répertoire " + destination + " " +
               TexteErreurSysteme(err));
      return false;
    }
    return true;
  }

  // The entries of `rep`: those the workers listed ahead (`l`) when they are of the very
  // directory `rep` is open on, else listed now.
  int Entrees(const TRepertoire& rep, std::unique_ptr<TListage>& l,
              std::vector<EntreeRepertoire>& entrees) {
    if (l) {
      TListage::Resultat& r = l->Attendre();
      const auto id = rep.Identite();
      const bool meme = r.errOuverture == 0 && id.second != 0 && r.rep.Identite() == id;
      const int err = r.errListe;
      if (meme) entrees = std::move(r.entrees);
      l.reset();
      if (meme) return err;
    }
    TListage ici(ouvriers_, rep);
    TListage::Resultat& r = ici.Attendre();
    entrees = std::move(r.entrees);
    return r.errOuverture != 0 ? r.errOuverture : r.errListe;
  }

  void TraiterNiveau(const TRepertoire& srcRep, int errSrc, const TRepertoire& dstRep, int errDst,
                     const std::string& src, const std::string& dst,
                     std::unique_ptr<TListage> lsrc, std::unique_ptr<TListage> ldst) {
    {
      std::vector<EntreeRepertoire> cible;
      if (errDst == 0) errDst = Entrees(dstRep, ldst, cible);
      if (errDst != 0 || !LireCible(cible)) {
        Signaler("Erreur en lisant le répertoire " + dst);
        return;
      }
    }
    if (dst == racineDst_) OterArchive();
    etat_.RepertoireCourant = src;  // for the window's progress display
    if (PointDeControle()) return;
    // The source is read whole before anything is decided: a source that cannot be read
    // completely must not make its destination counterparts look surplus.
    std::vector<EntreeRepertoire> entrees;
    if (errSrc == 0) errSrc = Entrees(srcRep, lsrc, entrees);
    if (errSrc != 0) {
      Signaler("Erreur " + TexteSystemeSeul(errSrc) + " " + src);
      return;
    }
    if (src == racineSrc_) OterNomArchive(entrees, src);
    Proprietes(dstRep);
    options_.GarderDroits = !props_.NomsWindows;
    if (CrochetAvantAction) CrochetAvantAction(dst);

    std::vector<Decision> decisions;
    cede_.clear();
    Decider(srcRep, dstRep, entrees, decisions);
    TAvance avance(ouvriers_, srcRep, dstRep, enCours_);
    for (size_t i = 0; i < entrees.size(); ++i) {
      const Decision& d = decisions[i];
      if (d.quoi == Quoi::CreerRep || (d.quoi == Quoi::Descendre && d.manquant)) {
        avance.Ajouter(i, entrees[i].Nom, {});
      } else if (d.quoi == Quoi::Descendre) {
        avance.Ajouter(i, entrees[i].Nom, d.nomDst);
      }
    }
    avance.Lancer();
    if (!comparer_) {
      SupprimerSurplus(dstRep, dst);
      if (etat_.Abandon) return;
    }
    std::vector<Descente> descentes;
    partage_.reset();
    {
      TCopiesAvance copies(ouvriers_, srcRep, dstRep, options_);
      if (!comparer_ && ouvriers_.Nombre() > 0 && dstRep.Inscriptible()) {
        for (size_t i = 0; i < entrees.size(); ++i) {
          const Decision& d = decisions[i];
          const EntreeRepertoire& e = entrees[i];
          if (d.quoi == Quoi::Copier && !d.renommer && e.Genre == GenreEntree::Fichier &&
              (!props_.NomsWindows || NomCorrect(e.Nom))) {
            copies.Ajouter(i, e.Nom, e.Taille);
          }
        }
        copies.Lancer();
      }
      copiesAvance_ = &copies;
      for (size_t i = 0; i < entrees.size(); ++i) {
        Agir(srcRep, dstRep, src, dst, i, entrees[i], decisions[i], descentes);
        if (PointDeControle()) {
          copiesAvance_ = nullptr;
          return;
        }
      }
      copiesAvance_ = nullptr;
    }
    const bool enAttenteIci = partage_ != nullptr;
    partage_.reset();
    entrees = {};
    decisions = {};
    if (PointDeControle()) return;
    if (comparer_) SignalerSurplus(dst);
    rep_.Vider();
    fich_.Vider();
    const platform::ProprietesRepertoire props = props_;
    for (const Descente& d : descentes) {
      auto [ls, lc] = avance.Prendre(d.indice);
      TRepertoire s, c;
      const int es = s.OuvrirSous(srcRep, d.source);
      const int ec = c.OuvrirSous(dstRep, d.destination);
      TraiterNiveau(s, es, c, ec, Joindre(src, d.source), Joindre(dst, d.destination),
                    std::move(ls), std::move(lc));
      if (etat_.Abandon) return;
    }
    if (!comparer_) FinirRepertoire(srcRep, dstRep, dst, props, enAttenteIci);
  }

  // The case rules of the destination directory, by its file system or, where that does
  // not tell, by looking up a listed name with its letter case inverted.
  void Proprietes(const TRepertoire& dstRep) {
    props_ = dstRep.Proprietes();
    if (!props_.ReplieIncertain) return;
    bool vu = false;
    for (const TListNomFichRep* l : {&fich_, &rep_}) {
      for (const TNomFichRep* r : l->Elements()) {
        if (vu || !AUneLettre(r->Name)) continue;
        vu = true;
        const std::string autre = CasseInversee(r->Name);
        // Both spellings listed: case-sensitive.
        if (fich_.IndiceExact(autre) < 0 && rep_.IndiceExact(autre) < 0) {
          props_.ReplieCasse = dstRep.ExisteEntree(autre);
        }
      }
    }
    // Nothing to look up: only a synchronisation may write a probe.
    if (!vu && !comparer_) props_.ReplieCasse = dstRep.SonderCasse();
    // A case-folding FUSE file system is one that Windows reads (exFAT, NTFS).
    props_.NomsWindows = props_.ReplieCasse;
  }

  bool LireCible(std::vector<EntreeRepertoire>& entrees) {
    rep_.Vider();
    fich_.Vider();
    std::vector<std::pair<bool, std::string>> trop_longs;  // (directory, name)
    for (EntreeRepertoire& e : entrees) {
      if (EstPointOuPointPoint(e.Nom)) continue;
      const bool repertoire = e.Genre == GenreEntree::Repertoire;
      if (e.Nom.size() > kLongueurNomMax && NbCaracteres(e.Nom) > kLongueurNomMax) {
        trop_longs.emplace_back(repertoire, e.Nom);
      } else {
        (repertoire ? rep_ : fich_).Ajouter(e);
      }
    }
    for (const auto& [repertoire, nom] : trop_longs) {
      Signaler((repertoire ? "Nom de répertoire trop long " : "Nom de fichier trop long ") + nom);
    }
    return true;
  }

  int Chercher(const TListNomFichRep& liste, const std::string& nom, const TEstReserve& reserve) {
    return props_.ReplieCasse ? liste.Indice(nom, reserve) : liste.IndiceExact(nom);
  }

  // Matches every source entry of the level against the destination lists. Nothing is
  // changed or reported here; afterwards the lists hold the surplus.
  void Decider(const TRepertoire& srcRep, const TRepertoire& dstRep,
               const std::vector<EntreeRepertoire>& entrees, std::vector<Decision>& decisions) {
    decisions.assign(entrees.size(), Decision{});
    // On a case-folding destination, source names that fold to one name would land in one
    // entry: only one of them is mirrored, the one already there under its exact name, or
    // else the first in byte order (the same one at every run).
    if (props_.ReplieCasse) {
      std::map<std::string, size_t> elu;  // folded name -> chosen entry
      for (size_t i = 0; i < entrees.size(); ++i) {
        if (EstPointOuPointPoint(entrees[i].Nom)) continue;
        const std::string cle = MinusculesAscii(entrees[i].Nom);
        auto [it, nouveau] = elu.try_emplace(cle, i);
        if (nouveau) continue;
        const std::string& a = entrees[it->second].Nom;
        const std::string& b = entrees[i].Nom;
        auto present = [&](const std::string& n) {
          return fich_.IndiceExact(n) >= 0 || rep_.IndiceExact(n) >= 0;
        };
        const bool b_gagne = present(b) ? !present(a) || b < a : !present(a) && b < a;
        decisions[b_gagne ? it->second : i].quoi = Quoi::Collision;
        if (b_gagne) it->second = i;
      }
    }
    // Names present in the source: a destination entry whose exact name is one of them is
    // kept for that entry and never matched by case. Made when a folded lookup needs it.
    std::unordered_set<std::string_view> noms;
    bool noms_faits = false;
    const TEstReserve reserve = [&](const std::string& nom) {
      if (!noms_faits) {
        noms.reserve(entrees.size());
        for (const EntreeRepertoire& e : entrees) noms.insert(e.Nom);
        noms_faits = true;
      }
      return noms.count(nom) != 0;
    };
    for (size_t k = 0; k < entrees.size(); ++k) {
      const EntreeRepertoire& e = entrees[k];
      Decision& d = decisions[k];
      if (EstPointOuPointPoint(e.Nom) || d.quoi == Quoi::Collision) continue;
      d.nomDst = e.Nom;
      if (e.Genre == GenreEntree::Repertoire) {
        int i = Chercher(rep_, e.Nom, reserve);
        if (i >= 0) {
          d.quoi = Quoi::Descendre;
          d.nomDst = rep_[i].Name;
          rep_.Supprimer(i);
        } else if (comparer_) {
          d.quoi = Quoi::Descendre;
          d.manquant = true;
        } else {
          d.quoi = Quoi::CreerRep;
          int f = Chercher(fich_, e.Nom, reserve);
          if (f >= 0) {
            // A file stands where the directory goes: it gives way, and a failed deletion
            // shows as the creation failure.
            cede_.push_back(fich_[f].Name);
            fich_.Supprimer(f);
          }
        }
        d.renommer = d.nomDst != e.Nom;
        continue;
      }
      int i = Chercher(fich_, e.Nom, reserve);
      if (i < 0) {
        d.quoi = Quoi::Copier;
        d.manquant = true;
        continue;
      }
      const TNomFichRep& r = fich_[i];
      d.nomDst = r.Name;
      d.renommer = d.nomDst != e.Nom;
      bool meme = fich_.Identique(i, e, props_.DeuxSecondes);
      if (meme && e.Genre == GenreEntree::Lien) {
        std::string a, b;
        meme = srcRep.LireLien(e.Nom, a) == 0 && dstRep.LireLien(r.Name, b) == 0 && a == b;
      }
      if (!meme) {
        d.quoi = Quoi::Copier;
      } else if (AttributsDifferents(e, r.Entree, options_.GarderDroits)) {
        d.quoi = Quoi::Attributs;
      }
      fich_.Supprimer(i);
    }
  }

  // Deletes what stands in the way before anything is copied: a rename over a large file on
  // a nearly full disk needs the room of the surplus.
  void SupprimerSurplus(const TRepertoire& dstRep, const std::string& dst) {
    if (!cede_.empty() || fich_.Count() > 0 || rep_.Count() > 0) modifie_ = true;
    for (const std::string& nom : cede_) SupprimerFichier(dstRep, dst, nom);
    for (const TNomFichRep* r : fich_.Elements()) {
      if (!SupprimerFichier(dstRep, dst, r->Name)) {
        Signaler("Impossible de supprimer le fichier " + Joindre(dst, r->Name));
      }
    }
    for (const TNomFichRep* r : rep_.Elements()) {
      if (SupprimerRepertoire(dstRep, dst, r->Name) != 0) {
        Signaler("Impossible de supprimer le répertoire " + Joindre(dst, r->Name));
      }
      if (PointDeControle()) break;
    }
    rep_.Vider();
    fich_.Vider();
  }

  void SignalerSurplus(const std::string& dst) {
    for (const TNomFichRep* r : fich_.Elements()) {
      Signaler(Joindre(dst, r->Name) + " ==> Fichier en trop.");
    }
    for (const TNomFichRep* r : rep_.Elements()) {
      Signaler(Joindre(dst, r->Name) + " ==> Répertoire en trop.");
    }
  }

  void Agir(const TRepertoire& srcRep, const TRepertoire& dstRep, const std::string& src,
            const std::string& dst, size_t indice, const EntreeRepertoire& e, Decision& d,
            std::vector<Descente>& descentes) {
    const bool repertoire = e.Genre == GenreEntree::Repertoire;
    if (d.quoi == Quoi::Collision) {
      Signaler(
          std::string(repertoire ? "Répertoire" : "Fichier") +
          " non copié, son nom ne diffère que par la casse d'un autre : " + Joindre(src, e.Nom));
      return;
    }
    if (comparer_ && d.renommer) {
      Signaler(Joindre(dst, d.nomDst) + " ==> nom différent du fichier source : " + e.Nom);
    }
    if (!comparer_ && d.renommer) {
      modifie_ = true;
      // A case-only rename on a case-folding destination.
      if (platform::Renommer(dstRep, d.nomDst, e.Nom) == 0) {
        d.nomDst = e.Nom;
      } else {
        Signaler("Impossible de renommer " + Joindre(dst, d.nomDst) + " en " + e.Nom);
      }
    }
    if (d.quoi == Quoi::Rien) {
      if (!EstPointOuPointPoint(e.Nom)) ++etat_.NbIdentiques;
      return;
    }
    const std::string chemin = Joindre(dst, d.nomDst);
    switch (d.quoi) {
      case Quoi::Attributs:
        ++etat_.NbIdentiques;
        if (comparer_) {
          Signaler(chemin + " ==> attributs différents du fichier source.");
          return;
        }
        modifie_ = true;
        if (platform::AppliquerAttributs(dstRep, d.nomDst, e, options_) != 0) {
          Signaler("Impossible de modifier les attributs de " + chemin);
        }
        return;
      case Quoi::Copier:
        if (comparer_) {
          Signaler(chemin +
                   (d.manquant ? " ==> Fichier inexistant" : " ==> diffère du fichier source."));
        } else {
          CopierFichier(srcRep, dstRep, indice, e, d.nomDst, Joindre(src, e.Nom), chemin);
        }
        return;
      case Quoi::CreerRep:
        modifie_ = true;
        if (platform::CreerRepertoire(dstRep, d.nomDst) != 0)
          Signaler("Impossible de créer " + chemin);
        break;
      case Quoi::Descendre:
        if (d.manquant) Signaler(chemin + " ==> Répertoire inexistant");
        break;
      default:
        return;
    }
    descentes.push_back({indice, e.Nom, d.nomDst});
  }

  // Writes the copy of the source entry `e` under a temporary name; it takes the name
  // `nom` with its batch.
  void CopierFichier(const TRepertoire& srcRep, const TRepertoire& dstRep, size_t indice,
                     const EntreeRepertoire& e, const std::string& nom, const std::string& source,
                     const std::string& destination) {
    if (props_.NomsWindows && !NomCorrect(e.Nom)) {
      Signaler("Fichier non copié, son nom n'est pas correct : " + source);
      return;
    }
    Attente a{nullptr, {{}, nom}, source, destination};
    int err = 0;
    if (copiesAvance_ == nullptr || !copiesAvance_->Prendre(indice, err, a.copie.Temporaire)) {
      err = platform::EcrireCopie(srcRep, e.Nom, dstRep, options_, a.copie);
    }
    if (err == ENOSPC) {
      // The copies written ahead hold room: they are removed, and the level goes on one
      // copy at a time. The waiting copies still hold the room of the files they replace:
      // they are published. Then the copy is tried once more.
      bool libere = copiesAvance_ != nullptr && copiesAvance_->Arreter();
      if (!attente_.empty() || lot_) {
        PublierAttente();
        libere = true;
      }
      if (libere) err = platform::EcrireCopie(srcRep, e.Nom, dstRep, options_, a.copie);
    }
    // Then the archive gives up its oldest folders, one by one.
    while (err == ENOSPC && archive_.LibererPlace()) {
      err = platform::EcrireCopie(srcRep, e.Nom, dstRep, options_, a.copie);
    }
    if (err == platform::kPasFichierOrdinaire) {
      Signaler("Fichier non copié, ce n'est pas un fichier ordinaire : " + source);
    } else if (err == platform::kModifiePendantCopie) {
      Signaler("Fichier modifié pendant la copie, non copié : " + source);
    } else if (err != 0) {
      ErreurCopie(a, err);
    } else {
      if (!partage_) partage_ = Partager(dstRep);
      if (!partage_) {
        platform::Abandonner(dstRep, a.copie);
        ErreurCopie(a, errno);
        return;
      }
      a.dir = partage_;
      attente_.push_back(std::move(a));
      octetsEnAttente_ += e.Taille;
      etat_.OctetsCopies += e.Taille;  // for the window's progress display
      if (attente_.size() >= kLotCopies || octetsEnAttente_ >= kLotOctets ||
          repertoiresEnAttente_ >= kLotRepertoires) {
        FermerLot();
      }
    }
  }

  // A second descriptor on a destination directory, for what waits for the batch.
  Partage Partager(const TRepertoire& dstRep) {
    auto p = std::make_shared<RepertoireEnAttente>();
    if (p->rep.Dupliquer(dstRep) != 0) return nullptr;
    p->peripherique = p->rep.Peripherique();
    ++repertoiresEnAttente_;
    return p;
  }

  void ErreurCopie(const Attente& a, int err) {
    Signaler("Erreur lors de la copie du fichier " + a.source + " vers " + a.destination + ". " +
             TexteErreurSysteme(err));
  }

  // A full batch goes to disk in the background while the next one fills: a worker
  // flushes it, and it is published when the next one is full, or with the pair. The
  // point where a batch is published does not depend on the workers.
  void FermerLot() {
    PublierLot();
    lot_ = std::make_unique<Lot>();
    lot_->attente.swap(attente_);
    lot_->finitions.swap(finitions_);
    octetsEnAttente_ = 0;
    repertoiresEnAttente_ = 0;
    Lot* l = lot_.get();
    if (!options_.SynchroDonnees) l->flush = ouvriers_.Soumettre([l] { Ecrire(*l); });
  }

  // Writes a batch to disk: one flush per file system.
  static void Ecrire(Lot& l) {
    for (const Attente& a : l.attente) {
      bool fait = false;
      for (const auto& [p, e] : l.synchros) fait = fait || p == a.dir->peripherique;
      if (!fait) l.synchros.emplace_back(a.dir->peripherique, platform::Synchroniser(a.dir->rep));
    }
  }

  // Publishes the batch flushed in the background, if any.
  void PublierLot() {
    if (!lot_) return;
    if (lot_->flush) ouvriers_.Attendre(lot_->flush);
    std::unique_ptr<Lot> l = std::move(lot_);
    Publier(*l);
  }

  // Publishes everything waiting: the batch in the background, then the current one.
  void PublierAttente() {
    PublierLot();
    Lot l;
    l.attente.swap(attente_);
    l.finitions.swap(finitions_);
    octetsEnAttente_ = 0;
    repertoiresEnAttente_ = 0;
    if (!options_.SynchroDonnees) Ecrire(l);
    Publier(l);
  }

  // Gives each copy of a batch written to disk its final name, then each finished
  // directory its attributes.
  void Publier(Lot& lot) {
    for (const Attente& a : lot.attente) {
      int err = 0;
      for (const auto& [p, e] : lot.synchros) {
        if (p == a.dir->peripherique) err = e;
      }
      const int r = err != 0 ? err : archive_.Publier(a.dir->rep, a.copie, a.destination);
      if (r == 0) {
        ++etat_.NbCopies;
        modifie_ = true;
      } else {
        if (err != 0) platform::Abandonner(a.dir->rep, a.copie);
        ErreurCopie(a, r);
      }
    }
    for (const Finition& f : lot.finitions) {
      AppliquerFinition(f.dir->rep, f.source, f.chemin, f.garder);
    }
  }

  // Once its contents are done, a directory takes the mode, owner and time of its source;
  // after the copies into it that still wait, when there are some.
  void FinirRepertoire(const TRepertoire& srcRep, const TRepertoire& dstRep, const std::string& dst,
                       const platform::ProprietesRepertoire& props, bool enAttenteIci) {
    EntreeRepertoire s, d;
    if (srcRep.Decrire(s) != 0 || dstRep.Decrire(d) != 0) return;
    const bool garder = !props.NomsWindows;
    const int64_t ecart = s.Secondes - d.Secondes;
    const bool date =
        props.DeuxSecondes ? (ecart < -2 || ecart > 2) : (ecart != 0 || s.Nanos != d.Nanos);
    // Renames still to come in it would change its time again.
    const bool attendre = enAttenteIci && (!attente_.empty() || lot_);
    if (!attendre) {
      if (date || AttributsDifferents(s, d, garder)) AppliquerFinition(dstRep, s, dst, garder);
      return;
    }
    Partage p = Partager(dstRep);
    if (!p) {
      Signaler("Impossible de modifier les attributs de " + dst);
      return;
    }
    finitions_.push_back({std::move(p), std::move(s), dst, garder});
    if (repertoiresEnAttente_ >= kLotRepertoires) FermerLot();
  }

  void AppliquerFinition(const TRepertoire& dstRep, const EntreeRepertoire& s,
                         const std::string& dst, bool garder) {
    platform::OptionsCopie o = options_;
    o.GarderDroits = garder;
    if (platform::AppliquerAttributsRepertoire(dstRep, s, o) != 0) {
      Signaler("Impossible de modifier les attributs de " + dst);
    } else {
      modifie_ = true;
    }
  }

  // Each deleted file is counted once, here; with the archive on, "deleted" means moved
  // into it.
  bool SupprimerFichier(const TRepertoire& dstRep, const std::string& dst, const std::string& nom) {
    if (archive_.Actif()) {
      return archive_.Archiver(dstRep, nom, Joindre(dst, nom), etat_.NbSupprimes) == 0;
    }
    if (platform::SupprimerFichier(dstRep, nom) != 0) return false;
    ++etat_.NbSupprimes;
    return true;
  }

  // A directory and its tree: each non-directory entry of it counts as one deleted file,
  // moved into the archive or deleted.
  int SupprimerRepertoire(const TRepertoire& dstRep, const std::string& dst,
                          const std::string& nom) {
    if (archive_.Actif()) {
      return archive_.Archiver(dstRep, nom, Joindre(dst, nom), etat_.NbSupprimes);
    }
    return platform::SupprimerArborescence(dstRep, nom, etat_.NbSupprimes);
  }

  // The destination's own archive, at its root, is none of the walk's business.
  void OterArchive() {
    for (TListNomFichRep* l : {&rep_, &fich_}) {
      const int i = l->IndiceExact(kNomArchive);
      if (i >= 0) l->Supprimer(i);
    }
  }

  // A source root entry of the archive's name would land in the destination's archive.
  void OterNomArchive(std::vector<EntreeRepertoire>& entrees, const std::string& src) {
    for (size_t i = 0; i < entrees.size(); ++i) {
      if (entrees[i].Nom != kNomArchive) continue;
      Signaler(std::string(entrees[i].Genre == GenreEntree::Repertoire ? "Répertoire" : "Fichier") +
               " non copié, son nom est réservé à l'archive de la destination : " +
               Joindre(src, entrees[i].Nom));
      entrees.erase(entrees.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }

  TOuvriers ouvriers_{NombreOuvriers()};  // first made, last destroyed
  size_t enCours_ = 0;                    // subdirectories listed ahead, not yet entered
  const bool comparer_;
  platform::TVerrouRepertoire verrou_;
  const TSurMessage& surMessage_;
  const TSurAvancement& surAvancement_;
  TEtatRun& etat_;
  int nombre_ = 0;
  TListNomFichRep rep_;
  TListNomFichRep fich_;
  std::vector<std::string> cede_;  // destination files giving way to source directories
  platform::ProprietesRepertoire props_;
  platform::OptionsCopie options_;
  std::vector<Attente> attente_;
  std::vector<Finition> finitions_;
  std::unique_ptr<Lot> lot_;  // the batch being flushed in the background
  TCopiesAvance* copiesAvance_ = nullptr;  // the current level's copies written ahead
  Partage partage_;  // the current level's destination, once a copy waits there
  int64_t octetsEnAttente_ = 0;
  size_t repertoiresEnAttente_ = 0;
  bool modifie_ = false;  // something changed since the pair began: syncfs at its end
  TArchive archive_;
  std::string racineSrc_, racineDst_;
};

// A source that holds nothing while its destination holds something is far more often a
// disk that was not mounted (an empty mount point) than a wish to empty the destination.
// A source that cannot be read counts as holding something (the walk then reports it); a
// destination counts as holding something when an entry could be read before any failure.
// Each side is read only up to its first entry.
bool SourceVideCibleRemplie(const std::string& source, const std::string& destination) {
  bool trouvee = false;
  if (platform::ChercherUneEntree(source, trouvee) != 0 || trouvee) return false;
  platform::ChercherUneEntree(destination, trouvee, kNomArchive);
  return trouvee;
}

}  // namespace

int TraiterCouple(const std::string& source, const std::string& destination, bool ComparerSeulement,
                  const TSurMessage& SurMessage, const TSurAvancement& SurAvancement,
                  TEtatRun& Etat) {
  Etat.Abandon = false;
  TParcours parcours(ComparerSeulement, SurMessage, SurAvancement, Etat);
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
