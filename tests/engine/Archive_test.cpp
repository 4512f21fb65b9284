// The archive of a destination, as a user who deleted something by mistake meets it: what a
// synchronisation replaced or deleted is found intact under .jumelix-archive, the archive
// itself is never walked, reported nor deleted, old folders go after their retention or
// when the disk is full, and 0 days gives the plain deletions back.
#include "engine/Archive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/UDelta.h"
#include "platform/SystemeFichiers.h"
#include "shared/UMessErreurs.h"
#include "support/BilanParcours.h"
#include "support/ProcessusFils.h"
#include "support/TempTree.h"
#include "support/VolumeExfat.h"

namespace jumelix {
namespace {

using test::Bilan;
using test::EcartsRsync;
using test::TempTree;
using Lignes = std::vector<std::string>;

const time_t kT = 1678874400;    // 2023-03-15 10:00:00 UTC: the entries' times
const time_t kRun = 1700000000;  // the run's start, which names its folder
constexpr time_t kJour = 86400;

struct stat Lstat(const std::string& c) {
  struct stat st {};
  EXPECT_EQ(lstat(c.c_str(), &st), 0) << c;
  return st;
}

using platform::Operation;
using TFaute = std::function<int(Operation, const std::string& nom)>;

// A file system whose operations fail as `faute` says (0: the operation happens).
class Faillible : public platform::TSystemeFichiers {
 public:
  explicit Faillible(TFaute faute) : faute_(std::move(faute)) {}

 protected:
  int Faute(Operation op, const std::string& nom) override { return faute_(op, nom); }

