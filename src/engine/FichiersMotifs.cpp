#include "engine/FichiersMotifs.h"

#include <cerrno>

#include "engine/UDelta.h"
#include "platform/FileSystem.h"
#include "platform/Prive.h"
#include "platform/System.h"
#include "shared/UMessErreurs.h"

namespace jumelix {

std::string LigneExclusionsIllisibles(const std::string& chemin, int err) {
  std::string raison;
  if (err == platform::kPasFichierOrdinaire) {
    raison = "ce n'est pas un fichier ordinaire";
  } else if (err == platform::kNonPrive) {
    raison =
        "lui ou son répertoire appartient à un autre utilisateur ou est modifiable par d'autres";
  } else {
    raison = TexteErreurSysteme(err);
  }
  return "Abandon : fichier d'exclusions illisible, le couple n'est pas traité : " + chemin + " " +
         raison;
}

std::string CheminExclusionsGlobales() {
  const auto repertoire = platform::RepertoireXdg("XDG_CONFIG_HOME", ".config");
  return repertoire ? *repertoire + "/jumelix/exclusions" : std::string();
}

void ChargerExclusionsGlobales(const std::string& chemin, TReglagesRun& Etat) {
  Etat.ExclusionsGlobales = {};
  Etat.FichierExclusions = chemin;
  Etat.ErreurExclusions = 0;
  if (chemin.empty()) return;
  std::string texte;
  platform::TRefusPrive refus;
  const int err = platform::LireFichierPrive(chemin, texte, refus);
  if (err == 0) {
    Etat.ExclusionsGlobales = TMotifs::Compiler(texte, {});
  } else if (err != ENOENT) {
    Etat.ErreurExclusions = err;
  }
}

}  // namespace jumelix
