// A root run over a destination that another user can write: what that user swaps in
// between the listing and the actions (the hook below) never lets root change a file
// outside the destination, and the lock of a mirror belongs to those who may change it.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "engine/Archive.h"
#include "engine/UDelta.h"
#include "platform/VerrouRepertoire.h"
#include "support/BilanParcours.h"
#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::Bilan;
using test::TempTree;
using test::Traiter;

const time_t kTAutres = 1678874400;

struct stat LstatAutres(const std::string& c) {
  struct stat st {};
  EXPECT_EQ(lstat(c.c_str(), &st), 0) << c;
  return st;
}

// Replaces the destination entry `nom` by a hard link to `dehors` once the level `quand`
// is listed, as its owner could (protected_hardlinks does not stop a link to a file one
// may write, and does not apply to root's own files at all when it is off).
struct LienDur {
  static inline std::string quand, nom, dehors;
  static void Crochet(const std::string& destination) {
    if (destination != quand) return;
    ASSERT_EQ(unlink(nom.c_str()), 0);
    ASSERT_EQ(link(dehors.c_str(), nom.c_str()), 0);
  }
};

TEST(AutresUtilisateurs, AHardLinkSwappedInBeforeAnAttributeChangeIsLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the source another owner";
  TempTree t;
  const std::string S = t.Repertoire("src"), D = t.Repertoire("dst");
  // Same content and time on both sides: only the owner and mode are to change.
  for (const char* c : {"src/f", "dst/f"}) {
    t.Fichier(c, "contenu");
    t.DateModif(c, kTAutres);
  }
  ASSERT_EQ(chown((S + "/f").c_str(), test::kIdNobody, test::kIdNobody), 0);
  ASSERT_EQ(chmod((S + "/f").c_str(), 0640), 0);
  ASSERT_EQ(chmod((D + "/f").c_str(), 0644), 0);
  const std::string dehors = t.Fichier("dehors", "à root");
  ASSERT_EQ(chmod(dehors.c_str(), 0666), 0);

  LienDur::quand = D;
  LienDur::nom = D + "/f";
  LienDur::dehors = dehors;
  CrochetAvantAction = &LienDur::Crochet;
  const Bilan b = Traiter(S, D, false);
  CrochetAvantAction = nullptr;

  EXPECT_EQ(b.lignes, std::vector<std::string>{"Impossible de modifier les attributs de " + D + "/f"});
  EXPECT_EQ(LstatAutres(dehors).st_uid, 0u);
  EXPECT_EQ(LstatAutres(dehors).st_gid, 0u);
  EXPECT_EQ(LstatAutres(dehors).st_mode & 07777, 0666u);
  EXPECT_EQ(TempTree::Lire(dehors), "à root");
  // The next run replaces the link by a copy: the file outside keeps all it had.
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(TempTree::Lire(D + "/f"), "contenu");
  EXPECT_EQ(LstatAutres(D + "/f").st_uid, test::kIdNobody);
  EXPECT_EQ(LstatAutres(dehors).st_mode & 07777, 0666u);
  EXPECT_EQ(LstatAutres(dehors).st_uid, 0u);
}

TEST(AutresUtilisateurs, OnlyThoseWhoMayChangeAMirrorCanHoldItsLock) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  TempTree t;
  ASSERT_EQ(chmod(t.Racine().c_str(), 0755), 0);
  const std::string S = t.Repertoire("src"), D = t.Repertoire("dst");
  t.Fichier("src/a", "a");
  // A user who may only read the destination holds a lock on it all night long.
  const pid_t pid = test::DemarrerFilsQuiTient(test::DevenirNobody, [&] {
    static platform::TVerrouRepertoire v;
    return v.Prendre(D) == 0;
  });
  ASSERT_GT(pid, 0);

  // Root's run goes on; meanwhile its lock is out of that user's reach, and that user's
  // own run on the destination stays out.
  static std::string racine, archive, source;
  racine = D;
  archive = D + "/" + kNomArchive;
  source = S;
  static std::string autreVerrou, autreRun;
  CrochetAvantAction = [](const std::string& destination) {
    if (destination != racine) return;
    autreVerrou = test::ExecuterDansFils(test::DevenirNobody, [] {
                    platform::TVerrouRepertoire v;
                    return std::to_string(v.Prendre(archive));
                  }).value_or("?");
    autreRun = test::ExecuterDansFils(test::DevenirNobody, [] {
                 return Traiter(source, racine, false).Serialiser();
               }).value_or("?");
  };
  const Bilan b = Traiter(S, D, false);
  CrochetAvantAction = nullptr;
  test::Terminer(pid);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(TempTree::Lire(D + "/a"), "a");
  EXPECT_EQ(autreVerrou, std::to_string(EACCES));
  EXPECT_EQ(Bilan::Relire(autreRun).lignes,
            std::vector<std::string>{"Abandon : " + archive +
                                     " n'est pas un répertoire d'archive appartenant à "
                                     "l'utilisateur, la destination n'est pas modifiée"});
}

}  // namespace
}  // namespace jumelix
