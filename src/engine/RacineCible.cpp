#include "engine/RacineCible.h"

#include <unistd.h>

#include <cerrno>

#include "engine/Archive.h"
#include "engine/OutilsParcours.h"
#include "platform/FileSystem.h"
#include "shared/UMessErreurs.h"

namespace jumelix {

using parcours::Joindre;

std::string CreerRacineCible(platform::TSystemeFichiers& fs, const std::string& destination,
                             platform::TRepertoire& dst) {
  platform::TRepertoire parent;
  const std::string nom = parcours::NomFinal(destination);
  int err = fs.OuvrirChemin(parent, parcours::Parent(destination));
  if (err == ENOENT) {
    return "Abandon : Impossible de créer le répertoire " + destination +
           ", son répertoire parent n'existe pas";
  }
  if (err == 0) err = fs.CreerRepertoire(parent, nom);
  if (err == EEXIST) err = 0;
  if (err == 0) err = fs.OuvrirSous(dst, parent, nom);
  if (err != 0) {
    return "Abandon : Impossible de créer le répertoire " + destination + " " +
           TexteErreurSysteme(err);
  }
  return {};
}

std::string RefusArchive(platform::TSystemeFichiers& fs, const platform::TRepertoire& dst,
                         const std::string& destination) {
  platform::EntreeRepertoire e;
  if (fs.DecrireEntree(dst, kNomArchive, e) != 0) return {};
  if (e.Genre == platform::GenreEntree::Repertoire && e.Uid == geteuid()) return {};
  return "Abandon : " + Joindre(destination, kNomArchive) +
         " n'est pas un répertoire d'archive appartenant à l'utilisateur, la destination " +
         "n'est pas modifiée";
}

bool SourceVideCibleRemplie(const std::string& source, const std::string& destination) {
  bool trouvee = false;
  if (platform::ChercherUneEntree(source, trouvee) != 0 || trouvee) return false;
  platform::ChercherUneEntree(destination, trouvee, kNomArchive);
  return trouvee;
}

}  // namespace jumelix
