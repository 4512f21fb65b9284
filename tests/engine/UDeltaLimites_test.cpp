// Nights that end right whatever the machine sets against them: leftovers of a killed run,
// trees deeper than any stack, a low descriptor limit, and file-system calls that fail
// (through the walk's fault seam) where real trees cannot fail on demand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/UDelta.h"
#include "platform/FileSystem.h"
#include "shared/UMessErreurs.h"
#include "support/BilanParcours.h"
#include "support/ProcessusFils.h"
#include "support/SystemeFautif.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using platform::Operation;
using test::Bilan;
using test::SystemeFautif;
using test::TempTree;
using Lignes = std::vector<std::string>;

const time_t kTLimites = TempTree::HeureLocale(2023, 3, 15, 10, 0, 0);

class Limites : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_STATE_HOME", t.Chemin("etat").c_str(), 1);
    S = t.Repertoire("src");
    D = t.Repertoire("dst");
  }
  std::string Fichier(const std::string& rel, const std::string& contenu = "x") {
    std::string c = t.Fichier(rel, contenu);
    t.DateModif(rel, kTLimites);
    return c;
  }
  // One walk with the archive kept `jours` days, through `fs` when given.
  Bilan Traiter(bool comparer, int jours = 0, platform::TSystemeFichiers* fs = nullptr) {
    TEtatRun etat;
    etat.JoursArchive = jours;
    etat.Systeme = fs;
    return test::Traiter(S, D, comparer, {}, &etat);
  }
  TempTree t;
  std::string S, D;
};

TEST_F(Limites, TemporariesOfAKilledRunAreDeletedNeitherArchivedNorCounted) {
  Fichier("src/garde");
  Fichier("src/sous/f");
  Fichier("src/.jumelix-aaaaaaaaaaaa.tmp", "un fichier de l'utilisateur");
  for (int jours : {30, 0}) {
    Fichier("dst/.jumelix-0123456789ab.tmp", "copie interrompue");
    Fichier("dst/sous/.jumelix-fedcba987654.tmp", "copie interrompue");
    Bilan b = Traiter(false, jours);
    EXPECT_EQ(b.lignes, Lignes{}) << jours;
    EXPECT_EQ(b.supprimes, 0) << jours;
    EXPECT_EQ(TempTree::Noms(D + "/sous"), Lignes{"f"});
    EXPECT_EQ(TempTree::Lire(D + "/.jumelix-aaaaaaaaaaaa.tmp"), "un fichier de l'utilisateur");
    EXPECT_FALSE(TempTree::Existe(D + "/.jumelix-0123456789ab.tmp"));
    // Nothing of them in the archive either.
    EXPECT_FALSE(TempTree::Existe(D + "/.jumelix-archive"));
    EXPECT_EQ(test::EcartsRsync(S, D), "");
  }
  // Compare mode does not report the program's own leftovers.
  Fichier("dst/.jumelix-0123456789ab.tmp", "copie interrompue");
  EXPECT_EQ(Traiter(true).lignes, Lignes{});
}

// A chain of `n` directories "d" under `racine`, made through descriptors: paths that deep
// are longer than any path the system takes.
void Chaine(const std::string& racine, int n, const char* fichier) {
  int fd = open(racine.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(mkdirat(fd, "d", 0755), 0) << i;
    const int sous = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = sous;
    ASSERT_GE(fd, 0);
  }
  const int f = openat(fd, fichier, O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(f, 0);
  close(f);
  close(fd);
}

// The depth of the chain of "d" under `racine`, and whether its end holds `fichier`.
int Profondeur(const std::string& racine, const char* fichier, bool& trouve) {
  int fd = open(racine.c_str(), O_RDONLY | O_DIRECTORY);
  int n = 0;
  for (int sous; (sous = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW)) >= 0; ++n) {
    close(fd);
    fd = sous;
  }
  trouve = faccessat(fd, fichier, F_OK, AT_SYMLINK_NOFOLLOW) == 0;
  close(fd);
  return n;
}