 private:
  TFaute faute_;
};

std::string Perdu(const std::string& chemin) {
  return "Place insuffisante : l'ancienne version de " + chemin +
         " n'est pas conservée dans l'archive";
}

class Archive : public ::testing::Test {
 protected:
  void SetUp() override {
    S = t.Repertoire("src");
    D = t.Repertoire("dst");
  }
  void TearDown() override {
    for (const std::string& m : montages_) umount(m.c_str());
  }
  std::string Fichier(const std::string& rel, const std::string& contenu, mode_t mode = 0644,
                      time_t date = kT) {
    std::string c = t.Fichier(rel, contenu);
    chmod(c.c_str(), mode);
    t.DateModif(rel, date);
    return c;
  }
  // A walk with the archive kept `jours` days, in a run begun at `debut`.
  Bilan Synchroniser(int jours = 30, time_t debut = kRun, bool comparer = false,
                     platform::TSystemeFichiers* fs = nullptr) {
    TEtatRun etat;
    etat.JoursArchive = jours;
    etat.DebutRun = debut;
    etat.Systeme = fs;
    return test::Traiter(S, D, comparer, {}, &etat);
  }
  // The same walk in a child process, made ready by `preparer`.
  Bilan SynchroniserDansFils(const std::function<void()>& preparer, int jours = 30,
                             platform::TSystemeFichiers* fs = nullptr) {
    const auto r = test::ExecuterDansFils(
        preparer, [&] { return Synchroniser(jours, kRun, false, fs).Serialiser(); });
    EXPECT_TRUE(r.has_value());
    return r ? Bilan::Relire(*r) : Bilan{};
  }
  std::string DossierRun(time_t debut = kRun) {
    return D + "/" + kNomArchive + "/" + NomDossierArchive(debut);
  }
  bool Monter(const std::string& point, const char* taille) {
    const std::string options = std::string("size=") + taille;
    if (mount("jumelix-test", point.c_str(), "tmpfs", 0, options.c_str()) != 0) return false;
    montages_.insert(montages_.begin(), point);
    return true;
  }
  TempTree t;
  std::string S, D;
  std::vector<std::string> montages_;
};

TEST_F(Archive, ReplacedAndDeletedEntriesAreKeptIntactWithTheirTimesAndModes) {
  Fichier("src/lettre", "nouvelle version");
  t.DateModif("src/lettre", kT + 60);
  Fichier("dst/lettre", "ancienne version", 0640);
  Fichier("dst/efface", "supprimé de la source", 0600);
  t.Lien("dst/raccourci", "lettre");
  t.DateModif("dst/raccourci", kT - 10);
  Fichier("dst/photos/a.jpg", "image a");
  Fichier("dst/photos/2022/b.jpg", "image b", 0400);
  chmod((D + "/photos/2022").c_str(), 0555);
  t.DateModif("dst/photos/2022", kT - 20);
  t.DateModif("dst/photos", kT - 30);
  Fichier("src/garde/reste", "identique");
  Fichier("dst/garde/reste", "identique");
  Fichier("dst/garde/profond/vieux", "au fond");

  Bilan b = Synchroniser();
  EXPECT_EQ(b.lignes, Lignes{});
  EXPECT_EQ(b.copies, 1);
  // Deleted files, those of the deleted directories included, counted as before.
  EXPECT_EQ(b.supprimes, 5);
  EXPECT_EQ(EcartsRsync(S, D, "--exclude=/.jumelix-archive"), "");

  const std::string A = DossierRun();
  EXPECT_EQ(TempTree::Noms(A), (Lignes{"efface", "garde", "lettre", "photos", "raccourci"}));
  EXPECT_EQ(TempTree::Lire(A + "/lettre"), "ancienne version");
  EXPECT_EQ(Lstat(A + "/lettre").st_mode & 07777, 0640u);
  EXPECT_EQ(Lstat(A + "/lettre").st_mtim.tv_sec, kT);
  EXPECT_EQ(TempTree::Lire(A + "/efface"), "supprimé de la source");
  EXPECT_EQ(Lstat(A + "/efface").st_mode & 07777, 0600u);
  char cible[64] = {};
  EXPECT_EQ(readlink((A + "/raccourci").c_str(), cible, sizeof cible - 1), 6);
  EXPECT_STREQ(cible, "lettre");
  EXPECT_EQ(Lstat(A + "/raccourci").st_mtim.tv_sec, kT - 10);
  EXPECT_EQ(TempTree::Lire(A + "/photos/2022/b.jpg"), "image b");
  EXPECT_EQ(Lstat(A + "/photos/2022").st_mode & 07777, 0555u);
  EXPECT_EQ(Lstat(A + "/photos/2022").st_mtim.tv_sec, kT - 20);
  EXPECT_EQ(Lstat(A + "/photos").st_mtim.tv_sec, kT - 30);
  EXPECT_EQ(TempTree::Lire(A + "/garde/profond/vieux"), "au fond");
  EXPECT_EQ(TempTree::Lire(D + "/lettre"), "nouvelle version");
}

TEST_F(Archive, IsNeverWalkedReportedNorDeletedByLaterRuns) {
  Fichier("src/a", "1");
  Fichier("dst/perdu", "p");
  ASSERT_EQ(Synchroniser().lignes, Lignes{});
  // A run begun in the same second gets a folder of its own.
  Fichier("src/a", "2");
  t.DateModif("src/a", kT + 60);
  Bilan encore = Synchroniser();
  EXPECT_EQ(encore.lignes, Lignes{});
  EXPECT_EQ(encore.supprimes, 0);
  EXPECT_EQ(TempTree::Lire(DossierRun() + "/perdu"), "p");
  EXPECT_EQ(TempTree::Lire(DossierRun() + "-2/a"), "1");
  // Compare mode shows nothing of it; later runs, archive on or off, leave it alone.
  EXPECT_EQ(Synchroniser(30, kRun, true).lignes, Lignes{});
  EXPECT_EQ(Synchroniser(30, kRun + 60).lignes, Lignes{});
  EXPECT_EQ(Synchroniser(0).lignes, Lignes{});
  EXPECT_EQ(test::Traiter(S, D, true).lignes, Lignes{});
  EXPECT_EQ(TempTree::Noms(D + "/.jumelix-archive"),
            (Lignes{NomDossierArchive(kRun), NomDossierArchive(kRun) + "-2"}));
}

TEST_F(Archive, ASourceRootEntryOfItsNameIsNeverCopied) {
  // A folder of that name is another pair's archive (pairs chained A to B, B to C): left
  // out without a word, with the archive on or off.
  Fichier("src/.jumelix-archive/x", "x");
  Fichier("src/sous/.jumelix-archive", "ordinaire plus bas");
  EXPECT_EQ(Synchroniser().lignes, Lignes{});
  EXPECT_EQ(Synchroniser(30, kRun, true).lignes, Lignes{});
  EXPECT_EQ(Synchroniser(0).lignes, Lignes{});
  EXPECT_EQ(TempTree::Noms(D), Lignes{"sous"});
  EXPECT_EQ(TempTree::Lire(D + "/sous/.jumelix-archive"), "ordinaire plus bas");
  // A file of that name is the user's: it cannot be mirrored, and the user is told.
  std::filesystem::remove_all(S + "/.jumelix-archive");
  Fichier("src/.jumelix-archive", "f");
  EXPECT_EQ(Synchroniser(30, kRun + 60).lignes,
            Lignes{"Fichier non copié, son nom est réservé à l'archive de la destination : " + S +
                   "/.jumelix-archive"});
}

TEST_F(Archive, FoldersOlderThanTheRetentionGoAtTheStartOfAPair) {
  struct Cas {
    std::string nom;
    bool garde;
  } cas[] = {
      {NomDossierArchive(kRun - 40 * kJour), false},
      {NomDossierArchive(kRun - 31 * kJour) + "-2", false},
      {NomDossierArchive(kRun - 29 * kJour), true},
      {NomDossierArchive(kRun - 3600), true},
      {"mes notes", true},  // not one of ours
      {"2023-13-45 999999", true},
  };
  for (const Cas& c : cas) Fichier("dst/.jumelix-archive/" + c.nom + "/f", "vieux");
  Fichier("src/f", "f");
  Fichier("dst/f", "f");
  EXPECT_EQ(Synchroniser(30).lignes, Lignes{});
  for (const Cas& c : cas) {
    EXPECT_EQ(TempTree::Existe(D + "/.jumelix-archive/" + c.nom), c.garde) << c.nom;
  }
  // A compare removes nothing, whatever the ages.
  EXPECT_EQ(Synchroniser(1, kRun, true).lignes, Lignes{});
  EXPECT_TRUE(TempTree::Existe(D + "/.jumelix-archive/" + cas[2].nom));
}

TEST_F(Archive, ZeroDaysDeletesAsBefore) {
  Fichier("src/a", "nouveau");
  t.DateModif("src/a", kT + 60);
  Fichier("dst/a", "ancien");
  Fichier("dst/b", "b");
  Fichier("dst/rep/c", "c");
  Bilan b = Synchroniser(0);
  EXPECT_EQ(b.lignes, Lignes{});
  EXPECT_EQ(b.copies, 1);
  EXPECT_EQ(b.supprimes, 2);
  EXPECT_EQ(TempTree::Noms(D), Lignes{"a"});
}

TEST_F(Archive, AFullDiskFreesTheOldestFoldersFirst) {
  if (!Monter(D, "1m")) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  Fichier("dst/.jumelix-archive/" + NomDossierArchive(kRun - 20 * kJour) + "/vieux",
          std::string(300 * 1024, 'v'));
  Fichier("dst/.jumelix-archive/" + NomDossierArchive(kRun - 10 * kJour) + "/recent",
          std::string(300 * 1024, 'r'));
  Fichier("src/nouveau", std::string(500 * 1024, 'n'));
  Bilan b = Synchroniser();
  EXPECT_EQ(b.lignes, Lignes{});
  EXPECT_EQ(TempTree::Noms(D + "/.jumelix-archive"), Lignes{NomDossierArchive(kRun - 10 * kJour)});
  EXPECT_EQ(TempTree::Lire(D + "/nouveau").size(), 500u * 1024);

  // Then what this run archived, named; nothing left to free: the usual line. (The file
  // that cannot fit lies one level down, so that "nouveau" is replaced first.)
  Fichier("src/nouveau", std::string(200 * 1024, 'm'));
  t.DateModif("src/nouveau", kT + 60);
  Fichier("src/sous/enorme", std::string(2 * 1024 * 1024, 'e'));
  Bilan plein = Synchroniser(30, kRun + 60);
  EXPECT_EQ(plein.lignes, (Lignes{Perdu(D + "/nouveau"),
                                  "Erreur lors de la copie du fichier " + S + "/sous/enorme vers " +
                                      D + "/sous/enorme. " + TexteErreurSysteme(ENOSPC)}));
  EXPECT_EQ(TempTree::Noms(D + "/.jumelix-archive"), Lignes{NomDossierArchive(kRun + 60)});
  EXPECT_EQ(TempTree::Lire(D + "/nouveau").size(), 200u * 1024);
}

TEST_F(Archive, AFileRenamedOnAFullDiskIsMirroredInOneRunAndTheLostVersionNamed) {
  if (!Monter(D, "10m")) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  const std::string six(6 << 20, 'r');
  Fichier("dst/avant", six);
  Fichier("src/apres", six);
  EXPECT_EQ(Synchroniser().lignes, Lignes{Perdu(D + "/avant")});
  EXPECT_EQ(EcartsRsync(S, D, "--exclude=/.jumelix-archive"), "");
}

TEST_F(Archive, ADiskFullThroughTheSeamTakesOldFoldersThenTheLargestEntriesOfThisRun) {
  const std::string vieux = D + "/.jumelix-archive/" + NomDossierArchive(kRun - 5 * kJour);
  const std::string gros = DossierRun() + "/gros";
  struct Cas {
    Operation op;
    std::string nom;
    int err;
    std::string tantQue;  // the fault holds while this exists ("": always)
    Lignes perdus;
    bool copie;  // "lettre" is replaced in the end
  } cas[] = {
      {Operation::Lier, "lettre", ENOSPC, vieux, {}, true},
      {Operation::Deplacer, "efface", EDQUOT, vieux, {}, true},
      {Operation::Lier, "lettre", EDQUOT, gros, {D + "/gros"}, true},
      {Operation::Lier, "lettre", ENOSPC, "", {D + "/gros", D + "/efface"}, false},
  };
  Fichier("src/lettre", "nouvelle version", 0644, kT + 60);
  for (const Cas& c : cas) {
    SCOPED_TRACE(c.nom + " " + std::to_string(c.err) + " " + c.tantQue);
    std::filesystem::remove_all(D);
    Fichier("dst/lettre", "ancienne version");
    Fichier("dst/efface", std::string(10, 'e'));
    Fichier("dst/gros", std::string(1000, 'g'));
    Fichier(vieux.substr(t.Racine().size() + 1) + "/v", "v");
    Faillible fs([&](Operation op, const std::string& nom) {
      return op == c.op && nom == c.nom && (c.tantQue.empty() || TempTree::Existe(c.tantQue))
                 ? c.err
                 : 0;
    });
    Lignes attendu;
    for (const std::string& p : c.perdus) attendu.push_back(Perdu(p));
    if (!c.copie) {
      attendu.push_back("Erreur lors de la copie du fichier " + S + "/lettre vers " + D +
                        "/lettre. " + TexteErreurSysteme(c.err));
    }
    EXPECT_EQ(Synchroniser(30, kRun, false, &fs).lignes, attendu);
    EXPECT_FALSE(TempTree::Existe(vieux));
    EXPECT_EQ(TempTree::Lire(D + "/lettre"), c.copie ? "nouvelle version" : "ancienne version");
    EXPECT_EQ(TempTree::Noms(D), (Lignes{".jumelix-archive", "lettre"}));
  }
}

TEST_F(Archive, NeverCrossesAMountPointNorFollowsALink) {
  Fichier("dst/disque/monte/f", "");
  if (!Monter(D + "/disque/monte", "1m")) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  Fichier("dst/disque/monte/donnee", "sur un autre disque");
  Fichier("src/garde", "g");
  Bilan b = Synchroniser();
  EXPECT_EQ(b.lignes, Lignes{"Impossible de supprimer le répertoire " + D + "/disque"});
  EXPECT_EQ(TempTree::Lire(D + "/disque/monte/donnee"), "sur un autre disque");

  // An archive that is a link, a file or another user's directory refuses its pair with
  // one line, and nothing of the destination changes.
  umount((D + "/disque/monte").c_str());
  montages_.clear();
  const std::string ailleurs = t.Repertoire("ailleurs");
  Fichier("dst/perdu", "p");
  const Lignes refus{"Abandon : " + D +
                     "/.jumelix-archive n'est pas un répertoire d'archive appartenant à "
                     "l'utilisateur, la destination n'est pas modifiée"};
  const std::string archive = D + "/.jumelix-archive";
  std::vector<std::function<void()>> faux = {
      [&] { t.Lien("dst/.jumelix-archive", ailleurs); },
      [&] { Fichier("dst/.jumelix-archive", "un fichier"); },
  };
  if (geteuid() == 0) {
    faux.push_back([&] {
      t.Repertoire("dst/.jumelix-archive");
      ASSERT_EQ(chown(archive.c_str(), 65534, 65534), 0);
    });
  }
  for (const auto& preparer : faux) {
    preparer();
    EXPECT_EQ(Synchroniser(30, kRun + 60).lignes, refus);
    EXPECT_EQ(Synchroniser(0, kRun + 60).lignes, refus);
    EXPECT_EQ(TempTree::Noms(ailleurs), Lignes{});
    EXPECT_EQ(TempTree::Lire(D + "/perdu"), "p");
    EXPECT_TRUE(TempTree::Existe(D + "/disque"));
    std::filesystem::remove_all(archive);
  }
}

TEST_F(Archive, AVolumeThatCannotSwapEntriesStillKeepsTheOldVersions) {
  test::VolumeExfat volume;
  if (!volume.Monte()) GTEST_SKIP() << volume.Raison();
  D = volume.Racine();
  auto ecrire = [](const std::string& chemin, const std::string& contenu) {
    std::ofstream(chemin, std::ios::binary) << contenu;
  };
  Fichier("src/lettre", "nouvelle version");
  t.DateModif("src/lettre", kT + 60);
  ecrire(D + "/lettre", "ancienne version");
  ecrire(D + "/efface", "e");
  ASSERT_EQ(mkdir((D + "/rep").c_str(), 0755), 0);
  ecrire(D + "/rep/x", "x");
  Bilan b = Synchroniser();
  EXPECT_EQ(b.lignes, Lignes{});
  EXPECT_EQ(b.copies, 1);
  EXPECT_EQ(b.supprimes, 2);
  EXPECT_EQ(TempTree::Lire(D + "/lettre"), "nouvelle version");
  EXPECT_EQ(TempTree::Lire(DossierRun() + "/lettre"), "ancienne version");
  EXPECT_EQ(TempTree::Lire(DossierRun() + "/efface"), "e");
  EXPECT_EQ(TempTree::Lire(DossierRun() + "/rep/x"), "x");
  EXPECT_EQ(TempTree::Noms(D), (Lignes{".jumelix-archive", "lettre"}));
}

TEST_F(Archive, AReplacedFileIsInTheArchiveUnderItsOwnPathWhereverARunIsKilled) {
  Fichier("src/lettre", "nouvelle version", 0644, kT + 60);
  Fichier("dst/lettre", "ancienne version");
  // Killed at the first step that gives the copy its name or moves the old version.
  Faillible tue([](Operation op, const std::string&) {
    if (op == Operation::Publier || op == Operation::Deplacer) _exit(0);
    return 0;
  });
  SynchroniserDansFils({}, 30, &tue);
  EXPECT_EQ(TempTree::Lire(DossierRun() + "/lettre"), "ancienne version");
  // The next run drops the interrupted copy and replaces the file.
  EXPECT_EQ(Synchroniser(30, kRun + 60).lignes, Lignes{});
  EXPECT_EQ(TempTree::Noms(D), (Lignes{".jumelix-archive", "lettre"}));
  EXPECT_EQ(TempTree::Lire(D + "/lettre"), "nouvelle version");
  EXPECT_EQ(TempTree::Lire(DossierRun() + "/lettre"), "ancienne version");
}

TEST_F(Archive, OurOwnUnreadableDirectoriesGoAsWithoutTheArchiveOtherUsersStay) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the walk as another user";
  chmod(t.Racine().c_str(), 0755);
  Fichier("src/garde", "g");
  for (const int jours : {0, 30}) {
    SCOPED_TRACE(jours);
    Fichier("dst/ferme/f", "f");
    Fichier("dst/ferme/sous/g", "g");
    Fichier("dst/bloque/autrui/h", "h");  // root's, in one of ours
    for (const auto& e : std::filesystem::recursive_directory_iterator(D)) {
      ASSERT_EQ(lchown(e.path().c_str(), test::kIdNobody, test::kIdNobody), 0);
    }
    ASSERT_EQ(chown(D.c_str(), test::kIdNobody, test::kIdNobody), 0);
    ASSERT_EQ(chown((D + "/bloque/autrui").c_str(), 0, 0), 0);
    chmod((D + "/bloque/autrui").c_str(), 0700);
    for (const char* r : {"dst/ferme", "dst/bloque"}) chmod(t.Chemin(r).c_str(), 0);
    chmod((D + "/ferme/sous").c_str(), 0300);
    Bilan b = SynchroniserDansFils(test::DevenirNobody, jours);
    EXPECT_EQ(b.lignes, Lignes{"Impossible de supprimer le répertoire " + D + "/bloque"});
    EXPECT_EQ(b.supprimes, 2);
    EXPECT_FALSE(TempTree::Existe(D + "/ferme"));
  }
  // What could not go keeps its mode; what went is archived with its own modes.
  EXPECT_EQ(Lstat(D + "/bloque").st_mode & 07777, 0u);
  EXPECT_EQ(Lstat(DossierRun() + "/ferme").st_mode & 07777, 0u);
  EXPECT_EQ(Lstat(DossierRun() + "/ferme/sous").st_mode & 07777, 0300u);
  EXPECT_EQ(TempTree::Lire(DossierRun() + "/ferme/sous/g"), "g");
}

TEST_F(Archive, ATreeDeeperThanTheDescriptorLimitIsArchivedOrDeletedAsAWhole) {
  constexpr int kNiveaux = 20000;
  Monter(D, "64m");  // only faster than the disk: the test holds without it
  Fichier("src/garde", "g");
  for (const int jours : {30, 0}) {
    SCOPED_TRACE(jours);
    // Too deep for paths: made level by level from an open directory.
    int fd = open(t.Repertoire("dst/profond").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < kNiveaux && fd >= 0; ++i) {
      close(openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
      mkdirat(fd, "d", 0755);
      const int sous = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      close(fd);
      fd = sous;
    }
    ASSERT_GE(fd, 0);
    close(fd);
    Bilan b = SynchroniserDansFils(
        [] {
          struct rlimit lim = {1024, 1024};
          setrlimit(RLIMIT_NOFILE, &lim);
        },
        jours);
    EXPECT_EQ(b.lignes, Lignes{});
    EXPECT_EQ(b.supprimes, kNiveaux);
    EXPECT_FALSE(TempTree::Existe(D + "/profond"));
  }
  // Deleted here by the program's own deletion: the fixture's goes one descriptor a level.
  platform::TRepertoire run;
  ASSERT_EQ(run.OuvrirChemin(DossierRun()), 0);
  int32_t n = 0;
  EXPECT_EQ(platform::SupprimerArborescence(run, "profond", n), 0);
  EXPECT_EQ(n, kNiveaux);
}

// A disk mounted inside the destination, or a directory bound there (same file system,
// still another mount): what is replaced or deleted under it goes to an archive at its
// root, the mirror is right in one run, and the root times are the source's.
class ArchiveMontage : public Archive, public ::testing::WithParamInterface<bool> {};

TEST_P(ArchiveMontage, KeepsWhatItReplacesInAnArchiveAtItsOwnRoot) {
  const std::string point = t.Repertoire("dst/photos");
  if (GetParam()) {
    if (mount(t.Repertoire("disque").c_str(), point.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    }
    montages_.insert(montages_.begin(), point);
  } else if (!Monter(point, "4m")) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  const std::string A = point + "/.jumelix-archive/";
  const std::string ici = NomDossierArchive(kRun), recent = NomDossierArchive(kRun - 2 * kJour);
  Fichier("dst/photos/.jumelix-archive/" + NomDossierArchive(kRun - 40 * kJour) + "/x", "x");
  Fichier("dst/photos/.jumelix-archive/" + recent + "/y", "y");
  Fichier("src/photos/2023/a.jpg", "nouvelle", 0644, kT + 60);
  Fichier("dst/photos/2023/a.jpg", "ancienne");
  Fichier("dst/photos/rep/f", "f");
  Fichier("src/sous/b", "nouveau b", 0644, kT + 60);
  Fichier("dst/sous/b", "ancien b");
  // Roots dated well before the run: the creation of an archive must not show on them.
  t.DateModif("src", kT);
  t.DateModif("src/photos", kT);
  Bilan b = Synchroniser();
  EXPECT_EQ(b.lignes, Lignes{});
  EXPECT_EQ(b.supprimes, 1);
  EXPECT_EQ(EcartsRsync(S, D, "--exclude=/.jumelix-archive --exclude=/photos/.jumelix-archive"),
            "");
  EXPECT_EQ(TempTree::Noms(A), (Lignes{recent, ici}));
  EXPECT_EQ(TempTree::Lire(A + ici + "/2023/a.jpg"), "ancienne");
  EXPECT_EQ(TempTree::Lire(A + ici + "/rep/f"), "f");
  EXPECT_EQ(TempTree::Lire(DossierRun() + "/sous/b"), "ancien b");

  // Made while publishing, after the walk has left the mount's root, the archive there
  // does not show on its time either.
  std::filesystem::remove_all(point + "/.jumelix-archive");
  Fichier("src/photos/2023/a.jpg", "deuxième", 0644, kT + 90);
  EXPECT_EQ(Synchroniser(30, kRun + 60).lignes, Lignes{});
  EXPECT_EQ(EcartsRsync(S, D, "--exclude=/.jumelix-archive --exclude=/photos/.jumelix-archive"),
            "");
  EXPECT_EQ(TempTree::Lire(A + NomDossierArchive(kRun + 60) + "/2023/a.jpg"), "nouvelle");

  // An archive there that is a link or another user's directory receives nothing: what
  // would go into it stays, with the usual lines.
  const std::string ailleurs = t.Repertoire("ailleurs");
  const std::pair<std::function<void()>, int> faux[] = {
      {[&] { ASSERT_EQ(symlink(ailleurs.c_str(), (point + "/.jumelix-archive").c_str()), 0); },
       ENOTDIR},
      {[&] {
         const std::string autre = t.Repertoire("dst/photos/.jumelix-archive");
         ASSERT_EQ(chown(autre.c_str(), test::kIdNobody, test::kIdNobody), 0);
       },
       EACCES},
  };
  Fichier("src/photos/2023/a.jpg", "troisième", 0644, kT + 150);
  for (const auto& [preparer, err] : faux) {
    std::filesystem::remove_all(point + "/.jumelix-archive");
    preparer();
    Fichier("dst/photos/trop", "t");
    EXPECT_EQ(Synchroniser(30, kRun + 120).lignes,
              (Lignes{"Impossible de supprimer le fichier " + point + "/trop",
                      "Erreur lors de la copie du fichier " + S + "/photos/2023/a.jpg vers " +
                          point + "/2023/a.jpg. " + TexteErreurSysteme(err)}));
    EXPECT_EQ(TempTree::Noms(ailleurs), Lignes{});
    EXPECT_EQ(TempTree::Lire(point + "/2023/a.jpg"), "deuxième");
  }
}

INSTANTIATE_TEST_SUITE_P(Montages, ArchiveMontage, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Lie" : "Tmpfs"; });

TEST(NomDossierArchive, ReadsOnlyItsOwnNames) {
  EXPECT_EQ(DateDossierArchive(NomDossierArchive(kRun)), kRun);
  EXPECT_EQ(DateDossierArchive(NomDossierArchive(kRun) + "-12"), kRun);
  for (const char* autre :
       {"", "notes", "2023-03-15 10000", "2023-03-15 100000-", "2023-03-15 1000000",
        "2023-03-15_100000", "2023-00-15 100000", "2023-03-15 250000"}) {
    EXPECT_EQ(DateDossierArchive(autre), -1) << autre;
  }
}

}  // namespace
}  // namespace jumelix
