#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix::platform {
namespace {

using test::TempTree;

const EntreeRepertoire* Trouver(const std::vector<EntreeRepertoire>& v, const std::string& nom) {
  auto it =
      std::find_if(v.begin(), v.end(), [&](const EntreeRepertoire& e) { return e.Nom == nom; });
  return it == v.end() ? nullptr : &*it;
}

struct stat Lstat(const std::string& c) {
  struct stat st {};
  EXPECT_EQ(lstat(c.c_str(), &st), 0) << c;
  return st;
}

TEST(VersDateDos, PacksLocalTimeAndFlagsWhatItCannotHold) {
  DateDos d = VersDateDos(TempTree::HeureLocale(2023, 3, 15, 10, 4, 9));
  EXPECT_FALSE(d.HorsPlage);
  EXPECT_EQ(static_cast<uint32_t>(d.Valeur),
            (43u << 25) | (3u << 21) | (15u << 16) | (10u << 11) | (4u << 5) | 4u);
  EXPECT_EQ(VersDateDos(TempTree::HeureLocale(1980, 1, 1, 0, 0, 0)).Valeur, 0x00210000);
  EXPECT_TRUE(VersDateDos(TempTree::HeureLocale(1979, 12, 31, 23, 59, 59)).HorsPlage);
  DateDos fin = VersDateDos(TempTree::HeureLocale(2107, 12, 31, 23, 59, 58));
  EXPECT_FALSE(fin.HorsPlage);
  EXPECT_EQ(static_cast<uint32_t>(fin.Valeur) >> 25, 127u);
  DateDos apres = VersDateDos(TempTree::HeureLocale(2108, 1, 1, 0, 0, 0));
  EXPECT_TRUE(apres.HorsPlage);
  EXPECT_EQ(apres.Secondes, TempTree::HeureLocale(2108, 1, 1, 0, 0, 0));
}

TEST(ListerRepertoire, DescribesEachKindWithoutFollowingLinks) {
  TempTree t;
  t.Fichier("r/fichier", "12345");
  t.Fichier("r/.cache", "");
  chmod(t.Fichier("r/lecture", "").c_str(), 0444);
  t.Repertoire("r/sous");
  t.Lien("r/lien-rep", t.Chemin("r/sous"));
  t.Fifo("r/tube");
  t.FichierCreux("r/creux", (off_t{1} << 32) + 1);
  std::vector<EntreeRepertoire> v;
  ASSERT_EQ(ListerRepertoire(t.Chemin("r"), false, v), 0);
  EXPECT_EQ(v.size(), 9u);  // "." and ".." are listed too
  ASSERT_NE(Trouver(v, "."), nullptr);
  EXPECT_EQ(Trouver(v, "..")->Genre, GenreEntree::Repertoire);
  EXPECT_EQ(Trouver(v, "fichier")->Genre, GenreEntree::Fichier);
  EXPECT_EQ(Trouver(v, "fichier")->Taille, 5);
  EXPECT_EQ(Trouver(v, "fichier")->Attr, 0);
  EXPECT_EQ(Trouver(v, ".cache")->Attr, kAttrCache);
  EXPECT_EQ(Trouver(v, "lecture")->Attr, kAttrLectureSeule);
  EXPECT_EQ(Trouver(v, "sous")->Genre, GenreEntree::Repertoire);
  EXPECT_EQ(Trouver(v, "sous")->Attr, kAttrRepertoire);
  EXPECT_EQ(Trouver(v, "lien-rep")->Genre, GenreEntree::Lien);
  EXPECT_EQ(Trouver(v, "lien-rep")->Attr & kAttrRepertoire, 0);
  EXPECT_EQ(Trouver(v, "tube")->Genre, GenreEntree::Special);
  EXPECT_EQ(Trouver(v, "creux")->Taille, (int64_t{1} << 32) + 1);
}

TEST(ListerRepertoire, FollowsOnlyANamedRootLinkWhenAsked) {
  TempTree t;
  t.Fichier("r/f", "x");
  std::string lien = t.Lien("l", t.Chemin("r"));
  std::vector<EntreeRepertoire> v;
  EXPECT_EQ(ListerRepertoire(lien, true, v), 0);
  EXPECT_NE(Trouver(v, "f"), nullptr);
  EXPECT_NE(ListerRepertoire(lien, false, v), 0);
  EXPECT_EQ(ListerRepertoire(t.Chemin("absent"), false, v), ENOENT);
  EXPECT_EQ(ListerRepertoire(t.Chemin("r/f"), false, v), ENOTDIR);
}

TEST(ChercherUneEntree, TellsWhetherADirectoryHoldsAnythingBeyondDotAndDotDot) {
  TempTree t;
  bool trouvee = true;
  EXPECT_EQ(ChercherUneEntree(t.Repertoire("vide"), trouvee), 0);
  EXPECT_FALSE(trouvee);
  // A dangling link is an entry of its own: it is never followed.
  t.Lien("plein/casse", t.Chemin("absent"));
  EXPECT_EQ(ChercherUneEntree(t.Chemin("plein"), trouvee), 0);
  EXPECT_TRUE(trouvee);
  // A named root link is followed to its directory.
  EXPECT_EQ(ChercherUneEntree(t.Lien("vers_vide", t.Chemin("vide")), trouvee), 0);
  EXPECT_FALSE(trouvee);
  EXPECT_EQ(ChercherUneEntree(t.Chemin("absent"), trouvee), ENOENT);
  EXPECT_FALSE(trouvee);
  EXPECT_EQ(ChercherUneEntree(t.Fichier("f"), trouvee), ENOTDIR);
  EXPECT_FALSE(trouvee);
}

TEST(CreerRepertoires, CreatesMissingAncestorsAndFailsUnderAFile) {
  TempTree t;
  EXPECT_EQ(CreerRepertoires(t.Chemin("a/b/c")), 0);
  EXPECT_TRUE(EstRepertoire(t.Chemin("a/b/c")));
  EXPECT_EQ(CreerRepertoires(t.Chemin("a/b/c")), 0);
  EXPECT_EQ(CreerRepertoires("/"), 0);
  t.Fichier("f", "");
  EXPECT_EQ(CreerRepertoires(t.Chemin("f/g")), ENOTDIR);
  EXPECT_EQ(CreerRepertoire(t.Chemin("a")), EEXIST);
  EXPECT_EQ(CreerRepertoire(t.Chemin("x/y")), ENOENT);
}

TEST(CopierFichier, CarriesContentModeTimesAndOwner) {
  TempTree t;
  std::string src = t.Fichier("s", "contenu\n");
  chmod(src.c_str(), 0751);
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the source another owner";
  ASSERT_EQ(chown(src.c_str(), test::kIdNobody, test::kIdNobody), 0);
  t.DateModif("s", 1700000000, 123456789);
  std::string dst = t.Fichier("d/cible", "ancien contenu beaucoup plus long");
  chmod(dst.c_str(), 0400);
  ASSERT_EQ(CopierFichier(src, dst), 0);
  EXPECT_EQ(TempTree::Lire(dst), "contenu\n");
  struct stat st = Lstat(dst);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(st.st_uid, test::kIdNobody);
  EXPECT_EQ(st.st_gid, test::kIdNobody);
  EXPECT_EQ(TempTree::Noms(t.Chemin("d")), std::vector<std::string>{"cible"});
}

TEST(CopierFichier, KeepsHolesOfASparseFile) {
  TempTree t;
  const off_t taille = off_t{64} << 20;
  std::string src = t.FichierCreux("s", taille);
  {
    FILE* f = fopen(src.c_str(), "r+");
    ASSERT_NE(f, nullptr);
    fseek(f, static_cast<long>(taille - 3), SEEK_SET);
    fputs("fin", f);
    fclose(f);
  }
  std::string dst = t.Chemin("d");
  ASSERT_EQ(CopierFichier(src, dst), 0);
  struct stat st = Lstat(dst);
  EXPECT_EQ(st.st_size, taille);
  EXPECT_LT(st.st_blocks * 512, off_t{16} << 20);
  std::string contenu = TempTree::Lire(dst);
  EXPECT_EQ(contenu.substr(contenu.size() - 3), "fin");
  EXPECT_EQ(contenu.find_first_not_of('\0'), contenu.size() - 3);
}

TEST(CopierFichier, KeepsTheSizeOfAFileEndingInAHole) {
  TempTree t;
  const std::string src = t.Fichier("s", "debut");
  ASSERT_EQ(truncate(src.c_str(), off_t{8} << 20), 0);
  const std::string dst = t.Chemin("d");
  ASSERT_EQ(CopierFichier(src, dst), 0);
  struct stat st = Lstat(dst);
  EXPECT_EQ(st.st_size, off_t{8} << 20);
  const std::string contenu = TempTree::Lire(dst);
  EXPECT_EQ(contenu.substr(0, 5), "debut");
  EXPECT_EQ(contenu.find_first_not_of('\0', 5), std::string::npos);
  // An empty file stays empty.
  ASSERT_EQ(CopierFichier(t.Fichier("vide"), dst), 0);
  EXPECT_EQ(Lstat(dst).st_size, 0);
}

TEST(CopierFichier, GivesTheSourceGroupEvenInADirectoryThatImposesItsOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the directory another group";
  TempTree t;
  const std::string src = t.Fichier("s", "x");
  ASSERT_EQ(chown(src.c_str(), 0, 0), 0);
  // New files of a set-group-ID directory take its group, not the creator's.
  const std::string dir = t.Repertoire("g");
  ASSERT_EQ(chown(dir.c_str(), 0, test::kIdNobody), 0);
  ASSERT_EQ(chmod(dir.c_str(), 02775), 0);
  ASSERT_EQ(CopierFichier(src, dir + "/d"), 0);
  struct stat st = Lstat(dir + "/d");
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, 0u);
  // A source already owned like the new file keeps that owner.
  ASSERT_EQ(chown(src.c_str(), 0, test::kIdNobody), 0);
  ASSERT_EQ(CopierFichier(src, dir + "/e"), 0);
  st = Lstat(dir + "/e");
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, test::kIdNobody);
  EXPECT_EQ(st.st_mode & 07777, Lstat(src).st_mode & 07777);
}

