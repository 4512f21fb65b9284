#include "engine/ProprietesCibles.h"

#include <string>
#include <string_view>
#include <unordered_set>

#include "engine/OutilsParcours.h"

namespace jumelix {

platform::ProprietesRepertoire TProprietesCibles::Pour(const platform::TRepertoire& rep,
                                                       const TListeEntrees& entrees, bool sonder) {
  const uint64_t peripherique = rep.Peripherique();
  if (const auto it = appris_.find(peripherique); it != appris_.end()) return it->second;
  platform::ProprietesRepertoire p = rep.Proprietes();
  if (!p.ReplieIncertain) {
    if (!p.ParRepertoire && peripherique != 0) appris_.emplace(peripherique, p);
    return p;
  }
  std::unordered_set<std::string_view> noms;
  for (size_t i = 0; i < entrees.size(); ++i) noms.insert(entrees.NomVue(i));
  bool vu = false;
  for (size_t i = 0; i < entrees.size(); ++i) {
    const std::string nom = entrees.Nom(i);
    if (parcours::EstPointOuPointPoint(nom) || !parcours::AUneLettre(nom)) continue;
    vu = true;
    const std::string autre = parcours::CasseInversee(nom);
    // Both spellings listed: case-sensitive.
    if (noms.count(autre) == 0) p.ReplieCasse = rep.ExisteEntree(autre);
    break;
  }
  int sonde = -1;  // a probe that could not be made tells nothing for the device
  if (!vu && sonder) p.ReplieCasse = (sonde = rep.SonderCasse()) == 1;
  // A case-folding FUSE file system is one that Windows reads (exFAT, NTFS).
  p.NomsWindows = p.ReplieCasse;
  if ((vu || sonde >= 0) && peripherique != 0) appris_.emplace(peripherique, p);
  return p;
}

}  // namespace jumelix
