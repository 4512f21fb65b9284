// Small helpers shared by the fuzz targets: a private scratch directory for the targets
// that must go through a file, and a check that aborts (so libFuzzer keeps the input) when
// a property of the code under test does not hold. One fuzz process, one thread.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace jumelix::fuzz {

// Created at first use under $TMPDIR (or /tmp), removed with its files at exit.
inline const std::string& Brouillon() {
  static const std::string chemin = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string modele =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/jumelix-fuzz-XXXXXX";
    if (mkdtemp(modele.data()) == nullptr) std::abort();
    static std::string a_effacer = modele;
    std::atexit([] {
      std::string commande = "rm -rf '" + a_effacer + "'";
      if (std::system(commande.c_str()) != 0) {
      }
    });
    return modele;
  }();
  return chemin;
}

// Writes the bytes to the file (replaced), or aborts.
inline void EcrireOctets(const std::string& chemin, std::string_view octets) {
  std::FILE* f = std::fopen(chemin.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!octets.empty() && std::fwrite(octets.data(), 1, octets.size(), f) != octets.size())
    std::abort();
  if (std::fclose(f) != 0) std::abort();
}

#define JUMELIX_FUZZ_VERIFIER(condition)                                                    \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

}  // namespace jumelix::fuzz