void Effacer(const std::string& racine) {
  platform::TRepertoire rep;
  ASSERT_EQ(rep.OuvrirChemin(racine), 0);
  int32_t n = 0;
  if (faccessat(rep.fd(), "d", F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
    EXPECT_EQ(platform::SupprimerArborescence(rep, "d", n), 0);
  }
}

TEST_F(Limites, ATreeTwentyThousandLevelsDeepIsMirroredAndCompared) {
  constexpr int kNiveaux = 20000;
  Chaine(S, kNiveaux, "fond");
  Bilan b = Traiter(false);
  EXPECT_EQ(b.lignes.size(), 0u) << b.lignes.front().substr(0, 200);
  EXPECT_EQ(b.copies, 1);
  bool trouve = false;
  EXPECT_EQ(Profondeur(D, "fond", trouve), kNiveaux);
  EXPECT_TRUE(trouve);
  EXPECT_EQ(Traiter(true).lignes.size(), 0u);
  Effacer(S);
  Effacer(D);
}

TEST_F(Limites, DeepLevelsClosedToSpareDescriptorsAreFoundAgainOnTheWayBack) {
  // Run in a child with few descriptors: only the deepest levels stay open, each other one
  // is opened again through ".." once the walk comes back to it, to finish its entries.
  Chaine(S, 300, "fond");
  for (const char* rel : {"src/d/apres", "src/d/d/apres", "src/d/d/d/d/d/d/d/d/d/d/apres"}) {
    Fichier(rel);
  }
  auto r = test::ExecuterDansFils(
      [] {
        struct rlimit lim {
          256, 256
        };
        setrlimit(RLIMIT_NOFILE, &lim);
      },
      [&] { return Traiter(false).Serialiser(); });
  ASSERT_TRUE(r.has_value());
  Bilan b = Bilan::Relire(*r);
  EXPECT_EQ(b.lignes, Lignes{});
  EXPECT_EQ(b.copies, 4);
  EXPECT_EQ(test::EcartsRsync(S, D), "");
  Effacer(S);
  Effacer(D);
}

TEST_F(Limites, ALowDescriptorLimitStillCompletesTheRun) {
  // 800 directories of a few files each, nested two deep, at a limit of 256 descriptors:
  // what is made ahead shrinks to the limit.
  for (int i = 0; i < 40; ++i) {
    for (int j = 0; j < 20; ++j) {
      const std::string rel = "src/" + std::to_string(i) + "/" + std::to_string(j);
      for (int k = 0; k < 3; ++k) Fichier(rel + "/f" + std::to_string(k));
    }
  }
  for (bool comparer : {false, true}) {
    auto r = test::ExecuterDansFils(
        [] {
          struct rlimit lim {
            256, 256
          };
          setrlimit(RLIMIT_NOFILE, &lim);
        },
        [&] { return Traiter(comparer, 30).Serialiser(); }, 120);
    ASSERT_TRUE(r.has_value());
    Bilan b = Bilan::Relire(*r);
    EXPECT_EQ(b.lignes, Lignes{}) << comparer;
    EXPECT_EQ(b.copies, comparer ? 0 : 2400);
  }
  EXPECT_EQ(test::EcartsRsync(S, D), "");
}

TEST_F(Limites, FailuresOfTheFileSystemBecomeLinesOfThePair) {
  Fichier("src/a/f");
  Fichier("src/b/g");
  Fichier("src/c");
  struct Cas {
    Operation op;
    int err;
    const char* nom;
    Lignes (*attendu)(const std::string& S, const std::string& D);
    std::vector<int> causes;  // each line's system error, for whoever shows the cause
    // A full disk is met twice: the copies the walk went past give their room back, and
    // the copy is tried once more.
    int fois = 1;
  } cas[] = {
      // Out of descriptors once: the walk gives back what it holds and tries again.
      {Operation::Ouvrir, EMFILE, "a",
       [](const std::string&, const std::string&) { return Lignes{}; }, {}},
      {Operation::Lire, EIO, "",
       [](const std::string&, const std::string& D) {
         return Lignes{"Erreur en lisant le répertoire " + D};
       },
       {EIO}},
      {Operation::EcrireCopie, EIO, "c",
       [](const std::string& S, const std::string& D) {
         return Lignes{"Erreur lors de la copie du fichier " + S + "/c vers " + D + "/c. " +
                       TexteErreurSysteme(EIO)};
       },
       {EIO}},
      {Operation::EcrireCopie, EDQUOT, "c",
       [](const std::string& S, const std::string& D) {
         return Lignes{"Erreur lors de la copie du fichier " + S + "/c vers " + D + "/c. " +
                       TexteErreurSysteme(EDQUOT)};
       },
       {EDQUOT},
       2},
      {Operation::CreerRepertoire, EROFS, "b",
       [](const std::string&, const std::string& D) {
         return Lignes{"Impossible de créer " + D + "/b",
                       "Erreur en lisant le répertoire " + D + "/b"};
       },
       {EROFS, ENOENT}},
  };
  for (const Cas& c : cas) {
    SystemeFautif fs;
    fs.Echouer(c.op, c.err, c.nom, c.fois);
    Bilan b = Traiter(false, 30, &fs);
    EXPECT_EQ(fs.Fautes(), c.fois) << c.nom;
    EXPECT_EQ(b.lignes, c.attendu(S, D)) << c.nom;
    EXPECT_EQ(b.causes, c.causes) << c.nom;
    // The next night, without the fault, converges.
    EXPECT_EQ(Traiter(false, 30).lignes, Lignes{}) << c.nom;
    EXPECT_EQ(test::EcartsRsync(S, D, "--exclude=/.jumelix-archive"), "") << c.nom;
    ASSERT_EQ(std::system(("rm -rf '" + D + "' && mkdir '" + D + "'").c_str()), 0);
  }
}

TEST_F(Limites, AStopWhileTheLastBatchGoesToDiskIsSeen) {
  // The copies of a pair wait for one flush at its end; a stop that comes then (a signal
  // during a long flush) must not let the pair read as ended on its own.
  for (const char* f : {"src/a", "src/b", "src/sous/c"}) Fichier(f);
  // The stop comes once the copies took their names: after the walk's last entry.
  Bilan b =
      test::Traiter(S, D, false, [&](bool& abandon) { abandon = TempTree::Existe(D + "/a"); });
  EXPECT_TRUE(b.abandon);
  EXPECT_EQ(b.copies, 3);  // written before the stop: published all the same
  EXPECT_EQ(test::EcartsRsync(S, D), "");
}

TEST_F(Limites, ThreadsThatCannotStartLeaveTheResultAsItWas) {
  // systemd's TasksMax, RLIMIT_NPROC, a container: the walk goes on with the workers it
  // could start, or none, and reports what it reports with all of them.
  for (int i = 0; i < 30; ++i) {
    Fichier("src/r" + std::to_string(i % 6) + "/f" + std::to_string(i), std::to_string(i));
  }
  Fichier("dst/trop");
  Fichier("dst/r0/vieux");
  for (bool comparer : {true, false}) {
    for (int demarres : {0, 1, 3}) {
      std::string copie = t.Chemin("copie");
      ASSERT_EQ(
          std::system(("rm -rf '" + copie + "' && cp -a '" + D + "' '" + copie + "'").c_str()), 0);
      SystemeFautif fs;
      fs.Echouer(Operation::DemarrerFil, EAGAIN, {}, -1, demarres);
      Bilan avec = Traiter(comparer, 30, &fs);
      std::swap(D, copie);
      Bilan sans = Traiter(comparer, 30);
      std::swap(D, copie);
      for (std::string& l : sans.lignes) {
        for (size_t p; (p = l.find(copie)) != std::string::npos;) l.replace(p, copie.size(), D);
      }
      EXPECT_EQ(avec.lignes, sans.lignes) << demarres;
      EXPECT_EQ(avec.copies, sans.copies) << demarres;
      EXPECT_EQ(avec.supprimes, sans.supprimes) << demarres;
      EXPECT_EQ(avec.identiques, sans.identiques) << demarres;
      if (comparer) {
        EXPECT_EQ(avec.lignes.size(), 17u);
      }
    }
  }
  EXPECT_EQ(test::EcartsRsync(S, D, "--exclude=/.jumelix-archive"), "");
}

}  // namespace
}  // namespace jumelix
