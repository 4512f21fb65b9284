#include "engine/UDelta.h"

#include <cerrno>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"
#include "engine/ListNomFichRep.h"
#include "engine/UVerif.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/VerrouRepertoire.h"

namespace jumelix {

bool Abandon = false;
int32_t NbCopies = 0;
int32_t NbSupprimes = 0;
int32_t NbIdentiques = 0;

namespace {

using platform::EntreeRepertoire;
using platform::GenreEntree;

// A recorded destination name has at most this many characters.
constexpr size_t kLongueurNomMax = 259;

bool EstPointOuPointPoint(const std::string& n) { return n == "." || n == ".."; }

std::string Joindre(const std::string& dir, const std::string& nom) {
  if (!dir.empty() && dir.back() == '/') return dir + nom;
  return dir + "/" + nom;
}

// The system's text for an error, trimmed like TexteErreurSysteme but left empty when the
// system has no text.
std::string TexteSystemeSeul(int err) {
  std::string t = platform::SystemErrorText(err);
  while (!t.empty() && (static_cast<unsigned char>(t.back()) <= 32 || t.back() == '.')) {
    t.pop_back();
  }
  return t;
}

// One walk: the state shared by every level of one call of TraiterCouple.
class TParcours {
 public:
  TParcours(bool comparerSeulement, const TSurMessage& surMessage,
            const TSurAvancement& surAvancement)
      : comparer_(comparerSeulement), surMessage_(surMessage), surAvancement_(surAvancement) {}

  int Nombre() const { return nombre_; }

  void Signaler(const std::string& texte) {
    ++nombre_;
    if (surMessage_) surMessage_(texte, nombre_);
  }

  // Calls SurAvancement; true when the walk is to stop here.
  bool PointDeControle() {
    if (surAvancement_) surAvancement_(Abandon);
    return Abandon;
  }

  void Executer(const std::string& source, const std::string& destination) {
    if (!platform::EstRepertoire(source)) {
      Signaler(source + " ==> Répertoire source non accessible");
      return;
    }
    if (comparer_) {
      if (!platform::EstRepertoire(destination)) {
        Signaler(destination + " ==> Répertoire destination inexistant");
        return;
      }
    } else if (!platform::EstRepertoire(destination)) {
      if (int err = platform::CreerRepertoires(destination)) {
        Signaler("Abandon : Impossible de créer le répertoire " + destination + " " +
                 TexteErreurSysteme(err));
        return;
      }
    }
    // Synchronise mode only: a compare changes nothing, and may look at a destination
    // while it is being synchronised. The lock is on the destination directory itself, so
    // it is taken once that directory exists; it is held until the walk ends. Where the
    // file system cannot lock (NFS without write access) the walk goes on unlocked rather
    // than not at all.
    if (!comparer_ && verrou_.Prendre(destination) == EWOULDBLOCK) {
      Signaler("Abandon : une autre synchronisation de " + destination + " est en cours");
      return;
    }
    TraiterNiveau(source, destination, true);
  }

 private:
  // A source subdirectory to descend into, and the destination name it goes to.
  struct Descente {
    std::string source;
    std::string destination;
  };

  void TraiterNiveau(const std::string& src, const std::string& dst, bool racine) {
    if (!LireCible(dst, racine)) {
      Signaler("Erreur en lisant le répertoire " + dst);
      return;
    }
    if (PointDeControle()) return;
    // The source is read whole before anything is decided: a source that cannot be read
    // completely must not make its destination counterparts look surplus.
    std::vector<EntreeRepertoire> entrees;
    if (int err = platform::ListerRepertoire(src, racine, entrees)) {
      Signaler("Erreur " + TexteSystemeSeul(err) + " " + src);
      return;
    }
    std::vector<Descente> descentes;
    ParcourirSource(src, dst, entrees, descentes);
    entrees = {};
    if (PointDeControle()) return;
    TraiterSurplus(dst);
    if (Abandon) return;
    for (const Descente& d : descentes) {
      TraiterNiveau(Joindre(src, d.source), Joindre(dst, d.destination), false);
      if (Abandon) break;
    }
  }

  bool LireCible(const std::string& dst, bool racine) {
    rep_.Vider();
    fich_.Vider();
    // Records are made while the directory is read; a too long name is reported only once
    // the whole listing has succeeded, as if it had been read first.
    std::vector<std::pair<bool, std::string>> trop_longs;  // (directory, name)
    const int err = platform::ParcourirRepertoire(dst, racine, [&](EntreeRepertoire& e) {
      if (EstPointOuPointPoint(e.Nom)) return;
      const bool repertoire = e.Genre == GenreEntree::Repertoire;
      if (e.Nom.size() > kLongueurNomMax && NbCaracteres(e.Nom) > kLongueurNomMax) {
        trop_longs.emplace_back(repertoire, e.Nom);
      } else {
        (repertoire ? rep_ : fich_).Ajouter(e);
      }
    });
    if (err != 0) return false;
    for (const auto& [repertoire, nom] : trop_longs) {
      Signaler((repertoire ? "Nom de répertoire trop long " : "Nom de fichier trop long ") + nom);
    }
    return true;
  }

  void ParcourirSource(const std::string& src, const std::string& dst,
                       const std::vector<EntreeRepertoire>& entrees,
                       std::vector<Descente>& descentes) {
    // Names present in the source: on a case-sensitive file system, a destination entry
    // whose exact name is one of them is kept for that entry and never matched by case.
    // The set is made only when a lookup ignoring case first needs it.
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
    // Copies of this level go through one open destination directory.
    platform::TRepertoireCible cible(comparer_ ? std::string() : dst);
    for (const EntreeRepertoire& e : entrees) {
      if (!EstPointOuPointPoint(e.Nom)) {
        if (e.Genre == GenreEntree::Repertoire) {
          descentes.push_back({e.Nom, RepertoireSource(dst, e, reserve)});
        } else {
          FichierSource(src, dst, e, reserve, cible);
        }
      }
      if (PointDeControle()) return;
    }
  }

