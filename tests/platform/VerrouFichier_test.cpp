#include "platform/VerrouFichier.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix::platform {
namespace {

using test::TempTree;

TEST(CalculerRepertoireVerrous, FollowsTheStateDirectoryRule) {
  struct Cas {
    const char* xdg;
    const char* home;
    const char* attendu;
  };
  const Cas cas[] = {
      {"/etat", "/home/a", "/etat/jumelix/verrous"},
      {"/etat/", "/home/a", "/etat/jumelix/verrous"},
      {nullptr, "/home/a", "/home/a/.local/state/jumelix/verrous"},
      {"", "/home/a/", "/home/a/.local/state/jumelix/verrous"},
      {"relatif", "/home/a", "/home/a/.local/state/jumelix/verrous"},
      {nullptr, "/", "/.local/state/jumelix/verrous"},
      {"/", nullptr, "/jumelix/verrous"},
      {nullptr, nullptr, ""},
      {"relatif", "aussi", ""},
  };
  for (const Cas& c : cas) {
    EXPECT_EQ(CalculerRepertoireVerrous(c.xdg, c.home), c.attendu)
        << (c.xdg ? c.xdg : "(null)") << " " << (c.home ? c.home : "(null)");
  }
}

class Verrou : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* ancien = std::getenv("XDG_STATE_HOME");
    if (ancien != nullptr) ancien_ = ancien, avait_ = true;
    setenv("XDG_STATE_HOME", t.Chemin("etat").c_str(), 1);
    chemin_ = t.Chemin("etat/jumelix/verrous/essai.lock");
  }
  void TearDown() override {
    if (avait_)
      setenv("XDG_STATE_HOME", ancien_.c_str(), 1);
    else
      unsetenv("XDG_STATE_HOME");
  }

  TempTree t;
  std::string chemin_, ancien_;
  bool avait_ = false;
};

TEST_F(Verrou, OneHolderAtATimeAndTheFileGoesWithTheLock) {
  TVerrouFichier a, b;
  ASSERT_EQ(a.Prendre(chemin_), 0);
  EXPECT_TRUE(a.Tenu());
  EXPECT_TRUE(TempTree::Existe(chemin_));
  struct stat st {};
  ASSERT_EQ(stat(t.Chemin("etat/jumelix/verrous").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);  // created private

  EXPECT_EQ(b.Prendre(chemin_), EWOULDBLOCK);
  EXPECT_FALSE(b.Tenu());
  a.Liberer();
  EXPECT_FALSE(a.Tenu());
  EXPECT_FALSE(TempTree::Existe(chemin_));  // no lock file is left behind
  EXPECT_EQ(b.Prendre(chemin_), 0);
  {
    TVerrouFichier deplace = std::move(b);
    EXPECT_TRUE(deplace.Tenu());
    EXPECT_FALSE(b.Tenu());
    EXPECT_EQ(a.Prendre(chemin_), EWOULDBLOCK);
  }
  // The destructor let go.
  EXPECT_EQ(a.Prendre(chemin_), 0);
}

TEST_F(Verrou, AnotherProcessIsKeptOut) {
  TVerrouFichier a;
  ASSERT_EQ(a.Prendre(chemin_), 0);
  auto essai = [&] {
    TVerrouFichier b;
    return std::to_string(b.Prendre(chemin_));
  };
  EXPECT_EQ(test::ExecuterDansFils({}, essai), std::to_string(EWOULDBLOCK));
  a.Liberer();
  EXPECT_EQ(test::ExecuterDansFils({}, essai), "0");
}

TEST_F(Verrou, AProgramStartedWhileHoldingDoesNotKeepTheLock) {
  TVerrouFichier a;
  ASSERT_EQ(a.Prendre(chemin_), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  usleep(100 * 1000);  // let the exec happen
  a.Liberer();
  TVerrouFichier b;
  EXPECT_EQ(b.Prendre(chemin_), 0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST_F(Verrou, FailuresComeBackAsErrno) {
  TVerrouFichier a;
  EXPECT_EQ(a.Prendre(""), ENOENT);
  t.Fichier("bouchon", "un fichier, pas un répertoire");
  EXPECT_EQ(a.Prendre(t.Chemin("bouchon/verrous/x.lock")), ENOTDIR);
  // A link planted at the lock path is not followed.
  const std::string cible = t.Fichier("cible", "intact");
  t.Lien("etat/jumelix/verrous/lien.lock", cible);
  EXPECT_EQ(a.Prendre(t.Chemin("etat/jumelix/verrous/lien.lock")), ELOOP);
  EXPECT_FALSE(a.Tenu());
  EXPECT_EQ(TempTree::Lire(cible), "intact");
}

TEST_F(Verrou, OneLockFilePerRealDestination) {
  const std::string d = t.Repertoire("donnees/d");
  t.Repertoire("donnees/autre");
  t.Lien("raccourci", d);
  const std::string chemin = CheminVerrouDestination(d);
  EXPECT_EQ(chemin.rfind(t.Chemin("etat/jumelix/verrous/"), 0), 0u) << chemin;
  EXPECT_NE(chemin.find("-d.lock"), std::string::npos) << chemin;
  EXPECT_EQ(CheminVerrouDestination(t.Chemin("raccourci")), chemin);
  EXPECT_EQ(CheminVerrouDestination(t.Chemin("donnees/autre/../d")), chemin);
  EXPECT_NE(CheminVerrouDestination(t.Chemin("donnees/autre")), chemin);
  EXPECT_NE(CheminVerrouDestination(t.Chemin("donnees/D")), chemin);

  // A destination that does not exist yet keeps its lock file once created.
  const std::string neuf = t.Chemin("donnees/neuf dir/é");
  const std::string avant = CheminVerrouDestination(neuf);
  t.Repertoire("donnees/neuf dir/é");
  EXPECT_EQ(CheminVerrouDestination(neuf), avant);
  // Odd characters never reach the file name.
  const std::string nom = avant.substr(avant.find_last_of('/') + 1);
  EXPECT_EQ(
      nom.find_first_not_of("0123456789abcdef-_.ABCDEFGHIJKLMNOPQRSTUVWXYZghijklmnopqrstuvwxyz"),
      std::string::npos)
      << nom;
}

TEST_F(Verrou, HomeServesWhenXdgStateHomeIsUnset) {
  unsetenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  const std::string ancien_home = home ? home : "";
  setenv("HOME", t.Chemin("maison").c_str(), 1);
  EXPECT_EQ(RepertoireVerrous(), t.Chemin("maison/.local/state/jumelix/verrous"));
  if (home)
    setenv("HOME", ancien_home.c_str(), 1);
  else
    unsetenv("HOME");
}

}  // namespace
}  // namespace jumelix::platform
