#include "engine/UDelta.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <sstream>

#include "engine/Archive.h"
#include "shared/UMessErreurs.h"
#include "platform/VerrouRepertoire.h"
#include "support/BilanParcours.h"
#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::Bilan;
using test::TempTree;
using test::Traiter;

using Lignes = std::vector<std::string>;

Lignes Tries(Lignes v) {
  std::sort(v.begin(), v.end());
  return v;
}

const time_t kTUDelta = TempTree::HeureLocale(2023, 3, 15, 10, 0, 0);

// Synchronising takes a lock under the state directory: every test of this program gets a
// state directory of its own instead of the user's.
class EtatPrive : public ::testing::Environment {
 public:
  void SetUp() override {
    arbre_ = std::make_unique<TempTree>();
    setenv("XDG_STATE_HOME", arbre_->Chemin("etat").c_str(), 1);
  }
  void TearDown() override { arbre_.reset(); }

 private:
  std::unique_ptr<TempTree> arbre_;
};
[[maybe_unused]] ::testing::Environment* const kEtatPrive =
    ::testing::AddGlobalTestEnvironment(new EtatPrive);

class Parcours : public ::testing::Test {
 protected:
  void SetUp() override {
    S = t.Repertoire("src");
    D = t.Repertoire("dst");
  }
  // A file with the same content and time on both sides.
  void Pareil(const std::string& rel, const std::string& contenu = "pareil") {
    Fichier("src/" + rel, contenu);
    Fichier("dst/" + rel, contenu);
  }
  std::string Fichier(const std::string& rel, const std::string& contenu, time_t quand = kTUDelta) {
    std::string c = t.Fichier(rel, contenu);
    t.DateModif(rel, quand);
    return c;
  }
  // The tree that shows every kind of difference once.
  void ArbreDeDifferences() {
    Pareil("pareil.txt");
    Fichier("src/diff.txt", "source plus longue");
    Fichier("dst/diff.txt", "courte");
    Fichier("src/manque.txt", "m");
    Fichier("src/sousrep/x", "x");
    Pareil("commun/y");
    Fichier("dst/entrop.txt", "e");
    Fichier("dst/reptrop/z", "z");
  }

  TempTree t;
  std::string S, D;
};

