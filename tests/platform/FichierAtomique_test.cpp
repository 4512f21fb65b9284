#include "platform/FichierAtomique.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"
#include "support/TempTree.h"

namespace jumelix::platform {
namespace {

using test::TempTree;

unsigned Mode(const std::string& chemin) {
  struct stat st{};
  EXPECT_EQ(::stat(chemin.c_str(), &st), 0) << chemin;
  return st.st_mode & 07777;
}

TEST(FichierAtomique, WritesOrReplacesWithTheModeGivenWhateverTheUmask) {
  TempTree t;
  const std::string f = t.Chemin("reglages.dat");
  const mode_t ancien = ::umask(0077);
  EXPECT_EQ(EcrireFichierAtomique(f, "un\r\n", 0644), 0);
  ::umask(ancien);
  EXPECT_EQ(TempTree::Lire(f), "un\r\n");
  EXPECT_EQ(Mode(f), 0644u);
  EXPECT_EQ(EcrireFichierAtomique(f, std::string("deux\0trois", 10), 0600), 0);
  EXPECT_EQ(TempTree::Lire(f), std::string("deux\0trois", 10));
  EXPECT_EQ(Mode(f), 0600u);
  EXPECT_EQ(EcrireFichierAtomique(f, "", 0600), 0);
  EXPECT_EQ(TempTree::Lire(f), "");
  EXPECT_EQ(TempTree::Noms(t.Racine()), std::vector<std::string>{"reglages.dat"});
}

TEST(FichierAtomique, AFailureLeavesTheTargetAsItWasAndNoTemporaryFile) {
  TempTree t;
  // The rename fails once the content is written: a directory stands at the target.
  t.Fichier("cible/dedans", "garde");
  EXPECT_EQ(EcrireFichierAtomique(t.Chemin("cible"), "nouveau", 0644), EISDIR);
  EXPECT_EQ(TempTree::Lire(t.Chemin("cible/dedans")), "garde");
  EXPECT_EQ(TempTree::Noms(t.Racine()), std::vector<std::string>{"cible"});
  // No place for the temporary file: nothing is created.
  EXPECT_EQ(EcrireFichierAtomique(t.Chemin("absent/f"), "x", 0644), ENOENT);
  EXPECT_FALSE(TempTree::Existe(t.Chemin("absent")));
}

bool Ouvert(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, ClosesExactlyOnceWhateverHandsItPassesThrough) {
  TempTree t;
  const std::string f = t.Fichier("f", "x");
  UniqueFd a(::open(f.c_str(), O_RDONLY | O_CLOEXEC));
  const int n = a.get();
  ASSERT_TRUE(a.valide());
  UniqueFd b(std::move(a));
  EXPECT_FALSE(a.valide());
  EXPECT_EQ(b.get(), n);
  UniqueFd c;
  c = std::move(b);
  EXPECT_TRUE(Ouvert(n));
  EXPECT_EQ(c.Fermer(), 0);
  EXPECT_FALSE(Ouvert(n));
  EXPECT_EQ(c.Fermer(), 0);  // nothing held: nothing closed twice
  {
    UniqueFd d(::open(f.c_str(), O_RDONLY | O_CLOEXEC));
    const int m = d.get();
    UniqueFd e(::open(f.c_str(), O_RDONLY | O_CLOEXEC));
    const int k = e.get();
    d = std::move(e);  // the one d held is closed, e's now lives in d
    EXPECT_FALSE(Ouvert(m));
    EXPECT_TRUE(Ouvert(k));
    const int libre = d.release();
    EXPECT_TRUE(Ouvert(libre));
    ::close(libre);
  }
}

}  // namespace
}  // namespace jumelix::platform
