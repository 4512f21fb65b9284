// Benchmark driver: runs the synchronisation engine on one pair, with no display, and
// prints the number of report lines and the run-wide counters on one line of standard
// output, so that bench/run.sh can time the walk alone and check what it did.
// Usage: jumelix_bench compare|sync SOURCE DESTINATION [-v]
//   -v also writes every report line to standard error.
// JUMELIX_OUVRIERS=n in the environment sets the number of the engine's workers (0: none),
// to measure its effect.
// Exit status: 0 when the walk ran (whatever it found), 2 for a usage error.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/Ouvriers.h"
#include "engine/UDelta.h"

namespace {

int Usage() {
  std::fputs("Usage : jumelix_bench compare|sync SOURCE DESTINATION [-v]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) return Usage();
  bool comparer;
  if (std::strcmp(argv[1], "compare") == 0) {
    comparer = true;
  } else if (std::strcmp(argv[1], "sync") == 0) {
    comparer = false;
  } else {
    return Usage();
  }
  bool bavard = false;
  if (argc == 5) {
    if (std::strcmp(argv[4], "-v") != 0) return Usage();
    bavard = true;
  }

  if (const char* n = std::getenv("JUMELIX_OUVRIERS")) jumelix::DefinirNombreOuvriers(std::atoi(n));
  jumelix::TEtatRun etat;  // fresh counters, as the run controller starts a run

  long lignes = 0;
  const jumelix::TSurMessage surMessage = [&lignes, bavard](const std::string& texte, int) {
    ++lignes;
    if (bavard) std::fprintf(stderr, "%s\n", texte.c_str());
  };
  const int resultat = jumelix::TraiterCouple(argv[2], argv[3], comparer, surMessage, {}, etat);

  std::printf("lignes=%ld resultat=%d copies=%d supprimes=%d identiques=%d\n", lignes, resultat,
              static_cast<int>(etat.NbCopies), static_cast<int>(etat.NbSupprimes),
              static_cast<int>(etat.NbIdentiques));
  return 0;
}
