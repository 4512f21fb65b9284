#include "app/ApercuExclusions.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>

#include "app/EtatBureau.h"
#include "app/GrilleLignes.h"
#include "engine/Exclusions.h"
#include "engine/UDelta.h"
#include "platform/Chemins.h"
#include "platform/FichierAtomique.h"
#include "platform/FileSystem.h"
#include "platform/Prive.h"
#include "platform/System.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"

namespace jumelix {
namespace {

using platform::TRepertoire;

// One preview: depth first, one open directory per level, the patterns of each level on
// the stack while it is walked.
class TCompteur {
 public:
  TCompteur(TApercu& apercu, uint64_t limite) : apercu_(apercu), limite_(limite) {}

  void Empiler(TMotifs motifs) { pile_.Empiler(std::move(motifs)); }

  void Niveau(const TRepertoire& rep, const std::string& relatif) {
    // Only the names this walk may still look at are read: a directory of millions of
    // entries stops being listed once the limit is reached.
    std::vector<std::string> noms;
    const int err = rep.LireNoms([&](std::string_view nom, uint64_t) {
      if (platform::EstPointOuPointPoint(nom)) return true;
      if (vues_ + noms.size() >= limite_) return false;
      noms.emplace_back(nom);
      return true;
    });
    if (err == ECANCELED) apercu_.borne = true;
    std::sort(noms.begin(), noms.end());

    const size_t avant = pile_.Taille();
    if (std::binary_search(noms.begin(), noms.end(), kNomFichierExclusions)) {
      const std::string nom(kNomFichierExclusions);
      const std::string chemin = relatif.empty() ? nom : relatif + "/" + nom;
      std::string texte;
      if (rep.LireFichier(nom, texte) == 0) {
        apercu_.fichiersSource.push_back(chemin);
        TMotifs motifs = TMotifs::Compiler(texte, relatif);
        if (!motifs.Vide()) pile_.Empiler(std::move(motifs));
      } else if (apercu_.illisible.empty()) {
        apercu_.illisible = chemin;
      }
    }
    for (const std::string& nom : noms) {
      if (vues_ >= limite_) {  // a subdirectory used up what was left
        apercu_.borne = true;
        break;
      }
      ++vues_;
      platform::EntreeRepertoire e;
      if (rep.DecrireEntree(nom, e) != 0) continue;  // gone since it was read
      const bool repertoire = e.Genre == platform::GenreEntree::Repertoire;
      const std::string chemin = relatif.empty() ? nom : relatif + "/" + nom;
      if (pile_.Exclu(chemin, repertoire)) {
        if (apercu_.exclues++ == 0) apercu_.premiere = chemin;
        continue;
      }
      if (!repertoire) continue;
      TRepertoire sous;
      if (sous.OuvrirSous(rep, nom) == 0) Niveau(sous, chemin);
    }
    if (pile_.Taille() > avant) pile_.Depiler();
  }

 private:
  TApercu& apercu_;
  const uint64_t limite_;
  uint64_t vues_ = 0;
  TExclusions pile_;
};

// 1234567 as "1 234 567", the groups held together by no-break spaces.
std::string Grouper(uint64_t n) { return GrouperMilliers(n, "\xC2\xA0"); }

}  // namespace

TApercu CompterExclusions(const std::string& source, std::string_view motifsGlobaux,
                          uint64_t limite) {
  TApercu apercu;
  TRepertoire racine;
  apercu.erreur = racine.OuvrirChemin(source);
  if (apercu.erreur != 0) return apercu;
  TCompteur compteur(apercu, limite);
  TMotifs globaux = TMotifs::Compiler(motifsGlobaux, {});
  if (!globaux.Vide()) compteur.Empiler(std::move(globaux));
  compteur.Niveau(racine, {});
  return apercu;
}

std::string SourceLigneCourante(const TGrilleLignes& grille) {
  const int ligne = grille.LigneCourante();
  if (ligne < 1 || ligne >= grille.NbLignes()) return {};
  return DevelopperTilde(Trim(grille.Cellule(kColSource, ligne)), platform::RepertoirePersonnel());
}

std::string TexteApercu(const std::string& source, const TApercu& apercu) {
  if (source.empty()) return "Aucun répertoire source sur la ligne en cours";
  if (apercu.erreur == ENOENT) return "Le répertoire source " + source + " n'existe pas";
  if (apercu.erreur != 0) {
    return "Le répertoire source " + source +
           " ne peut être lu : " + TexteErreurSysteme(apercu.erreur);
  }
  std::string texte;
  if (apercu.exclues == 0) {
    texte = apercu.borne
                ? "Aucune entrée laissée de côté parmi les " + Grouper(kLimiteApercu) + " premières"
                : "Aucune entrée laissée de côté";
  } else {
    texte =
        (apercu.borne ? "Au moins " : "") + Grouper(apercu.exclues) +
        (apercu.exclues == 1 ? " entrée laissée de côté : " : " entrées laissées de côté, dont ") +
        apercu.premiere;
  }
  if (!apercu.illisible.empty()) {
    texte += ". Le fichier " + apercu.illisible +
             " ne peut être lu : la synchronisation de ce couple s'arrêtera là";
  }
  return texte;
}

std::string LireMotifsSource(const std::string& source) {
  TRepertoire racine;
  std::string texte;
  if (racine.OuvrirChemin(source) != 0 ||
      racine.LireFichier(std::string(kNomFichierExclusions), texte) != 0) {
    return {};
  }
  return texte;
}

std::string NoteMotifsSource(const std::string& cellule) {
  std::string source = DevelopperTilde(Trim(cellule), platform::RepertoirePersonnel());
  if (source.empty() || source.front() != '/') return {};
  TRepertoire racine;
  const std::string nom(kNomFichierExclusions);
  if (racine.OuvrirChemin(source) != 0 || !racine.ExisteEntree(nom)) return {};
  while (source.size() > 1 && source.back() == '/') source.pop_back();
  return "Motifs d'exclusion propres à cette source : " + (source == "/" ? "" : source) + "/" + nom;
}

std::string CheminFichierExclusions() { return CheminExclusionsGlobales(); }

std::string LireExclusionsGlobales(const std::string& chemin, std::string& texte) {
  texte.clear();
  if (chemin.empty()) return {};
  platform::TRefusPrive refus;
  const int err = platform::LireFichierPrive(chemin, texte, refus);
  if (err == 0 || err == ENOENT) return {};
  texte.clear();
  if (err == platform::kNonPrive) return TexteRefusPrive(refus);
  return "Erreur en lisant le fichier " + chemin + "\n" +
         (err == platform::kPasFichierOrdinaire ? std::string("Ce n'est pas un fichier ordinaire")
                                                : MessageErreurSysteme(err));
}

std::string EnregistrerExclusionsGlobales(const std::string& chemin, std::string_view texte) {
  if (chemin.empty()) {
    return "Erreur en enregistrant les exclusions : aucun répertoire personnel (HOME) utilisable";
  }
  const std::string repertoire = std::filesystem::path(chemin).parent_path().string();
  int err = platform::CreerRepertoiresPrives(repertoire);
  if (const std::string refus = RefusReglages({repertoire}); !refus.empty()) return refus;
  if (err == 0) err = platform::EcrireFichierAtomique(chemin, texte, 0600);
  if (err == 0) return {};
  return "Erreur en enregistrant le fichier " + chemin + "\n" + MessageErreurSysteme(err);
}

}  // namespace jumelix
