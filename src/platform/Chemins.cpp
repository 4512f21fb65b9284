#include "platform/Chemins.h"

namespace jumelix::platform {

std::string Joindre(const std::string& dir, const std::string& nom) {
  if (!dir.empty() && dir.back() == '/') return dir + nom;
  return dir + "/" + nom;
}

std::string Parent(const std::string& chemin) {
  const size_t p = chemin.find_last_of('/');
  if (p == std::string::npos) return ".";
  return p == 0 ? "/" : chemin.substr(0, p);
}

}  // namespace jumelix::platform
