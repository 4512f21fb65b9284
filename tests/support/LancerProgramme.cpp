#include "support/LancerProgramme.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempTree.h"

namespace jumelix::test {

pid_t DemarrerProgramme(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& environnement,
                        const std::string& repertoire, const std::function<void()>& preparer) {
  const std::string sortie = repertoire + "/.stdout", erreurs = repertoire + "/.stderr";
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv{const_cast<char*>(JUMELIX_BINARY)}, envp;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : environnement) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int o = open(sortie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(erreurs.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(repertoire.c_str()) != 0)
      _exit(126);
    if (preparer) preparer();
    execve(JUMELIX_BINARY, argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

TResultatProgramme AttendreProgramme(pid_t pid, const std::string& repertoire) {
  const std::string sortie = repertoire + "/.stdout", erreurs = repertoire + "/.stderr";
  TResultatProgramme r;
  int statut = 0;
  if (pid > 0 && waitpid(pid, &statut, 0) == pid && WIFEXITED(statut)) r.code = WEXITSTATUS(statut);
  r.sortie = TempTree::Lire(sortie);
  r.erreurs = TempTree::Lire(erreurs);
  unlink(sortie.c_str());
  unlink(erreurs.c_str());
  return r;
}

}  // namespace jumelix::test
