// The mirror as a demanding user checks it: rsync finds nothing left to do, nothing outside
// the destination is touched even when a directory is swapped for a link mid-run, a file
// changing during its copy is not published, and a case-folding destination gets one file
// per name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/UDelta.h"
#include "platform/FileSystem.h"
#include "support/BilanParcours.h"
#include "support/PaireSurDisque.h"
#include "support/ProcessusFils.h"
#include "support/SystemeFautif.h"
#include "support/TempTree.h"
#include "support/VolumeExfat.h"

namespace jumelix {
namespace {

using test::Bilan;
using test::EcartsRsync;
using test::TempTree;
using test::Traiter;
using Lignes = std::vector<std::string>;

struct stat LstatMiroir(const std::string& c) {
  struct stat st {};
  EXPECT_EQ(lstat(c.c_str(), &st), 0) << c;
  return st;
}

class Miroir : public test::PaireSurDisque {};

TEST_F(Miroir, OneRunLeavesNothingForRsyncToDo) {
  const bool root = geteuid() == 0;
  Fichier("src/texte", "bonjour");
  Fichier("src/script", "#!/bin/sh", 0750);
  Fichier("src/prive/secret", "s", 0600);
  chmod(t.Chemin("src/prive").c_str(), 0700);
  t.FichierCreux("src/creux", off_t{1} << 24);
  t.Lien("src/lien", "texte");
  t.Fifo("src/tube");
  t.Repertoire("src/vide/plus/bas");
  chmod(t.Chemin("src/vide/plus").c_str(), 0555);
  // What the destination holds: a same-size edit, a mode change, a directory where the
  // source has a file, a file where it has a directory, surplus of each kind.
  Fichier("dst/texte", "BONJOUR");
  t.DateModif("dst/texte", kT - 1);
  Fichier("dst/script", "#!/bin/sh", 0755);
  Fichier("dst/creux/dedans", "x");
  Fichier("dst/vide", "fichier");
  Fichier("dst/trop", "t");
  t.Lien("dst/lien-trop", "/");
  Fichier("dst/reptrop/a/b", "b");
  if (root) {
    ASSERT_EQ(lchown(t.Chemin("src/prive").c_str(), test::kIdNobody, test::kIdNobody), 0);
    ASSERT_EQ(lchown(t.Chemin("src/lien").c_str(), test::kIdNobody, 0), 0);
    ASSERT_EQ(chmod(t.Chemin("src/script").c_str(), 04750), 0);
  }
  for (const char* rel : {"src/lien", "src/tube", "src/vide/plus/bas", "src/vide/plus", "src/vide",
                          "src/prive", "src"}) {
    t.DateModif(rel, kT - 3600, 250);
  }
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(EcartsRsync(S, D), "");
  EXPECT_TRUE(Traiter(S, D, true).lignes.empty());
  const struct stat prive = LstatMiroir(D + "/prive");
  EXPECT_EQ(prive.st_mode & 07777, 0700u);
  EXPECT_EQ(prive.st_mtim.tv_sec, kT - 3600);
  EXPECT_EQ(prive.st_mtim.tv_nsec, 250);
  EXPECT_EQ(LstatMiroir(D + "/vide/plus").st_mode & 07777, 0555u);
  if (root) {
    EXPECT_EQ(prive.st_uid, test::kIdNobody);
    EXPECT_EQ(LstatMiroir(D + "/lien").st_uid, test::kIdNobody);
    EXPECT_EQ(LstatMiroir(D + "/script").st_mode & 07777, 04750u);
  }
  // Nothing left to do: the second run changes nothing.
  Bilan encore = Traiter(S, D, false);
  EXPECT_TRUE(encore.lignes.empty());
  EXPECT_EQ(encore.copies + encore.supprimes, 0);
}

TEST_F(Miroir, AnOwnerOnlyDifferenceIsFixedInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to keep owners";
  Fichier("src/f", "meme");
  Fichier("dst/f", "meme");
  ASSERT_EQ(chown(t.Chemin("src/f").c_str(), test::kIdNobody, test::kIdNobody), 0);
  const ino_t ino = LstatMiroir(D + "/f").st_ino;
  EXPECT_EQ(Traiter(S, D, true).lignes,
            Lignes{D + "/f ==> attributs différents du fichier source."});
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(b.copies, 0);
  EXPECT_EQ(LstatMiroir(D + "/f").st_uid, test::kIdNobody);
  EXPECT_EQ(LstatMiroir(D + "/f").st_ino, ino);
}

// Swaps the destination directory `quand` (or a surplus directory of it) for a link to a
// directory outside, between the listing and the actions of the walk.
struct Echange {
  static inline std::string quand, cible, lien;
  static void Crochet(const std::string& destination) {
    if (destination != quand) return;
    ASSERT_EQ(rename(lien.c_str(), (lien + ".vrai").c_str()), 0);
    ASSERT_EQ(symlink(cible.c_str(), lien.c_str()), 0);
  }
};

TEST(Echanges, ADirectorySwappedForALinkMidRunSendsNothingOutside) {
  struct Cas {
    const char* nom;
    const char* quand;  // the level whose listing is followed by the swap
    const char* lien;   // the directory swapped
  };
  const Cas cas[] = {
      {"avant la descente", "", "sous"},
      {"pendant son niveau", "/sous", "sous"},
      {"répertoire en trop", "", "reptrop"},
  };
  for (const Cas& c : cas) {
    TempTree t;
    const std::string S = t.Repertoire("src"), D = t.Repertoire("dst");
    const std::string dehors = t.Repertoire("dehors");
    const Lignes noms = {"change", "nouveau", "trop", "vieux"};
    for (const std::string& n : noms) t.Fichier("dehors/" + n, "a garder");
    t.Fichier("src/sous/nouveau", "n");
    t.Fichier("src/sous/change", "version source");
    t.Fichier("dst/sous/change", "ancienne");
    t.Fichier("dst/sous/trop", "t");
    t.Fichier("dst/sous/vieux/x", "x");
    t.Fichier("dst/reptrop/trop", "t");
    t.Fichier("dst/reptrop/vieux/x", "x");
    Echange::quand = D + c.quand;
    Echange::lien = D + "/" + c.lien;
    Echange::cible = dehors;
    CrochetAvantAction = &Echange::Crochet;
    Traiter(S, D, false);
    CrochetAvantAction = nullptr;
    EXPECT_TRUE(TempTree::Existe(Echange::lien + ".vrai")) << c.nom;
    EXPECT_EQ(TempTree::Noms(dehors), noms) << c.nom;
    for (const std::string& n : noms) {
      EXPECT_EQ(TempTree::Lire(dehors + "/" + n), "a garder") << c.nom << " " << n;
    }
  }
}

TEST_F(Miroir, AFileChangedDuringItsCopyIsNotPublished) {
  Fichier("src/journal", "début");
  Fichier("dst/journal", "ancien contenu");
  static std::string source;
  source = S + "/journal";
  platform::CrochetApresContenu = [](const std::string&) {
    FILE* f = fopen(source.c_str(), "a");
    fputs(" et suite", f);
    fclose(f);
  };
  Bilan b = Traiter(S, D, false);
  platform::CrochetApresContenu = nullptr;
  EXPECT_EQ(b.lignes, Lignes{"Fichier modifié pendant la copie, non copié : " + S + "/journal"});
  EXPECT_EQ(b.copies, 0);
  EXPECT_EQ(TempTree::Lire(D + "/journal"), "ancien contenu");
  EXPECT_EQ(TempTree::Noms(D), Lignes{"journal"});
  // The next run copies the file as it now is.
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(TempTree::Lire(D + "/journal"), "début et suite");
}

TEST_F(Miroir, SurplusGoesBeforeCopiesOnANearlyFullDisk) {
  if (mount("jumelix-test", D.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  Fichier("dst/ancien", std::string(600 * 1024, 'a'));
  Fichier("src/nouveau", std::string(600 * 1024, 'n'));
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(TempTree::Noms(D), Lignes{"nouveau"});
  umount(D.c_str());
}

TEST_F(Miroir, ReplacedFilesFitWhereEachFitsAlone) {
  if (mount("jumelix-test", D.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  // Four files of 200 KiB fill 800 KiB of 1 MiB: only one new version fits at a time.
  for (char c = 'a'; c <= 'd'; ++c) {
    Fichier(std::string("dst/") + c, std::string(200 * 1024, 'v'));
    Fichier(std::string("src/") + c, std::string(200 * 1024, 'n'));
    t.DateModif(std::string("src/") + c, kT + 60);
  }
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(b.copies, 4);
  EXPECT_EQ(EcartsRsync(S, D), "");
  umount(D.c_str());
}

TEST_F(Miroir, ADestinationKeepingWholeSecondsIsNotDatedAgainEveryRun) {
  // ext4 with small inodes keeps whole seconds, as sshfs does.
  const std::string image = t.Chemin("image"), point = t.Repertoire("montage");
  const std::string commande = "truncate -s 16M '" + image + "' && mkfs.ext4 -q -I 128 '" +
                               image + "' 2>/dev/null && mount -o loop '" + image + "' '" +
                               point + "'";
  if (std::system(commande.c_str()) != 0) GTEST_SKIP() << "cannot mount an ext4 image here";
  Fichier("src/a/f", "f");
  Fichier("src/a/b/g", "g");
  auto Dater = [&](const std::string& rep) {
    const struct timespec temps[2] = {{kT, 123456789}, {kT, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, rep.c_str(), temps, 0), 0);
  };
  for (const char* rep : {"src/a/b", "src/a", "src"}) Dater(t.Chemin(rep));
  const std::string D2 = point + "/copie";
  EXPECT_TRUE(Traiter(S, D2, false).lignes.empty());
  EXPECT_EQ(LstatMiroir(D2 + "/a").st_mtim.tv_sec, kT);
  // The next run sets no date: one set would fail here, with a line. (Its lock's folder,
  // already there, is not made and removed, which keeps the root's date.)
  ASSERT_EQ(mkdir((D2 + "/.jumelix-archive").c_str(), 0700), 0);
  Dater(D2);
  test::SystemeFautif fs;
  fs.Echouer(platform::Operation::Attributs, EIO);
  EXPECT_EQ(Traiter(S, D2, false, fs).lignes, Lignes{});
  EXPECT_EQ(fs.Fautes(), 0);
  umount(point.c_str());
}

TEST(MemeDateAPrecision, TheSourceTimeAsACoarserFileSystemKeepsIt) {
  const struct {
    int64_t s;
    int32_t sn;
    int64_t d;
    int32_t dn;
    bool meme;
  } cas[] = {
      {10, 123456789, 10, 123456789, true},  // nanoseconds kept
      {10, 123456789, 10, 0, true},          // whole seconds
      {10, 123456789, 10, 120000000, true},  // 10 ms
      {10, 123456789, 10, 123456700, true},  // 100 ns
      {10, 123456789, 10, 130000000, false}, // later than the source
      {10, 123456789, 10, 110000000, false}, // more than the precision below it
      {10, 0, 10, 0, true},
      {10, 0, 11, 0, false},
      {11, 0, 10, 999999999, false},
  };
  for (const auto& c : cas) {
    EXPECT_EQ(platform::MemeDateAPrecision(c.s, c.sn, c.d, c.dn), c.meme) << c.sn << " " << c.dn;
  }
}

TEST_F(Miroir, ACaseFoldingDestinationGetsOneEntryPerName) {
  test::VolumeExfat volume;
  if (!volume.Monte()) GTEST_SKIP() << volume.Raison();
  const std::string V = volume.Racine();
  Fichier("src/notes.txt", "minuscules");
  Fichier("src/NOTES.txt", "majuscules");
  Fichier("src/LisezMoi.txt", "lisez");
  Fichier("src/Photos/a.jpg", "image");
  // A folder new on the volume: what the volume showed at its root holds there too.
  Fichier("src/Nouveau/memo.txt", "minuscules");
  Fichier("src/Nouveau/MEMO.txt", "majuscules");
  Fichier("src/con", "réservé");
  Fichier("src/aux.c", "réservé");
  Fichier("src/console.txt", "permis");
  Fichier("src/prive", "mode", 0600);
  t.Lien("src/lien", "prive");
  // Already on the volume, under other letter cases.
  ASSERT_EQ(mkdir((V + "/photos").c_str(), 0755), 0);
  FILE* f = fopen((V + "/lisezmoi.txt").c_str(), "w");
  fputs("lisez", f);
  fclose(f);
  struct timespec temps[2] = {{kT, 0}, {kT, 0}};
  utimensat(AT_FDCWD, (V + "/lisezmoi.txt").c_str(), temps, 0);

  Bilan avant = Traiter(S, V, true);
  EXPECT_NE(avant.Position(V + "/lisezmoi.txt ==> nom différent du fichier source : LisezMoi.txt"),
            avant.lignes.size());
  EXPECT_NE(avant.Position(V + "/photos ==> nom différent du fichier source : Photos"),
            avant.lignes.size());
  const Lignes attendues = {
      "Fichier non copié, son nom ne diffère que par la casse d'un autre : " + S + "/notes.txt",
      "Fichier non copié, son nom ne diffère que par la casse d'un autre : " + S +
          "/Nouveau/memo.txt",
      "Fichier non copié, son nom n'est pas correct : " + S + "/con",
      "Fichier non copié, son nom n'est pas correct : " + S + "/aux.c",
      "Fichier non copié, ce n'est pas un fichier ordinaire : " + S + "/lien"};
  Bilan b = Traiter(S, V, false);
  Lignes triees = attendues;
  std::sort(triees.begin(), triees.end());
  EXPECT_EQ(b.Tries(), triees);
  EXPECT_EQ(TempTree::Noms(V),
            (Lignes{"LisezMoi.txt", "NOTES.txt", "Nouveau", "Photos", "console.txt", "prive"}));
  EXPECT_EQ(TempTree::Noms(V + "/Nouveau"), Lignes{"MEMO.txt"});
  EXPECT_EQ(TempTree::Lire(V + "/NOTES.txt"), "majuscules");
  EXPECT_EQ(TempTree::Lire(V + "/Photos/a.jpg"), "image");
  // The same survivor at every run; modes the volume cannot keep are no difference.
  Bilan encore = Traiter(S, V, false);
  EXPECT_EQ(encore.Tries(), b.Tries());
  EXPECT_EQ(encore.copies, 0);
  EXPECT_EQ(TempTree::Lire(V + "/NOTES.txt"), "majuscules");
  Bilan cmp = Traiter(S, V, true);
  EXPECT_EQ(cmp.lignes.size(), 5u) << cmp.lignes.front();  // the collisions and what is refused
}

}  // namespace
}  // namespace jumelix
