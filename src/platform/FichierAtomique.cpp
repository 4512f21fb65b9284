#include "platform/FichierAtomique.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/UniqueFd.h"

namespace jumelix::platform {

int EcrireFichierAtomique(const std::string& chemin, std::string_view contenu, unsigned mode) {
  const std::string modele = chemin + ".jumelix-XXXXXX";
  std::vector<char> gabarit(modele.begin(), modele.end());
  gabarit.push_back('\0');
  UniqueFd fd(::mkostemp(gabarit.data(), O_CLOEXEC));
  if (!fd.valide()) return errno;
  const std::string temporaire(gabarit.data());
  auto echec = [&](int err) {
    fd.reset();
    ::unlink(temporaire.c_str());
    return err;
  };
  if (::fchmod(fd.get(), mode) != 0) return echec(errno);
  size_t ecrit = 0;
  while (ecrit < contenu.size()) {
    const ssize_t n = ::write(fd.get(), contenu.data() + ecrit, contenu.size() - ecrit);
    if (n < 0) {
      if (errno == EINTR) continue;
      return echec(errno);
    }
    ecrit += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) return echec(errno);
  if (const int err = fd.Fermer(); err != 0) return echec(err);
  if (::rename(temporaire.c_str(), chemin.c_str()) != 0) return echec(errno);
  // The new name reaches the disk with its directory. The file is already in place and
  // whole, so a failure here is not reported as a failed write.
  const size_t fin_rep = chemin.find_last_of('/');
  const std::string repertoire =
      fin_rep == std::string::npos ? "." : (fin_rep == 0 ? "/" : chemin.substr(0, fin_rep));
  UniqueFd rep(::open(repertoire.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (rep.valide() && ::fsync(rep.get()) != 0) return 0;
  return 0;
}

}  // namespace jumelix::platform