TEST(TRepertoireCible, CopiesOneFileAfterAnotherWithEachSourceMode) {
  TempTree t;
  const std::string dir = t.Repertoire("d");
  TRepertoireCible cible(dir);
  const mode_t modes[] = {0644, 0600, 0666, 0444, 04755, 02711, 0};
  for (mode_t m : modes) {
    const std::string nom = "f" + std::to_string(m);
    const std::string src = t.Fichier("s/" + nom, nom);
    ASSERT_EQ(chmod(src.c_str(), m), 0);
    t.DateModif("s/" + nom, 1600000000 + static_cast<int64_t>(m), 0);
    ASSERT_EQ(cible.Copier(src, nom), 0) << nom;
  }
  // A link, then a name whose source is missing, then again a file: the failure in
  // between changes nothing for the others.
  ASSERT_EQ(cible.Copier(t.Lien("s/lien", "ailleurs"), "lien"), 0);
  EXPECT_EQ(cible.Copier(t.Chemin("s/absent"), "absent"), ENOENT);
  ASSERT_EQ(cible.Copier(t.Fichier("s/dernier", "z"), "dernier"), 0);
  for (mode_t m : modes) {
    const std::string nom = "f" + std::to_string(m);
    struct stat st = Lstat(dir + "/" + nom);
    EXPECT_EQ(st.st_mode & 07777, m) << nom;
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000 + static_cast<int64_t>(m)) << nom;
    EXPECT_EQ(TempTree::Lire(dir + "/" + nom), nom);
  }
  EXPECT_TRUE(S_ISLNK(Lstat(dir + "/lien").st_mode));
  EXPECT_EQ(TempTree::Lire(dir + "/dernier"), "z");
  EXPECT_EQ(TempTree::Noms(dir).size(), std::size(modes) + 2);  // no temporary file left
}

