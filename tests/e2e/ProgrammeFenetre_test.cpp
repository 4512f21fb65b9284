// The program and its window program: a run without window loads no Qt library, and the
// window is started in place of `jumelix` (same process), or refused in French when the
// window program is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "shared/URoutines.h"
#include "support/LancerProgramme.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

namespace fs = std::filesystem;
using test::TempTree;

const std::string kFenetre = fs::path(JUMELIX_BINARY).parent_path().string() + "/jumelix-fenetre";

class ProgrammeFenetreTest : public ::testing::Test {
 protected:
  std::vector<std::string> Environnement(std::vector<std::string> en_plus = {}) {
    en_plus.insert(
        en_plus.end(),
        {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + arbre_.Repertoire("home"),
         "XDG_STATE_HOME=" + arbre_.Chemin("etat"), "XDG_CONFIG_HOME=" + arbre_.Chemin("config")});
    return en_plus;
  }
  TempTree arbre_;
};

// The report goes to a "mailer" that is a script: started by the program in the middle of
// its /S run, it copies its parent's memory map, i.e. what the run has loaded by then.
TEST_F(ProgrammeFenetreTest, ServiceRunMapsNoQtLibrary) {
  arbre_.Fichier("s/f", "f");
  const std::string liste =
      arbre_.Fichier("l.ini", "Répertoire source\r\nRépertoire cible\r\n" + arbre_.Chemin("s") +
                                  "\r\n" + arbre_.Chemin("d") + "\r\n");
  const std::string cartes = arbre_.Chemin("cartes");
  const std::string courrier = arbre_.Fichier(
      "courrier.sh", "#!/bin/sh\ncat >/dev/null\ncp /proc/$PPID/maps '" + cartes + "'\n");
  chmod(courrier.c_str(), 0755);
  arbre_.Fichier("config/jumelix/JumelixConfig.dat",
                 "Addr=admin@example.org\r\nSMTP=\r\nTransport=sendmail\r\nSendmail=" + courrier +
                     "\r\nQdApp=AJ\r\nQdServ=SCF\r\n");

  const test::TResultatProgramme r =
      test::LancerProgramme({"/S", liste}, Environnement(), arbre_.Racine());
  EXPECT_EQ(r.code, 0) << r.erreurs;
  const std::string maps = TempTree::Lire(cartes);
  // The map is the program's own: its executable is in it.
  EXPECT_NE(maps.find(fs::canonical(JUMELIX_BINARY).string()), std::string::npos) << maps;
  for (const std::string& ligne : DecouperLignes(maps)) {
    EXPECT_EQ(ligne.find("libQt"), std::string::npos) << ligne;
  }
}

// With a display, the window program replaces `jumelix` in the same process.
TEST_F(ProgrammeFenetreTest, WindowRunsInPlaceOfTheProgram) {
  if (access(kFenetre.c_str(), X_OK) != 0) GTEST_SKIP() << "construit sans fenêtre";
  // Every program the kernel starts has its loader open /etc/ld.so.cache once its image is
  // in place: each such open is the moment to look at the process's image again.
  const int in = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(in, 0);
  ASSERT_GE(inotify_add_watch(in, "/etc", IN_OPEN), 0);
  const pid_t pid = test::DemarrerProgramme(
      {}, Environnement({"DISPLAY=:99", "QT_QPA_PLATFORM=offscreen"}), arbre_.Racine());
  ASSERT_GT(pid, 0);
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  std::error_code erreur;
  fs::path image = fs::read_symlink(exe, erreur);
  const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (image.filename() != "jumelix-fenetre" && std::chrono::steady_clock::now() < limite) {
    pollfd p{in, POLLIN, 0};
    if (poll(&p, 1, 1000) > 0) {
      char evenements[4096];
      if (read(in, evenements, sizeof evenements) < 0) break;
    }
    image = fs::read_symlink(exe, erreur);
  }
  close(in);
  kill(pid, SIGTERM);
  test::AttendreProgramme(pid, arbre_.Racine());
  EXPECT_EQ(image, fs::canonical(kFenetre));
}

// A copy of `jumelix` alone in a folder has no window program to start: it says so and fails.
TEST_F(ProgrammeFenetreTest, MissingWindowProgramIsRefusedInFrench) {
  if (access(kFenetre.c_str(), X_OK) != 0) GTEST_SKIP() << "construit sans fenêtre";
  const std::string seul = arbre_.Repertoire("seul") + "/jumelix";
  fs::copy_file(JUMELIX_BINARY, seul);
  std::string env;
  for (const std::string& v : Environnement({"DISPLAY=:99"})) env += " '" + v + "'";
  const std::string erreurs = arbre_.Chemin("erreurs");
  const int statut = std::system(("env -i" + env + " '" + seul + "' 2>'" + erreurs + "'").c_str());
  ASSERT_TRUE(WIFEXITED(statut));
  EXPECT_EQ(WEXITSTATUS(statut), 1);
  EXPECT_TRUE(std::regex_match(
      TempTree::Lire(erreurs),
      std::regex("jumelix : la fenêtre ne peut pas être lancée \\(" + arbre_.Chemin("seul") +
                 "/[^ ]*jumelix-fenetre : [^)]+\\) ; pour synchroniser sans fenêtre : jumelix "
                 "/S fichier-liste\n")))
      << TempTree::Lire(erreurs);
}

}  // namespace
}  // namespace jumelix
