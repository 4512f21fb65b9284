#include "engine/Echecs.h"

#include "engine/FichiersMotifs.h"
#include "engine/OutilsParcours.h"
#include "platform/FileSystem.h"
#include "shared/UMessErreurs.h"

namespace jumelix {

std::string TexteEchec(const TEchec& e) {
  using Quoi = TEchec::Quoi;
  switch (e.quoi) {
    case Quoi::LireCible:
      return "Erreur en lisant le répertoire " + e.chemin;
    case Quoi::LireSource:
      return "Erreur " + parcours::TexteSystemeSeul(e.erreur) + " " + e.chemin;
    case Quoi::Creer:
      return "Impossible de créer " + e.chemin;
    case Quoi::Copier:
      if (e.erreur == platform::kPasFichierOrdinaire) {
        return "Fichier non copié, ce n'est pas un fichier ordinaire : " + e.chemin;
      }
      if (e.erreur == platform::kModifiePendantCopie) {
        return "Fichier modifié pendant la copie, non copié : " + e.chemin;
      }
      return "Erreur lors de la copie du fichier " + e.chemin + " vers " + e.autre + ". " +
             TexteErreurSysteme(e.erreur);
    case Quoi::SupprimerFichier:
      return "Impossible de supprimer le fichier " + e.chemin;
    case Quoi::SupprimerRepertoire:
      return "Impossible de supprimer le répertoire " + e.chemin;
    case Quoi::Renommer:
      return "Impossible de renommer " + e.chemin + " en " + e.autre;
    case Quoi::Attributs:
      return "Impossible de modifier les attributs de " + e.chemin;
    case Quoi::EcrireSurDisque:
      return "Erreur lors de l'écriture sur disque de " + e.chemin + " " +
             TexteErreurSysteme(e.erreur);
    case Quoi::LireMotifs:
      return LigneExclusionsIllisibles(e.chemin, e.erreur);
  }
  return e.chemin;
}

}  // namespace jumelix