TEST(CopierFichier, CopiesALinkAsALink) {
  TempTree t;
  std::string src = t.Lien("s", "../cible/introuvable");
  t.DateModif("s", 1600000000, 5);
  std::string dst = t.Fichier("d", "un fichier remplacé par le lien");
  ASSERT_EQ(CopierFichier(src, dst), 0);
  struct stat st = Lstat(dst);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
  char cible[64] = {};
  ASSERT_GT(readlink(dst.c_str(), cible, sizeof cible - 1), 0);
  EXPECT_STREQ(cible, "../cible/introuvable");
}

TEST(CopierFichier, RefusesSpecialFilesWithoutOpeningThem) {
  TempTree t;
  std::string fifo = t.Fifo("tube");
  std::string dst = t.Chemin("d");
  auto r = test::ExecuterDansFils(
      {}, [&] { return std::to_string(CopierFichier(fifo, dst)); }, 20);
  ASSERT_TRUE(r.has_value()) << "the copy hung on the FIFO";
  EXPECT_EQ(*r, std::to_string(kPasFichierOrdinaire));
  EXPECT_FALSE(TempTree::Existe(dst));
}

TEST(CopierFichier, AFailureLeavesTheDestinationAndNoTemporaryFile) {
  TempTree t;
  std::string src = t.Fichier("s", std::string(1 << 20, 'x'));
  std::string dst = t.Fichier("d/cible", "ancien");
  auto r = test::ExecuterDansFils(
      [] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &lim);
      },
      [&] { return std::to_string(CopierFichier(src, dst)); });
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, std::to_string(EFBIG));
  EXPECT_EQ(TempTree::Lire(dst), "ancien");
  EXPECT_EQ(TempTree::Noms(t.Chemin("d")), std::vector<std::string>{"cible"});

  EXPECT_EQ(CopierFichier(t.Chemin("absent"), dst), ENOENT);
  t.Repertoire("d/rep");
  EXPECT_EQ(CopierFichier(src, t.Chemin("d/rep")), EISDIR);
  EXPECT_EQ(CopierFichier(src, t.Chemin("nulle/part")), ENOENT);
  EXPECT_EQ(TempTree::Noms(t.Chemin("d")), (std::vector<std::string>{"cible", "rep"}));
}

