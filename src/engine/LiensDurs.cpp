#include "engine/LiensDurs.h"

#include <cerrno>
#include <utility>

namespace jumelix {

const TLiensDurs::Groupe* TLiensDurs::Trouver(uint64_t peripherique, uint64_t inode) const {
  if (groupes_.empty()) return nullptr;
  auto it = groupes_.find({peripherique, inode});
  return it == groupes_.end() ? nullptr : &it->second;
}

void TLiensDurs::Retenir(uint64_t peripherique, uint64_t inode, Groupe g) {
  groupes_.insert_or_assign({peripherique, inode}, std::move(g));
}

void TLiensDurs::RetenirCopie(const platform::TRepertoire& dst, uint64_t peripherique,
                              uint64_t inode, std::string dossier,
                              const platform::CopieEnAttente& copie) {
  if (Trouver(peripherique, inode) != nullptr) return;
  platform::EntreeRepertoire ecrite;
  if (fs_.DecrireEntree(dst, copie.Temporaire, ecrite) != 0) return;
  Retenir(peripherique, inode, {std::move(dossier), copie.Nom, copie.Temporaire, ecrite.Inode});
}

bool TLiensDurs::Lien(const platform::TRepertoire& racine, const platform::TRepertoire& dst,
                      const std::string& dossier, uint64_t peripherique, uint64_t inode,
                      bool copier, uint64_t inodeDst, bool convertir, bool possible,
                      platform::CopieEnAttente& lien) {
  const Groupe* g = Trouver(peripherique, inode);
  if (g == nullptr) {
    if (!copier) Retenir(peripherique, inode, {dossier, lien.Nom, {}, inodeDst});
    return false;
  }
  if (!copier && (inodeDst == g->inode || !convertir)) return false;
  const int err = possible ? Lier(*g, racine, dst, dossier, lien) : EPERM;
  // Failures that mean this destination can have no hard links.
  const bool refus =
      err == EPERM || err == EOPNOTSUPP || err == EMLINK || err == EXDEV || err == ENOSYS;
  if (refus && !std::exchange(remarque_, true) && etat_.SurRemarque) {
    etat_.SurRemarque(TRemarque{TypeRemarque::LiensDursNonGardes, destination_});
  }
  return err == 0;
}

int TLiensDurs::Lier(const Groupe& g, const platform::TRepertoire& racine,
                     const platform::TRepertoire& dst, const std::string& dossier,
                     platform::CopieEnAttente& attente) {
  // The group's directory: the current one, or found again from the root, one component at
  // a time, never through a link.
  platform::TRepertoire ouvert;
  const platform::TRepertoire* ou = &dst;
  if (g.dossier != dossier) {
    if (int err = fs_.Dupliquer(ouvert, racine)) return err;
    for (size_t debut = 0; debut < g.dossier.size();) {
      size_t fin = g.dossier.find('/', debut);
      if (fin == std::string::npos) fin = g.dossier.size();
      platform::TRepertoire sous;
      if (int err = fs_.OuvrirSous(sous, ouvert, g.dossier.substr(debut, fin - debut))) return err;
      ouvert = std::move(sous);
      debut = fin + 1;
    }
    ou = &ouvert;
  }
  // Under its temporary name while its batch waits, under its final name once published:
  // either way, only the very inode written for it is linked.
  int err = ENOENT;
  if (!g.temporaire.empty()) err = fs_.LierCopie(*ou, g.temporaire, g.inode, dst, attente);
  if (err == ENOENT) err = fs_.LierCopie(*ou, g.nom, g.inode, dst, attente);
  return err;
}

}  // namespace jumelix