TEST_F(Parcours, CompareReportsEveryDifferenceOnceAndTouchesNothing) {
  ArbreDeDifferences();
  Bilan b = Traiter(S, D, true);
  EXPECT_EQ(
      b.Tries(),
      Tries({D + "/diff.txt ==> diffère du fichier source.",
             D + "/manque.txt ==> Fichier inexistant", D + "/sousrep ==> Répertoire inexistant",
             D + "/entrop.txt ==> Fichier en trop.", D + "/reptrop ==> Répertoire en trop.",
             "Erreur en lisant le répertoire " + D + "/sousrep"}));
  EXPECT_EQ(b.resultat, 6);
  EXPECT_EQ(b.numeros, (std::vector<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(b.identiques, 2);
  EXPECT_EQ(b.copies, 0);
  EXPECT_EQ(b.supprimes, 0);
  // Surplus lines follow the matching of their level; files before directories; the
  // missing subdirectory's reading error comes with its descent, after its level.
  const size_t fichier_en_trop = b.Position(D + "/entrop.txt ==> Fichier en trop.");
  EXPECT_LT(b.Position(D + "/diff.txt ==> diffère du fichier source."), fichier_en_trop);
  EXPECT_LT(b.Position(D + "/manque.txt ==> Fichier inexistant"), fichier_en_trop);
  EXPECT_LT(fichier_en_trop, b.Position(D + "/reptrop ==> Répertoire en trop."));
  EXPECT_EQ(b.lignes.back(), "Erreur en lisant le répertoire " + D + "/sousrep");
  EXPECT_EQ(TempTree::Noms(D),
            Tries({"commun", "diff.txt", "entrop.txt", "pareil.txt", "reptrop"}));
  EXPECT_EQ(TempTree::Lire(D + "/diff.txt"), "courte");
}

TEST_F(Parcours, SynchroniseMakesTheDestinationIdenticalAndCounts) {
  ArbreDeDifferences();
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(b.resultat, 0);
  EXPECT_EQ(b.copies, 3);     // diff.txt, manque.txt, sousrep/x
  EXPECT_EQ(b.supprimes, 2);  // entrop.txt, reptrop/z (directories are not counted)
  EXPECT_EQ(b.identiques, 2);
  EXPECT_EQ(TempTree::Noms(D),
            Tries({"commun", "diff.txt", "manque.txt", "pareil.txt", "sousrep"}));
  EXPECT_EQ(TempTree::Lire(D + "/diff.txt"), "source plus longue");
  EXPECT_EQ(TempTree::Lire(D + "/sousrep/x"), "x");
  // The source is only read.
  EXPECT_EQ(TempTree::Noms(S),
            Tries({"commun", "diff.txt", "manque.txt", "pareil.txt", "sousrep"}));

  Bilan apres = Traiter(S, D, true);
  EXPECT_TRUE(apres.lignes.empty());
  EXPECT_EQ(apres.identiques, 5);
}

TEST_F(Parcours, CallbacksAreOptional) {
  ArbreDeDifferences();
  TEtatRun etat;
  EXPECT_EQ(TraiterCouple(S, D, true, {}, {}, etat), 6);
  EXPECT_EQ(etat.NbIdentiques, 2);
  EXPECT_EQ(TraiterCouple(S, D, false, {}, {}, etat), 0);
  EXPECT_EQ(TraiterCouple(S, D, true, {}, {}, etat), 0);
}

TEST_F(Parcours, RootsThatAreMissingOrRefused) {
  const std::string absente = t.Chemin("absente");
  EXPECT_EQ(Traiter(absente, D, true).lignes,
            Lignes{absente + " ==> Répertoire source non accessible"});
  EXPECT_EQ(Traiter(absente, D, false).lignes,
            Lignes{absente + " ==> Répertoire source non accessible"});
  const std::string fichier = t.Fichier("simple", "x");
  EXPECT_EQ(Traiter(fichier, D, false).lignes,
            Lignes{fichier + " ==> Répertoire source non accessible"});
  EXPECT_EQ(Traiter(S, absente, true).lignes,
            Lignes{absente + " ==> Répertoire destination inexistant"});
  EXPECT_FALSE(TempTree::Existe(absente));

  Bilan refuse = Traiter(S, S + "/dedans", false);
  EXPECT_EQ(refuse.lignes, Lignes{"Répertoires source et destination incompatibles"});
  EXPECT_EQ(refuse.resultat, 1);
  EXPECT_FALSE(TempTree::Existe(S + "/dedans"));

  const std::string impossible = fichier + "/sous";
  EXPECT_EQ(Traiter(S, impossible, false).lignes,
            Lignes{"Abandon : Impossible de créer le répertoire " + impossible + " " +
                   TexteErreurSysteme(ENOTDIR)});
}

TEST_F(Parcours, SynchroniseCreatesOnlyTheLastComponentOfAMissingDestination) {
  Fichier("src/a/f", "contenu");
  // The mount point of a disk that is not there: nothing is created beneath it.
  const std::string loin = t.Chemin("neuf/b/c");
  EXPECT_EQ(Traiter(S, loin, false).lignes, Lignes{"Abandon : Impossible de créer le répertoire " +
                                                   loin + ", son répertoire parent n'existe pas"});
  EXPECT_FALSE(TempTree::Existe(t.Chemin("neuf")));
  const std::string proche = t.Chemin("neuf");
  Bilan b = Traiter(S, proche, false);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(TempTree::Lire(proche + "/a/f"), "contenu");
  EXPECT_EQ(b.copies, 1);
}

TEST_F(Parcours, TimesAreComparedToTheSecond) {
  struct Cas {
    const char* nom;
    time_t source, destination;
    bool identiques;
  };
  auto h = [](int j, int hh, int mm, int ss) {
    return TempTree::HeureLocale(2023, 3, j, hh, mm, ss);
  };
  const std::vector<Cas> cas = {
      {"egal", h(15, 10, 0, 0), h(15, 10, 0, 0), true},
      {"seconde", h(15, 10, 0, 0), h(15, 10, 0, 1), false},
      {"quatre-minutes", h(15, 10, 0, 0), h(15, 10, 4, 8), false},
      {"avant", h(15, 10, 4, 8), h(15, 10, 0, 0), false},
      {"jour", h(15, 23, 59, 58), h(16, 0, 0, 0), false},
  };
  Lignes attendues;
  for (const Cas& c : cas) {
    Fichier(std::string("src/") + c.nom, "meme taille", c.source);
    Fichier(std::string("dst/") + c.nom, "meme taille", c.destination);
    if (!c.identiques) attendues.push_back(D + "/" + c.nom + " ==> diffère du fichier source.");
  }
  // Within one second, the nanoseconds do not matter.
  Fichier("src/nanos", "n");
  Fichier("dst/nanos", "n");
  t.DateModif("src/nanos", kTUDelta, 900000000);
  Bilan b = Traiter(S, D, true);
  EXPECT_EQ(b.Tries(), Tries(attendues));
  EXPECT_EQ(b.identiques, 2);
  // A same-size edit within the same minute reaches the mirror.
  Fichier("src/egal", "MEME TAILLE", h(15, 10, 0, 1));
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(TempTree::Lire(D + "/egal"), "MEME TAILLE");
}

TEST_F(Parcours, TimesOutsideThePackedRangeAreNeverTakenForOthers) {
  const time_t t1975 = TempTree::HeureLocale(1975, 6, 1, 12, 0, 0);
  const time_t t2110 = TempTree::HeureLocale(2110, 6, 1, 12, 0, 0);
  Fichier("src/vieux", "v", t1975);
  Fichier("dst/vieux", "v", t1975);
  Fichier("src/futur", "f", t2110);
  Fichier("dst/futur", "f", t2110);
  Fichier("src/bord", "b", TempTree::HeureLocale(1979, 12, 31, 23, 59, 59));
  Fichier("dst/bord", "b", TempTree::HeureLocale(1980, 1, 1, 0, 0, 0));
  Fichier("src/epoque", "e", 0);
  Fichier("dst/epoque", "e", TempTree::HeureLocale(1980, 1, 1, 0, 0, 0));
  Fichier("src/eloignes", "l", t1975);
  Fichier("dst/eloignes", "l", t1975 + 3600);
  Bilan b = Traiter(S, D, true);
  EXPECT_EQ(b.Tries(), Tries({D + "/bord ==> diffère du fichier source.",
                              D + "/epoque ==> diffère du fichier source.",
                              D + "/eloignes ==> diffère du fichier source."}));
  EXPECT_EQ(b.identiques, 2);
}

TEST_F(Parcours, SizesAreComparedInFull) {
  // 4 GiB apart: equal in the low 32 bits, still different files.
  t.FichierCreux("src/gros", (off_t{1} << 32) + 1);
  t.DateModif("src/gros", kTUDelta);
  Fichier("dst/gros", "x");
  Fichier("src/autre", "abc");
  Fichier("dst/autre", "abcd");
  Bilan b = Traiter(S, D, true);
  EXPECT_EQ(b.Tries(), Tries({D + "/autre ==> diffère du fichier source.",
                              D + "/gros ==> diffère du fichier source."}));
}

TEST_F(Parcours, NamesMatchExactlyOnACaseSensitiveSystem) {
  Fichier("src/Readme.TXT", "lisez");
  Fichier("dst/README.txt", "lisez");
  Bilan b = Traiter(S, D, true);
  EXPECT_EQ(b.Tries(), Tries({D + "/Readme.TXT ==> Fichier inexistant",
                              D + "/README.txt ==> Fichier en trop."}));
  // A case-only rename reaches the mirror.
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(TempTree::Noms(D), Lignes{"Readme.TXT"});
}

TEST_F(Parcours, AnExactNameWinsOverACaseFoldedOne) {
  Fichier("src/Notes.txt", "identique");
  Fichier("dst/NOTES.TXT", "autre contenu");
  Fichier("dst/Notes.txt", "identique");
  Bilan b = Traiter(S, D, true);
  EXPECT_EQ(b.lignes, Lignes{D + "/NOTES.TXT ==> Fichier en trop."});
  EXPECT_EQ(b.identiques, 1);
}

TEST_F(Parcours, NamesDifferingOnlyInCaseConvergeOnACaseSensitiveSystem) {
  Fichier("src/a.txt", "minuscule");
  Fichier("src/A.txt", "MAJUSCULE");
  Fichier("dst/a.txt", "vieux");
  Fichier("src/Docs/f", "1");
  Fichier("src/docs", "un fichier nommé comme le répertoire");
  Fichier("dst/docs", "ancien fichier");
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(TempTree::Lire(D + "/a.txt"), "minuscule");
  EXPECT_EQ(TempTree::Lire(D + "/A.txt"), "MAJUSCULE");
  EXPECT_EQ(TempTree::Lire(D + "/docs"), "un fichier nommé comme le répertoire");
  EXPECT_EQ(TempTree::Lire(D + "/Docs/f"), "1");
  EXPECT_TRUE(Traiter(S, D, true).lignes.empty());
}

TEST_F(Parcours, SynchroniseCreatesAnEmptySourceDirectory) {
  t.Repertoire("src/vide");
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(TempTree::Noms(D), Lignes{"vide"});
  EXPECT_TRUE(TempTree::Noms(D + "/vide").empty());
}

TEST_F(Parcours, AFileWhereTheSourceHasADirectoryGivesWay) {
  Fichier("src/rep/dedans", "d");
  Fichier("dst/rep", "un fichier");
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(b.supprimes, 1);
  EXPECT_EQ(b.copies, 1);
  EXPECT_EQ(TempTree::Lire(D + "/rep/dedans"), "d");
}

TEST_F(Parcours, ADirectoryWhereTheSourceHasAFileOrLinkIsReplacedInOneRun) {
  Fichier("src/nom", "fichier");
  Fichier("dst/nom/interieur", "i");
  t.Lien("src/lien", "cible");
  Fichier("dst/lien/x", "x");
  Bilan cmp = Traiter(S, D, true);
  EXPECT_EQ(cmp.Tries(),
            Tries({D + "/nom ==> Fichier inexistant", D + "/nom ==> Répertoire en trop.",
                   D + "/lien ==> Fichier inexistant", D + "/lien ==> Répertoire en trop."}));

  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(b.supprimes, 2);
  EXPECT_EQ(b.copies, 2);
  EXPECT_EQ(TempTree::Lire(D + "/nom"), "fichier");
  struct stat st;
  ASSERT_EQ(lstat((D + "/lien").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(TempTree::Noms(D), Tries({"lien", "nom"}));  // no temporary file left behind
}

TEST_F(Parcours, AReadOnlyDestinationFileIsReplacedAndTakesTheSourceMode) {
  std::string src = Fichier("src/f", "nouvelle version", kTUDelta + 3600);
  chmod(src.c_str(), 0640);
  std::string dst = Fichier("dst/f", "ancienne");
  chmod(dst.c_str(), 0444);
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(b.copies, 1);
  struct stat st;
  ASSERT_EQ(stat(dst.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, kTUDelta + 3600);
  EXPECT_EQ(TempTree::Lire(dst), "nouvelle version");
}

TEST_F(Parcours, AFileDifferingOnlyInModeIsFixedInPlace) {
  Pareil("f");
  chmod(t.Chemin("src/f").c_str(), 0600);
  chmod(t.Chemin("dst/f").c_str(), 0644);
  struct stat avant;
  ASSERT_EQ(stat(t.Chemin("dst/f").c_str(), &avant), 0);
  EXPECT_EQ(Traiter(S, D, true).lignes,
            Lignes{D + "/f ==> attributs différents du fichier source."});
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(b.identiques, 1);
  EXPECT_EQ(b.copies, 0);
  struct stat st;
  ASSERT_EQ(stat(t.Chemin("dst/f").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_ino, avant.st_ino);  // not copied again
  EXPECT_TRUE(Traiter(S, D, true).lignes.empty());
}

TEST_F(Parcours, SurplusIsDeletedAndEachFileCountedOnce) {
  Fichier("dst/trop/a", "a");
  Fichier("dst/trop/b", "b");
  std::string ro = Fichier("dst/trop/c", "c");
  chmod(ro.c_str(), 0444);
  chmod(t.Chemin("dst/trop").c_str(), 0555);
  Fichier("dst/seul", "s");
  Pareil("reste");  // an empty source would leave the destination alone
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(b.supprimes, 4);
  EXPECT_EQ(TempTree::Noms(D), Lignes{"reste"});
}

TEST_F(Parcours, ReservedDeviceNamesAreOrdinaryNamesOnLinuxFileSystems) {
  for (const char* n : {"con", "Nul.txt", "aux.dat", "CONSOLE.txt", "con2"})
    Fichier(std::string("src/") + n, "x");
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(b.copies, 5);
}

TEST_F(Parcours, HiddenEntriesTakePart) {
  Fichier("src/.cache/.f", "cache");
  Fichier("dst/.vieux", "v");
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(TempTree::Noms(D), Lignes{".cache"});
  EXPECT_EQ(TempTree::Lire(D + "/.cache/.f"), "cache");
}

TEST_F(Parcours, DestinationLinksAreRemovedAsLinksNeverFollowed) {
  std::string dehors = t.Repertoire("dehors");
  t.Fichier("dehors/precieux", "garder");
  t.Lien("dst/lien-surplus", dehors);
  t.Lien("dst/remplace", dehors);
  Fichier("src/remplace/neuf", "n");
  t.Lien("dst/trop/lien", dehors);
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(TempTree::Noms(D), Lignes{"remplace"});
  struct stat st;
  ASSERT_EQ(lstat((D + "/remplace").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(TempTree::Noms(dehors), Lignes{"precieux"});
  EXPECT_EQ(TempTree::Lire(dehors + "/precieux"), "garder");
}

TEST_F(Parcours, CompareDoesNotEnterALinkWhereTheSourceHasADirectory) {
  std::string dehors = t.Repertoire("dehors");
  t.Fichier("dehors/f", "pareil");
  t.Lien("dst/rep", dehors);
  Fichier("src/rep/f", "pareil");
  Bilan b = Traiter(S, D, true);
  EXPECT_EQ(b.Tries(), Tries({D + "/rep ==> Répertoire inexistant", D + "/rep ==> Fichier en trop.",
                              "Erreur en lisant le répertoire " + D + "/rep"}));
}

TEST_F(Parcours, SourceLinksAreCopiedAsLinks) {
  t.Lien("src/vers-dehors", "../dehors/ailleurs");
  t.Lien("src/casse", "nulle-part");
  t.DateModif("src/casse", kTUDelta);
  Fichier("dst/vers-dehors", "un fichier ordinaire de même taille");
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(b.copies, 2);
  char cible[64] = {};
  ASSERT_GT(readlink((D + "/casse").c_str(), cible, sizeof cible - 1), 0);
  EXPECT_STREQ(cible, "nulle-part");
  struct stat st;
  ASSERT_EQ(lstat((D + "/vers-dehors").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(lstat((D + "/casse").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, kTUDelta);
  Bilan apres = Traiter(S, D, true);
  EXPECT_TRUE(apres.lignes.empty());
  EXPECT_EQ(apres.identiques, 2);
}

TEST_F(Parcours, ALinkRetargetedToATargetOfTheSameLengthDiffers) {
  t.Lien("src/x", "abc");
  t.DateModif("src/x", kTUDelta);
  t.Lien("dst/x", "xyz");
  t.DateModif("dst/x", kTUDelta);
  EXPECT_EQ(Traiter(S, D, true).lignes, Lignes{D + "/x ==> diffère du fichier source."});
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  char cible[8] = {};
  ASSERT_EQ(readlink((D + "/x").c_str(), cible, sizeof cible - 1), 3);
  EXPECT_STREQ(cible, "abc");
}

TEST_F(Parcours, ALinkAndAFileOfTheSameSizeAndTimeDiffer) {
  t.Lien("src/x", "abc");
  t.DateModif("src/x", kTUDelta);
  Fichier("dst/x", "abc");
  EXPECT_EQ(Traiter(S, D, true).lignes, Lignes{D + "/x ==> diffère du fichier source."});
}

TEST_F(Parcours, SpecialFilesAreMirroredWithoutBeingOpened) {
  t.Fifo("src/tube");
  chmod(t.Chemin("src/tube").c_str(), 0640);
  t.DateModif("src/tube", kTUDelta);
  t.Fifo("dst/tube-en-trop");
  Fichier("src/ordinaire", "o");
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(mknod(t.Chemin("src/nul").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  }
  const std::string s = S, d = D;
  // A walk that opened the FIFO would block; the child is killed after 20 s.
  auto sync = test::ExecuterDansFils(
      {}, [&] { return Traiter(s, d, false).Serialiser(); }, 20);
  ASSERT_TRUE(sync.has_value()) << "the walk hung or crashed";
  Bilan b = Bilan::Relire(*sync);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(b.copies, root ? 3 : 2);
  EXPECT_EQ(b.supprimes, 1);
  struct stat st;
  ASSERT_EQ(lstat((D + "/tube").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_mtim.tv_sec, kTUDelta);
  if (root) {
    ASSERT_EQ(lstat((D + "/nul").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, makedev(1, 3));
  }
  auto cmp = test::ExecuterDansFils(
      {}, [&] { return Traiter(s, d, true).Serialiser(); }, 20);
  ASSERT_TRUE(cmp.has_value());
  EXPECT_TRUE(Bilan::Relire(*cmp).lignes.empty());
  // A device where the source has another device, or a FIFO, differs.
  if (root) {
    std::remove((D + "/nul").c_str());
    ASSERT_EQ(mknod((D + "/nul").c_str(), S_IFCHR | 0666, makedev(1, 5)), 0);
    EXPECT_EQ(Traiter(S, D, true).lignes, Lignes{D + "/nul ==> diffère du fichier source."});
  }
}

TEST_F(Parcours, ASpecialFileThatCannotBeMadeIsReportedOnce) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a device in the source";
  ASSERT_EQ(mknod(t.Chemin("src/nul").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  chmod(S.c_str(), 0755);
  chmod(t.Racine().c_str(), 0755);
  ASSERT_EQ(chown(D.c_str(), test::kIdNobody, test::kIdNobody), 0);
  const std::string s = S, d = D;
  auto r = test::ExecuterDansFils(test::DevenirNobody,
                                  [&] { return Traiter(s, d, false).Serialiser(); });
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(Bilan::Relire(*r).lignes,
            Lignes{"Fichier non copié, ce n'est pas un fichier ordinaire : " + S + "/nul"});
  EXPECT_TRUE(TempTree::Noms(D).empty());
}

TEST_F(Parcours, AFailedCopyLeavesTheOldFileAndNoTemporaryFile) {
  Fichier("src/gros", std::string(256 * 1024, 'n'), kTUDelta + 7200);
  Fichier("dst/gros", "ancien contenu");
  const std::string s = S, d = D;
  auto r = test::ExecuterDansFils(
      [] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
      },
      [&] { return Traiter(s, d, false).Serialiser(); });
  ASSERT_TRUE(r.has_value());
  Bilan b = Bilan::Relire(*r);
  EXPECT_EQ(b.lignes, Lignes{"Erreur lors de la copie du fichier " + S + "/gros vers " + D +
                             "/gros. " + TexteErreurSysteme(EFBIG)});
  EXPECT_EQ(b.copies, 0);
  EXPECT_EQ(TempTree::Noms(D), Lignes{"gros"});
  EXPECT_EQ(TempTree::Lire(D + "/gros"), "ancien contenu");
}

// Permission failures, provoked by walking as an unprivileged user over root's entries.
class ParcoursSansDroits : public Parcours {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the walk as another user";
    Parcours::SetUp();
    chmod(t.Racine().c_str(), 0755);
    chmod(S.c_str(), 0755);
    Donner(D);
  }
  void Donner(const std::string& chemin) {
    ASSERT_EQ(chown(chemin.c_str(), test::kIdNobody, test::kIdNobody), 0);
  }
  Bilan TraiterSansDroits(bool comparer) {
    const std::string s = S, d = D;
    auto r = test::ExecuterDansFils(test::DevenirNobody,
                                    [&] { return Traiter(s, d, comparer).Serialiser(); });
    EXPECT_TRUE(r.has_value());
    return r ? Bilan::Relire(*r) : Bilan{};
  }
};

TEST_F(ParcoursSansDroits, AnUnreadableSourceDirectoryLeavesItsDestinationAlone) {
  Fichier("src/prive/secret", "s");
  chmod(t.Chemin("src/prive").c_str(), 0700);
  Fichier("dst/prive/garde", "g");
  Donner(D + "/prive");
  Donner(D + "/prive/garde");
  Bilan b = TraiterSansDroits(false);
  EXPECT_EQ(b.lignes, Lignes{"Erreur " + TexteErreurSysteme(EACCES) + " " + S + "/prive"});
  EXPECT_EQ(TempTree::Lire(D + "/prive/garde"), "g");
}

TEST_F(ParcoursSansDroits, FailuresInAProtectedDestinationAreReportedOneByOne) {
  // dst/verrou belongs to root and is not writable for the walk.
  Fichier("src/verrou/nouveau", "n");
  t.Repertoire("src/verrou/sousrep");
  Fichier("src/verrou/change", "version source", kTUDelta + 60);
  Fichier("dst/verrou/change", "ancienne");
  Fichier("dst/verrou/trop", "t");
  Fichier("dst/verrou/reptrop/f", "f");
  // A file where the source has a directory, which cannot give way: only the creation
  // failure is reported (and the descent cannot read it).
  Fichier("src/verrou/bloque/f", "f");
  Fichier("dst/verrou/bloque", "fichier");
  Fichier("src/illisible/f", "f");
  Fichier("dst/illisible/f", "f");
  chmod(t.Chemin("dst/illisible").c_str(), 0700);
  const std::string v = D + "/verrou";
  // Its time already agrees with the source's: the walk could not set it.
  t.DateModif("src/verrou", kTUDelta);
  t.DateModif("dst/verrou", kTUDelta);
  Bilan b = TraiterSansDroits(false);
  EXPECT_EQ(b.Tries(), Tries({"Erreur lors de la copie du fichier " + S + "/verrou/nouveau vers " +
                                  v + "/nouveau. " + TexteErreurSysteme(EACCES),
                              "Erreur lors de la copie du fichier " + S + "/verrou/change vers " +
                                  v + "/change. " + TexteErreurSysteme(EACCES),
                              "Impossible de créer " + v + "/sousrep",
                              "Erreur en lisant le répertoire " + v + "/sousrep",
                              "Impossible de supprimer le fichier " + v + "/trop",
                              "Impossible de supprimer le répertoire " + v + "/reptrop",
                              "Erreur en lisant le répertoire " + D + "/illisible",
                              "Impossible de créer " + v + "/bloque",
                              "Erreur en lisant le répertoire " + v + "/bloque"}));
  EXPECT_EQ(b.resultat, 9);
  EXPECT_EQ(b.copies + b.supprimes, 0);
  EXPECT_EQ(TempTree::Lire(v + "/change"), "ancienne");
  EXPECT_EQ(TempTree::Noms(v), Tries({"bloque", "change", "reptrop", "trop"}));
  EXPECT_EQ(TempTree::Lire(v + "/bloque"), "fichier");
}

TEST_F(ParcoursSansDroits, OwnReadOnlyDirectoriesAreOpenedForTheChangeAndRestored) {
  Fichier("src/ro/nouveau", "n");
  Fichier("dst/ro/trop", "t");
  Donner(D + "/ro");
  chmod((D + "/ro").c_str(), 0555);
  chmod(t.Chemin("src/ro").c_str(), 0555);
  Bilan b = TraiterSansDroits(false);
  EXPECT_TRUE(b.lignes.empty()) << b.lignes.front();
  EXPECT_EQ(TempTree::Noms(D + "/ro"), Lignes{"nouveau"});
  struct stat st;
  ASSERT_EQ(stat((D + "/ro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0555u);
}

TEST_F(Parcours, DeletionNeverCrossesIntoAnotherFileSystem) {
  std::string point = t.Repertoire("dst/trop/monte");
  t.Fichier("dst/trop/avant", "a");
  if (mount("jumelix-test", point.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  }
  t.Fichier("dst/trop/monte/etranger", "e");
  Pareil("reste");  // an empty source would leave the destination alone
  Bilan b = Traiter(S, D, false);
  EXPECT_EQ(b.lignes, Lignes{"Impossible de supprimer le répertoire " + D + "/trop"});
  EXPECT_EQ(TempTree::Lire(point + "/etranger"), "e");
  umount(point.c_str());
}

TEST_F(Parcours, CheckPointsComeWhereTheWalkPromises) {
  Pareil("a");
  Pareil("b");
  Pareil("c");
  Fichier("dst/x/f", "");
  Fichier("dst/y/f", "");
  int appels = 0;
  auto compter = [&](bool&) { ++appels; };
  // compare: after reading the destination, after each source entry, after the matching;
  // none for the surplus.
  Traiter(S, D, true, compter);
  EXPECT_EQ(appels, 1 + 3 + 1);
  appels = 0;
  // synchronise: one more after each surplus directory.
  Traiter(S, D, false, compter);
  EXPECT_EQ(appels, 1 + 3 + 1 + 2);
}

TEST_F(Parcours, AStopDuringTheCopiesTakesEffectAtTheNextCheckPoint) {
  for (char c = 'a'; c <= 'f'; ++c) Fichier(std::string("src/") + c, "x");
  Fichier("src/sous/profond", "p");
  Fichier("dst/trop", "t");
  int apres = 0, appels = 0;
  // The first check point follows the reading of the destination, then one follows each
  // source entry; the surplus goes before the copies.
  Bilan b = Traiter(S, D, false, [&](bool& abandon) {
    if (abandon) ++apres;
    if (++appels == 2) abandon = true;
  });
  EXPECT_TRUE(b.abandon);
  // Copies written before the stop are published, nothing else. The entries come in the
  // file system's order: "sous" may come first and be made before the stop, empty.
  std::vector<std::string> noms = TempTree::Noms(D);
  std::erase(noms, "sous");
  EXPECT_EQ(static_cast<size_t>(b.copies), noms.size()) << ::testing::PrintToString(noms);
  EXPECT_LE(b.copies, 2);
  EXPECT_EQ(b.supprimes, 1);
  EXPECT_FALSE(TempTree::Existe(D + "/trop"));
  EXPECT_FALSE(TempTree::Existe(D + "/sous/profond"));
  EXPECT_LE(apres, 1);

  // The next pair starts with the flag down.
  Bilan suite = Traiter(S, D, false);
  EXPECT_FALSE(suite.abandon);
  EXPECT_EQ(TempTree::Lire(D + "/sous/profond"), "p");
  EXPECT_FALSE(TempTree::Existe(D + "/trop"));
}

TEST_F(Parcours, AStopAfterASurplusDirectoryEndsTheLevel) {
  Fichier("src/sous/f", "f");
  Fichier("dst/x/f", "");
  Fichier("dst/y/f", "");
  TEtatRun etat;
  Bilan b = Traiter(
      S, D, false, [&](bool& abandon) { abandon = abandon || etat.NbSupprimes > 0; }, &etat);
  EXPECT_EQ(b.supprimes, 1);
  EXPECT_EQ(TempTree::Noms(D).size(), 1u);  // the other surplus directory; nothing copied
  EXPECT_FALSE(TempTree::Existe(D + "/sous"));
}

TEST_F(Parcours, AStopInsideASubdirectoryEndsEveryLevel) {
  Fichier("src/un/f", "1");
  Fichier("src/deux/f", "2");
  Fichier("src/fin", "3");
  int appels = 0;
  // Root level: 1 + 3 entries + 1 = 5 calls; the 6th is in the first subdirectory, after
  // reading its (empty) destination.
  Bilan b = Traiter(S, D, false, [&](bool& abandon) {
    if (++appels == 6) abandon = true;
  });
  EXPECT_EQ(appels, 6);
  EXPECT_EQ(b.copies, 1);  // "fin", copied at the root level
  EXPECT_TRUE(TempTree::Noms(D + "/un").empty());
  EXPECT_TRUE(TempTree::Noms(D + "/deux").empty());
}

// ---- Guards of unattended runs ----

TEST_F(Parcours, AnEmptySourceNeverEmptiesAFilledDestination) {
  Fichier("dst/garde.txt", "précieux");
  Fichier("dst/rep/f", "f");
  Bilan b = Traiter(S, D, false);
  EXPECT_EQ(b.lignes, Lignes{"Abandon : le répertoire source " + S +
                             " est vide, le répertoire cible n'est pas vidé"});
  EXPECT_EQ(b.resultat, 1);
  EXPECT_EQ(b.supprimes, 0);
  EXPECT_EQ(TempTree::Noms(D), (Lignes{"garde.txt", "rep"}));
  EXPECT_EQ(TempTree::Lire(D + "/rep/f"), "f");

  // Compare mode only reports, so it keeps showing what is in the way.
  EXPECT_EQ(Traiter(S, D, true).Tries(),
            Tries({D + "/garde.txt ==> Fichier en trop.", D + "/rep ==> Répertoire en trop."}));

  // An empty directory or a hidden file is something too.
  t.Repertoire("dst2/vide");
  EXPECT_EQ(Traiter(S, t.Chemin("dst2"), false).resultat, 1);
  EXPECT_TRUE(TempTree::Existe(t.Chemin("dst2/vide")));
}

TEST_F(Parcours, TheEmptySourceGuardLetsEveryOtherCaseThrough) {
  // Both empty: nothing to do, nothing to say.
  EXPECT_EQ(Traiter(S, D, false).resultat, 0);
  // A missing destination is created, empty.
  const std::string neuve = t.Chemin("neuve");
  EXPECT_EQ(Traiter(S, neuve, false).resultat, 0);
  EXPECT_TRUE(TempTree::Existe(neuve));
  // A source holding only a hidden file or an empty directory is not empty.
  Fichier("dst/vieux", "v");
  Fichier("src/.cache", "c");
  Bilan b = Traiter(S, D, false);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(TempTree::Noms(D), Lignes{".cache"});
  std::remove((S + "/.cache").c_str());
  t.Repertoire("src/seul");
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(TempTree::Noms(D), Lignes{"seul"});
  // A missing source keeps its own line.
  const std::string absente = t.Chemin("absente");
  EXPECT_EQ(Traiter(absente, D, false).lignes,
            Lignes{absente + " ==> Répertoire source non accessible"});
}

TEST_F(Parcours, AnEmptyMountPointAsSourceIsRefused) {
  // The disk that was not mounted: the mount point is an empty directory, then it is not.
  const std::string point = t.Repertoire("montage");
  Fichier("dst/f", "f");
  EXPECT_EQ(Traiter(point, D, false).resultat, 1);
  if (mount("jumelix-test", point.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  t.Fichier("montage/g", "g");
  Bilan b = Traiter(point, D, false);
  umount(point.c_str());
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(b.copies, 1);
  EXPECT_EQ(TempTree::Noms(D), Lignes{"g"});
}

TEST_F(Parcours, ASynchronisationLocksItsDestinationForTheWholeWalk) {
  Fichier("src/a", "a");
  Fichier("src/sous/b", "b");
  // The destination does not exist yet: it is locked as soon as the walk has made it. The
  // lock is its archive folder, made for the walk and gone with it when nothing was kept.
  const std::string chemin = t.Chemin("neuve");
  const std::string dossier = chemin + "/" + kNomArchive;
  std::string essais;  // one letter per attempt: R refused, A absent, else P taken
  Bilan b = Traiter(S, chemin, false, [&](bool&) {
    platform::TVerrouRepertoire autre;
    const int r = autre.Prendre(dossier);
    essais += r == EWOULDBLOCK ? 'R' : r == ENOENT ? 'A' : 'P';
  });
  EXPECT_TRUE(b.lignes.empty());
  // Refused all along; the folder goes once every change is on disk but the last flush.
  EXPECT_TRUE(std::regex_match(essais, std::regex("R+A?"))) << essais;
  EXPECT_EQ(TempTree::Noms(chemin), (Lignes{"a", "sous"}));
  EXPECT_EQ(test::EcartsRsync(S, chemin), "");  // the destination's time was kept

  // A compare takes no lock: it changes nothing.
  int libres = 0;
  ASSERT_EQ(mkdir(dossier.c_str(), 0700), 0);
  Traiter(S, chemin, true, [&](bool&) {
    platform::TVerrouRepertoire autre;
    if (autre.Prendre(dossier) == 0) ++libres;
  });
  EXPECT_GT(libres, 0);
}

TEST_F(Parcours, ALockedDestinationIsLeftToItsHolder) {
  Fichier("src/neuf", "n");
  Fichier("dst/vieux", "v");
  t.Lien("autre nom", D);
  // Held by another run, as runs hold it: on the destination's archive folder.
  platform::TVerrouRepertoire tenu;
  ASSERT_EQ(mkdir((D + "/" + kNomArchive).c_str(), 0700), 0);
  ASSERT_EQ(tenu.Prendre(D + "/" + kNomArchive), 0);

  for (const std::string& d : {D, t.Chemin("autre nom")}) {
    Bilan b = Traiter(S, d, false);
    EXPECT_EQ(b.lignes, Lignes{"Abandon : une autre synchronisation de " + d + " est en cours"});
    EXPECT_EQ(b.resultat, 1);
  }
  // Held by another process: the same.
  auto dans_fils = test::ExecuterDansFils({}, [&] { return Traiter(S, D, false).Serialiser(); });
  ASSERT_TRUE(dans_fils.has_value());
  EXPECT_EQ(Bilan::Relire(*dans_fils).lignes,
            Lignes{"Abandon : une autre synchronisation de " + D + " est en cours"});
  EXPECT_EQ(TempTree::Noms(D), (Lignes{kNomArchive, "vieux"}));
  // Compare mode still reports.
  EXPECT_EQ(Traiter(S, D, true).resultat, 2);

  tenu.Liberer();
  EXPECT_TRUE(Traiter(S, D, false).lignes.empty());
  // An archive folder the run found stays, even empty.
  EXPECT_EQ(TempTree::Noms(D), (Lignes{kNomArchive, "neuf"}));
}

TEST_F(Parcours, AnUnusableStateDirectoryDoesNotStopTheRun) {
  Fichier("src/a", "a");
  const std::string bouchon = t.Fichier("etat-fichier", "pas un répertoire");
  const std::string ancien = std::getenv("XDG_STATE_HOME");
  setenv("XDG_STATE_HOME", bouchon.c_str(), 1);
  Bilan b = Traiter(S, D, false);
  setenv("XDG_STATE_HOME", ancien.c_str(), 1);
  EXPECT_TRUE(b.lignes.empty());
  EXPECT_EQ(TempTree::Lire(D + "/a"), "a");
}

}  // namespace
}  // namespace jumelix