  // Matches a source subdirectory; returns the destination name the descent goes to.
  std::string RepertoireSource(const std::string& dst, const EntreeRepertoire& e,
                               const TEstReserve& reserve) {
    int i = rep_.Indice(e.Nom, reserve);
    if (i >= 0) {
      std::string nom = rep_[i].Name;
      rep_.Supprimer(i);
      return nom;
    }
    const std::string chemin = Joindre(dst, e.Nom);
    if (comparer_) {
      Signaler(chemin + " ==> Répertoire inexistant");
      return e.Nom;
    }
    int f = fich_.Indice(e.Nom, reserve);
    if (f >= 0) {
      // A file stands where the directory goes; a failed deletion shows as the creation
      // failure below.
      SupprimerFichier(Joindre(dst, fich_[f].Name));
      fich_.Supprimer(f);
    }
    if (platform::CreerRepertoire(chemin) != 0) Signaler("Impossible de créer " + chemin);
    return e.Nom;
  }

  void FichierSource(const std::string& src, const std::string& dst, const EntreeRepertoire& e,
                     const TEstReserve& reserve, platform::TRepertoireCible& repertoire) {
    int i = fich_.Indice(e.Nom, reserve);
    if (i < 0) {
      if (comparer_) {
        Signaler(Joindre(dst, e.Nom) + " ==> Fichier inexistant");
      } else {
        CopierFichier(Joindre(src, e.Nom), repertoire, dst, e.Nom);
      }
      return;
    }
    if (fich_.Identique(i, e.Taille, e.Date, e.Genre)) {
      ++NbIdentiques;
    } else {
      // A replaced file keeps the name it has in the destination.
      if (comparer_) {
        Signaler(Joindre(dst, fich_[i].Name) + " ==> diffère du fichier source.");
      } else {
        CopierFichier(Joindre(src, e.Nom), repertoire, dst, fich_[i].Name);
      }
    }
    fich_.Supprimer(i);
  }

  void TraiterSurplus(const std::string& dst) {
    if (comparer_) {
      for (const TNomFichRep* r : fich_.Elements()) {
        Signaler(Joindre(dst, r->Name) + " ==> Fichier en trop.");
      }
      for (const TNomFichRep* r : rep_.Elements()) {
        Signaler(Joindre(dst, r->Name) + " ==> Répertoire en trop.");
      }
      return;
    }
    for (const TNomFichRep* r : fich_.Elements()) {
      const std::string chemin = Joindre(dst, r->Name);
      if (!SupprimerFichier(chemin)) Signaler("Impossible de supprimer le fichier " + chemin);
    }
    for (const TNomFichRep* r : rep_.Elements()) {
      const std::string chemin = Joindre(dst, r->Name);
      if (platform::SupprimerArborescence(chemin, NbSupprimes) != 0) {
        Signaler("Impossible de supprimer le répertoire " + chemin);
      }
      if (PointDeControle()) break;
    }
    rep_.Vider();
    fich_.Vider();
  }

  // Copies `source` into the destination directory `dst` (held open by `repertoire`) under
  // the name `nom`.
  bool CopierFichier(const std::string& source, platform::TRepertoireCible& repertoire,
                     const std::string& dst, const std::string& nom) {
    if (!NomCorrect(NomFinal(source))) {
      Signaler("Fichier non copié, son nom n'est pas correct : " + source);
      return false;
    }
    int err = repertoire.Copier(source, nom);
    if (err == platform::kPasFichierOrdinaire) {
      Signaler("Fichier non copié, ce n'est pas un fichier ordinaire : " + source);
      return false;
    }
    if (err != 0) {
      Signaler("Erreur lors de la copie du fichier " + source + " vers " + Joindre(dst, nom) +
               ". " + TexteErreurSysteme(err));
      return false;
    }
    ++NbCopies;
    return true;
  }

  static std::string NomFinal(const std::string& chemin) {
    size_t p = chemin.find_last_of('/');
    return p == std::string::npos ? chemin : chemin.substr(p + 1);
  }

  // Each deleted file is counted once, here.
  bool SupprimerFichier(const std::string& chemin) {
    if (platform::SupprimerFichier(chemin) != 0) return false;
    ++NbSupprimes;
    return true;
  }

  const bool comparer_;
  platform::TVerrouRepertoire verrou_;
  const TSurMessage& surMessage_;
  const TSurAvancement& surAvancement_;
  int nombre_ = 0;
  TListNomFichRep rep_;
  TListNomFichRep fich_;
};

// A source that holds nothing while its destination holds something is far more often a
// disk that was not mounted (an empty mount point) than a wish to empty the destination.
// A source that cannot be read counts as holding something (the walk then reports it); a
// destination counts as holding something when an entry could be read before any failure.
// Each side is read only up to its first entry.
bool SourceVideCibleRemplie(const std::string& source, const std::string& destination) {
  bool trouvee = false;
  if (platform::ChercherUneEntree(source, trouvee) != 0 || trouvee) return false;
  platform::ChercherUneEntree(destination, trouvee);
  return trouvee;
}

}  // namespace

int TraiterCouple(const std::string& source, const std::string& destination, bool ComparerSeulement,
                  const TSurMessage& SurMessage, const TSurAvancement& SurAvancement) {
  Abandon = false;
  TParcours parcours(ComparerSeulement, SurMessage, SurAvancement);
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
