#include "platform/VerrouRepertoire.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix::platform {
namespace {

using test::TempTree;

std::string EssaiDansFils(const std::string& chemin, bool nobody = false) {
  auto r = test::ExecuterDansFils(nobody ? test::DevenirNobody : std::function<void()>{}, [&] {
    TVerrouRepertoire v;
    return std::to_string(v.Prendre(chemin));
  });
  return r.value_or("fils en échec");
}

TEST(VerrouRepertoire, OneHolderAtATimeWhateverTheSpellingAndNothingOnDisk) {
  TempTree t;
  const std::string d = t.Repertoire("dest");
  t.Lien("lien", d);
  TVerrouRepertoire a, b;
  ASSERT_EQ(a.Prendre(d), 0);
  EXPECT_TRUE(a.Tenu());
  EXPECT_EQ(b.Prendre(d), EWOULDBLOCK);
  EXPECT_EQ(b.Prendre(d + "/"), EWOULDBLOCK);
  EXPECT_EQ(b.Prendre(t.Chemin("lien")), EWOULDBLOCK);  // the same directory
  EXPECT_FALSE(b.Tenu());
  EXPECT_TRUE(TempTree::Noms(d).empty());  // no lock file anywhere in it
  a.Liberer();
  EXPECT_FALSE(a.Tenu());
  EXPECT_EQ(b.Prendre(t.Chemin("lien")), 0);
  {
    TVerrouRepertoire deplace = std::move(b);
    EXPECT_TRUE(deplace.Tenu());
    EXPECT_FALSE(b.Tenu());
    EXPECT_EQ(a.Prendre(d), EWOULDBLOCK);
  }
  EXPECT_EQ(a.Prendre(d), 0);  // the destructor let go
  // Another directory is another lock.
  EXPECT_EQ(b.Prendre(t.Repertoire("autre")), 0);
}

TEST(VerrouRepertoire, AnotherProcessIsKeptOut) {
  TempTree t;
  const std::string d = t.Repertoire("dest");
  TVerrouRepertoire a;
  ASSERT_EQ(a.Prendre(d), 0);
  EXPECT_EQ(EssaiDansFils(d), std::to_string(EWOULDBLOCK));
  a.Liberer();
  EXPECT_EQ(a.Prendre(d), 0);
}

TEST(VerrouRepertoire, AnotherProcessOfAnotherUserIsKeptOut) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  TempTree t;
  const std::string d = t.Repertoire("dest");
  TVerrouRepertoire a;
  ASSERT_EQ(a.Prendre(d), 0);
  EXPECT_EQ(EssaiDansFils(d), std::to_string(EWOULDBLOCK));
  {
    // A root job holds the destination: a job of an ordinary user who can read it meets
    // the same lock, and the other way round.
    ASSERT_EQ(chmod(t.Racine().c_str(), 0755), 0);
    EXPECT_EQ(EssaiDansFils(d, true), std::to_string(EWOULDBLOCK));
    a.Liberer();
    EXPECT_EQ(EssaiDansFils(d, true), "0");
    const pid_t pid = test::DemarrerFilsQuiTient(test::DevenirNobody, [&] {
      static TVerrouRepertoire v;
      return v.Prendre(d) == 0;
    });
    ASSERT_GT(pid, 0);
    EXPECT_EQ(a.Prendre(d), EWOULDBLOCK);  // held by nobody's process, root waits its turn
    test::Terminer(pid);
  }
  EXPECT_EQ(a.Prendre(d), 0);  // a killed holder leaves nothing behind
}

TEST(VerrouRepertoire, AProgramStartedWhileHoldingDoesNotKeepTheLock) {
  TempTree t;
  const std::string d = t.Repertoire("dest");
  TVerrouRepertoire a;
  ASSERT_EQ(a.Prendre(d), 0);
  // The child's end of this pipe closes on exec: end of file here means the exec is done,
  // and one byte means it failed.
  int tube[2];
  ASSERT_EQ(pipe2(tube, O_CLOEXEC), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(tube[0]);
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    (void)!write(tube[1], "x", 1);
    _exit(127);
  }
  close(tube[1]);
  char c;
  ssize_t n;
  while ((n = read(tube[0], &c, 1)) < 0 && errno == EINTR) {
  }
  close(tube[0]);
  EXPECT_EQ(n, 0) << "exec failed";
  a.Liberer();
  TVerrouRepertoire b;
  EXPECT_EQ(b.Prendre(d), 0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(VerrouRepertoire, FailuresComeBackAsErrno) {
  TempTree t;
  TVerrouRepertoire a;
  EXPECT_EQ(a.Prendre(""), ENOENT);
  EXPECT_EQ(a.Prendre(t.Chemin("absent")), ENOENT);
  EXPECT_EQ(a.Prendre(t.Fichier("fichier", "x")), ENOTDIR);
  EXPECT_EQ(a.Prendre(t.Fifo("tube")), ENOTDIR);  // never opened, so never blocks
  EXPECT_FALSE(a.Tenu());
}

}  // namespace
}  // namespace jumelix::platform
