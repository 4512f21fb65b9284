// Benchmark driver: runs the synchronisation engine on one pair, with no display, and
// prints the number of report lines and the run-wide counters on one line of standard
// output, so that bench/run.sh can time the walk alone and check what it did.
// Usage: jumelix_bench compare|sync SOURCE DESTINATION [-v] [--archive JOURS]
//                      [--exclusions FICHIER]
//   -v also writes every report line to standard error.
//   --archive JOURS keeps what the walk replaces or deletes in the destination's archive
//   for that many days (0, the default here as in the engine: deleted at once).
//   --exclusions FICHIER reads that file as the global exclusion patterns (none otherwise,
//   whatever the settings directory holds: the bench measures what it names).
// JUMELIX_OUVRIERS=n in the environment sets the number of the engine's workers (0: none),
// to measure its effect. JUMELIX_MARQUES=DIR keeps the pairs' marks there, as the program
// keeps them in the user's state (none otherwise): a nightly run reads the extended
// attributes of the entries changed since the last complete one only.
// Exit status: 0 when the walk ran (whatever it found), 2 for a usage error.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/Ouvriers.h"
#include "engine/UDelta.h"

namespace {

int Usage() {
  std::fputs(
      "Usage : jumelix_bench compare|sync SOURCE DESTINATION [-v] [--archive JOURS] "
      "[--exclusions FICHIER]\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 9) return Usage();
  bool comparer;
  if (std::strcmp(argv[1], "compare") == 0) {
    comparer = true;
  } else if (std::strcmp(argv[1], "sync") == 0) {
    comparer = false;
  } else {
    return Usage();
  }
  bool bavard = false;
  if (const char* n = std::getenv("JUMELIX_OUVRIERS")) jumelix::DefinirNombreOuvriers(std::atoi(n));
  jumelix::TEtatRun etat;  // fresh counters, as the run controller starts a run
  if (const char* m = std::getenv("JUMELIX_MARQUES")) etat.Marques = m;
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "-v") == 0) {
      bavard = true;
    } else if (std::strcmp(argv[i], "--archive") == 0 && i + 1 < argc) {
      char* fin = nullptr;
      const long jours = std::strtol(argv[++i], &fin, 10);
      if (*fin != '\0' || jours < 0 || jours > 36500) return Usage();
      etat.JoursArchive = static_cast<int>(jours);
    } else if (std::strcmp(argv[i], "--exclusions") == 0 && i + 1 < argc) {
      jumelix::ChargerExclusionsGlobales(argv[++i], etat);
      if (etat.ErreurExclusions != 0) {
        std::fprintf(stderr, "Fichier d'exclusions illisible : %s\n", argv[i]);
        return 2;
      }
    } else {
      return Usage();
    }
  }

  long lignes = 0;
  const jumelix::TSurMessage surMessage = [&lignes, bavard](const std::string& texte, int, int) {
    ++lignes;
    if (bavard) std::fprintf(stderr, "%s\n", texte.c_str());
  };
  const int resultat = jumelix::TraiterCouple(argv[2], argv[3], comparer, surMessage, {}, etat);

  std::printf("lignes=%ld resultat=%d copies=%d supprimes=%d identiques=%d\n", lignes, resultat,
              static_cast<int>(etat.NbCopies), static_cast<int>(etat.NbSupprimes),
              static_cast<int>(etat.NbIdentiques));
  return 0;
}
