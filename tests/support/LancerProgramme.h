// Runs the real `jumelix` binary the way cron or systemd would: exactly the given arguments
// (no shell), an environment holding only what the test passes (so no DISPLAY), a working
// directory of the test's own, standard output and error captured in files there.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace jumelix::test {

struct TResultatProgramme {
  int code = -1;  // exit status; -1 when the program did not exit normally
  std::string sortie;
  std::string erreurs;
};

// Starts the program and returns its pid at once; its output goes to `repertoire`/.stdout
// and .stderr until AttendreProgramme collects them. `preparer`, when given, runs in the
// child just before the program starts: to drop rights or set limits.
pid_t DemarrerProgramme(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environnement,
                        const std::string& repertoire, const std::function<void()>& preparer = {});

// Waits for the program, reads and removes its two output files.
TResultatProgramme AttendreProgramme(pid_t pid, const std::string& repertoire);

inline TResultatProgramme LancerProgramme(const std::vector<std::string>& arguments,
                                          const std::vector<std::string>& environnement,
                                          const std::string& repertoire) {
  return AttendreProgramme(DemarrerProgramme(arguments, environnement, repertoire), repertoire);
}

// The text of a list file in the program's own layout: its two header lines, then each
// path on a line of its own, Windows line ends.
inline std::string ListeFichier(const std::vector<std::string>& chemins) {
  std::string s = "Répertoire source\r\nRépertoire cible\r\n";
  for (const std::string& c : chemins) s += c + "\r\n";
  return s;
}

}  // namespace jumelix::test
