// The archive of a destination, as a user who deleted something by mistake meets it: what a
// synchronisation replaced or deleted is found intact under .jumelix-archive, the archive
// itself is never walked, reported nor deleted, old folders go after their retention or
// when the disk is full, and 0 days gives the plain deletions back.
#include "engine/Archive.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
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
#include "support/BilanParcours.h"
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
  Bilan Synchroniser(int jours = 30, time_t debut = kRun, bool comparer = false) {
    TEtatRun etat;
    etat.JoursArchive = jours;
    etat.DebutRun = debut;
    return test::Traiter(S, D, comparer, {}, &etat);
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

  // Nothing left to free: the usual line, and what this run archived stays.
  Fichier("src/nouveau", std::string(200 * 1024, 'm'));
  t.DateModif("src/nouveau", kT + 60);
  Fichier("src/enorme", std::string(2 * 1024 * 1024, 'e'));
  Bilan plein = Synchroniser(30, kRun + 60);
  ASSERT_EQ(plein.lignes.size(), 1u);
  EXPECT_EQ(plein.lignes[0].rfind(
                "Erreur lors de la copie du fichier " + S + "/enorme vers " + D + "/enorme. ", 0),
            0u)
      << plein.lignes[0];
  EXPECT_EQ(TempTree::Noms(D + "/.jumelix-archive"), Lignes{NomDossierArchive(kRun + 60)});
  EXPECT_EQ(TempTree::Lire(DossierRun(kRun + 60) + "/nouveau").size(), 500u * 1024);
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
