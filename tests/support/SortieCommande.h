// What a shell command prints, for the tests that take the system's own tools as the
// oracle (rsync, getfattr, getfacl...). Header only.
#pragma once

#include <cstdio>
#include <string>

namespace jumelix::test {

// Runs `commande` through the shell and puts what it wrote on its standard output in
// `sortie`; true when it could be started and exited with 0.
inline bool LireSortie(const std::string& commande, std::string& sortie) {
  sortie.clear();
  FILE* f = popen(commande.c_str(), "r");
  if (f == nullptr) return false;
  char tampon[4096];
  size_t n;
  while ((n = fread(tampon, 1, sizeof tampon, f)) > 0) sortie.append(tampon, n);
  return pclose(f) == 0;
}

}  // namespace jumelix::test