TEST(SupprimerFichier, RemovesALinkNotItsTarget) {
  TempTree t;
  std::string cible = t.Fichier("cible", "reste");
  std::string lien = t.Lien("lien", cible);
  EXPECT_EQ(SupprimerFichier(lien), 0);
  EXPECT_FALSE(TempTree::Existe(lien));
  EXPECT_EQ(TempTree::Lire(cible), "reste");
  EXPECT_EQ(SupprimerFichier(lien), ENOENT);
  EXPECT_EQ(SupprimerFichier(t.Repertoire("rep")), EISDIR);
}

TEST(SupprimerArborescence, DeletesEverythingAndCountsFilesOnly) {
  TempTree t;
  std::string dehors = t.Repertoire("dehors");
  t.Fichier("dehors/precieux", "p");
  t.Fichier("arbre/a", "a");
  chmod(t.Fichier("arbre/b/c", "c").c_str(), 0444);
  t.Lien("arbre/b/lien", dehors);
  t.Fifo("arbre/tube");
  t.Repertoire("arbre/vide");
  chmod(t.Chemin("arbre/b").c_str(), 0500);
  int32_t n = 10;
  EXPECT_EQ(SupprimerArborescence(t.Chemin("arbre"), n), 0);
  EXPECT_EQ(n, 14);
  EXPECT_FALSE(TempTree::Existe(t.Chemin("arbre")));
  EXPECT_EQ(TempTree::Lire(dehors + "/precieux"), "p");
}

TEST(SupprimerArborescence, RefusesWhatIsNotARealDirectory) {
  TempTree t;
  std::string rep = t.Repertoire("rep");
  t.Fichier("rep/f", "");
  std::string lien = t.Lien("lien", rep);
  int32_t n = 0;
  EXPECT_EQ(SupprimerArborescence(lien, n), ENOTDIR);
  EXPECT_EQ(SupprimerArborescence(t.Chemin("rep/f"), n), ENOTDIR);
  EXPECT_EQ(SupprimerArborescence(t.Chemin("absent"), n), ENOENT);
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(TempTree::Existe(rep + "/f"));
}

TEST(SupprimerArborescence, StopsAtAnotherFileSystem) {
  TempTree t;
  std::string point = t.Repertoire("arbre/monte");
  if (mount("jumelix-test", point.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  }
  t.Fichier("arbre/monte/etranger", "e");
  int32_t n = 0;
  EXPECT_EQ(SupprimerArborescence(t.Chemin("arbre"), n), EXDEV);
  EXPECT_EQ(SupprimerArborescence(point, n), EXDEV);
  EXPECT_EQ(TempTree::Lire(point + "/etranger"), "e");
  umount(point.c_str());
}

TEST(CheminCanonique, ResolvesExistingPartsAndNormalisesTheRest) {
  TempTree t;
  t.Repertoire("r/s");
  t.Lien("l", t.Chemin("r"));
  std::string r = CheminCanonique(t.Chemin("r"));
  EXPECT_EQ(CheminCanonique(t.Chemin("l")), r);
  EXPECT_EQ(CheminCanonique(t.Chemin("l/s/../nouveau/x/")), r + "/nouveau/x");
  EXPECT_EQ(CheminCanonique("/"), "/");
}

}  // namespace
}  // namespace jumelix::platform
