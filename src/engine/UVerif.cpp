#include "engine/UVerif.h"

#include "platform/FileSystem.h"
#include "shared/URoutines.h"

namespace jumelix {

namespace {

// The path as the overlap rule sees it: the root "/" becomes the empty text so that
// every absolute path lies inside it.
std::string_view SansSeparateurFinal(std::string_view s) {
  if (!s.empty() && s.back() == '/') s.remove_suffix(1);
  return s;
}

// Equal, or one lies inside the other, comparing ASCII letters without regard to case
// when `sansCasse`.
bool SeRecouvrent(std::string_view s, std::string_view d, bool sansCasse) {
  s = SansSeparateurFinal(s);
  d = SansSeparateurFinal(d);
  auto egaux = [sansCasse](std::string_view a, std::string_view b) {
    return sansCasse ? EgauxSansCasseAscii(a, b) : a == b;
  };
  if (s.size() == d.size()) return egaux(s, d);
  std::string_view court = s.size() < d.size() ? s : d;
  std::string_view longue = s.size() < d.size() ? d : s;
  return longue[court.size()] == '/' && egaux(longue.substr(0, court.size()), court);
}

bool ContientJoker(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

}  // namespace

bool VerifierCouple(const std::string& source, const std::string& destination,
                    const TSignaler& signaler) {
  auto signaler_si = [&](const std::string& texte) {
    if (signaler) signaler(texte);
  };
  if (EstBlanc(source) || EstBlanc(destination)) {
    signaler_si("Nom de répertoire vide");
    return false;
  }
  if (SeRecouvrent(source, destination, true)) {
    if (ContientJoker(source) || ContientJoker(destination)) {
      signaler_si("Caratère non autorisé dans le nom de répertoire");
    } else {
      signaler_si("Répertoires source et destination incompatibles");
    }
    return false;
  }
  // Two different texts may still name the same directory (a link, "..", a relative path,
  // a bind mount).
  const std::string s = platform::CheminCanonique(source);
  const std::string d = platform::CheminCanonique(destination);
  if ((!s.empty() && !d.empty() && SeRecouvrent(s, d, false)) ||
      platform::EstDansRepertoire(source, destination) ||
      platform::EstDansRepertoire(destination, source)) {
    signaler_si("Répertoires source et destination incompatibles");
    return false;
  }
  return true;
}

bool NomCorrect(const std::string& nom) {
  auto reserve = [](std::string_view mot) {
    const std::string m = MinusculesAscii(mot);
    return m == "con" || m == "prn" || m == "aux" || m == "nul";
  };
  const size_t point = nom.find('.');
  if (point == std::string::npos) return !reserve(nom);
  if (point == 3) return !reserve(std::string_view(nom).substr(0, 3));
  return true;
}

}  // namespace jumelix
