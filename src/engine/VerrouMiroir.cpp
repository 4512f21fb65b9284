#include "engine/VerrouMiroir.h"

#include <unistd.h>

#include <cerrno>

#include "engine/Archive.h"
#include "platform/Chemins.h"

namespace jumelix {

using platform::EntreeRepertoire;
using platform::TRepertoire;

int TVerrouMiroir::Prendre(const TRepertoire& dst) {
  // A folder found, then removed by the run that held it before its lock was taken here,
  // is no lock: taken again on the folder now in place.
  for (int essai = 0; essai < 3; ++essai) {
    TRepertoire dossier;
    int err = fs_.OuvrirSous(dossier, dst, kNomArchive);
    if (err == ENOENT) {
      err = AvecDateGardee(fs_, dst, [&] { return fs_.CreerRepertoire(dst, kNomArchive); });
      cree_ = err == 0;
      if (err == 0 || err == EEXIST) err = fs_.OuvrirSous(dossier, dst, kNomArchive);
    }
    EntreeRepertoire e, enPlace;
    if (err != 0 || fs_.Decrire(dossier, e) != 0 || e.Uid != geteuid()) return err;
    if ((err = verrou_.Prendre(dossier.fd())) != 0) return err;
    if (fs_.DecrireEntree(dst, kNomArchive, enPlace) == 0 && enPlace.Inode == e.Inode) return 0;
    verrou_.Liberer();
  }
  return 0;
}

void TVerrouMiroir::Defaire(const TRepertoire& dst) {
  if (!cree_ || !dst.Ouvert()) return;
  TRepertoire dossier;
  bool vide = fs_.OuvrirSous(dossier, dst, kNomArchive) == 0;
  if (vide) {
    fs_.Lister(dossier,
               [&](EntreeRepertoire& e) { vide = vide && platform::EstPointOuPointPoint(e.Nom); });
  }
  int32_t n = 0;
  if (vide)
    AvecDateGardee(fs_, dst, [&] { return fs_.SupprimerArborescence(dst, kNomArchive, n); });
}

int AvecDateGardee(platform::TSystemeFichiers& fs, const TRepertoire& dir,
                   const std::function<int()>& op) {
  EntreeRepertoire avant;
  const bool date = fs.Decrire(dir, avant) == 0;
  const int err = op();
  if (err == 0 && date) fs.DaterRepertoire(dir, avant.Secondes, avant.Nanos);
  return err;
}

}  // namespace jumelix
