#include "engine/AttributsMiroir.h"

namespace jumelix {

bool TAttributsMiroir::Memes(const platform::TRepertoire& src, const std::string& nomSource,
                             const platform::TRepertoire& dst, const std::string& nomCible) {
  platform::TAttributsEtendus a, b;
  return fs_.LireAttributsEtendus(src, nomSource, a) == 0 &&
         fs_.LireAttributsEtendus(dst, nomCible, b) == 0 && a == b;
}

int TAttributsMiroir::Donner(const platform::TRepertoire& src, const std::string& nomSource,
                             const platform::TRepertoire& dst, const std::string& nomCible,
                             const platform::EntreeRepertoire& listee) {
  platform::TAttributsEtendus voulus;
  if (int err = fs_.LireAttributsEtendus(src, nomSource, voulus)) return err;
  bool nonGardes = false;
  const int err = fs_.AppliquerAttributsEtendus(dst, nomCible, voulus, listee, nonGardes);
  if (nonGardes) NonGardes();
  return err;
}

int TAttributsMiroir::Accorder(const platform::TRepertoire& src, const platform::TRepertoire& dst,
                               const platform::EntreeRepertoire& d, bool& change) {
  if (Memes(src, {}, dst, {})) return 0;
  change = true;
  return Donner(src, {}, dst, {}, d);
}

void TAttributsMiroir::NonGardes() {
  if (dit_) return;
  dit_ = true;
  if (etat_.SurRemarque) {
    etat_.SurRemarque(TRemarque{TypeRemarque::AttributsEtendusNonGardes, destination_});
  }
}

}  // namespace jumelix
