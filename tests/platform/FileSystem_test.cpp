#include "platform/FileSystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

std::string ParentDe(const std::string& c) { return c.substr(0, c.find_last_of('/')); }
std::string NomDe(const std::string& c) { return c.substr(c.find_last_of('/') + 1); }

TRepertoire OuvrirDossier(const std::string& chemin) {
  TRepertoire r;
  EXPECT_EQ(r.OuvrirChemin(chemin), 0) << chemin;
  return r;
}

std::vector<EntreeRepertoire> Lister(const std::string& chemin, int& err) {
  std::vector<EntreeRepertoire> v;
  TRepertoire r;
  err = r.OuvrirChemin(chemin);
  if (err == 0) err = r.Lister([&](EntreeRepertoire& e) { v.push_back(e); });
  return v;
}

// Copies the entry at `src` to `dst` (absolute paths) the way the walk does.
int Copier(const std::string& src, const std::string& dst, const OptionsCopie& o = {}) {
  TRepertoire s, d;
  if (int r = s.OuvrirChemin(ParentDe(src))) return r;
  if (int r = d.OuvrirChemin(ParentDe(dst))) return r;
  CopieEnAttente a;
  a.Nom = NomDe(dst);
  if (int r = EcrireCopie(s, NomDe(src), d, o, a)) return r;
  return Publier(d, a);
}

TEST(TRepertoire, ListsEachKindWithoutFollowingLinks) {
  TempTree t;
  t.Fichier("r/fichier", "12345");
  t.Fichier("r/.cache", "");
  chmod(t.Fichier("r/lecture", "").c_str(), 0444);
  t.Repertoire("r/sous");
  t.Lien("r/lien-rep", t.Chemin("r/sous"));
  t.Fifo("r/tube");
  t.FichierCreux("r/creux", (off_t{1} << 32) + 1);
  int err = -1;
  std::vector<EntreeRepertoire> v = Lister(t.Chemin("r"), err);
  ASSERT_EQ(err, 0);
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
  t.DateModif("r/fichier", 1700000000, 42);
  v = Lister(t.Chemin("r"), err);
  EXPECT_EQ(Trouver(v, "fichier")->Secondes, 1700000000);
  EXPECT_EQ(Trouver(v, "fichier")->Nanos, 42);
  EXPECT_EQ(Trouver(v, "lecture")->Mode & 07777, 0444u);
}

// The listing in two halves, names then packed descriptions, gives every entry as the
// one-pass listing does (a device too, where we may make one); the reading of names stops
// where its receiver says so.
TEST(TRepertoire, NamesThenPackedDescriptionsGiveWhatListerGives) {
  TempTree t;
  t.Fichier("r/fichier", "12345");
  t.Fichier("r/.cache", "");
  chmod(t.Fichier("r/lecture", "").c_str(), 0444);
  t.Repertoire("r/sous");
  t.Lien("r/lien", "fichier");
  t.Fifo("r/tube");
  t.FichierCreux("r/creux", (off_t{1} << 32) + 1);
  mknod(t.Chemin("r/nul").c_str(), S_IFCHR | 0666, makedev(1, 3));  // root only
  int err = -1;
  const std::vector<EntreeRepertoire> v = Lister(t.Chemin("r"), err);
  ASSERT_EQ(err, 0);
  TRepertoire r = OuvrirDossier(t.Chemin("r"));
  std::vector<std::string> noms;
  ASSERT_EQ(r.LireNoms([&](std::string_view nom, uint64_t) {
    noms.emplace_back(nom);
    return true;
  }),
            0);
  ASSERT_EQ(noms.size(), v.size());
  for (const std::string& nom : noms) {
    const EntreeRepertoire* a = Trouver(v, nom);
    ASSERT_NE(a, nullptr) << nom;
    DescriptionEntree d;
    ASSERT_EQ(r.DecrireEntree(nom.c_str(), d), 0) << nom;
    EntreeRepertoire b;
    Deplier(d, nom, b);
    EXPECT_EQ(b.Genre, a->Genre) << nom;
    EXPECT_EQ(b.Attr, a->Attr) << nom;
    EXPECT_EQ(b.Taille, a->Taille) << nom;
    EXPECT_EQ(b.Rdev, a->Rdev) << nom;
    EXPECT_EQ(b.Secondes, a->Secondes) << nom;
    EXPECT_EQ(b.Nanos, a->Nanos) << nom;
    EXPECT_EQ(b.Mode, a->Mode) << nom;
    EXPECT_EQ(b.Uid, a->Uid) << nom;
    EXPECT_EQ(b.Gid, a->Gid) << nom;
  }
  if (geteuid() == 0) {
    ASSERT_NE(Trouver(v, "nul"), nullptr);
    EXPECT_EQ(Trouver(v, "nul")->Rdev, makedev(1, 3));
  }
  DescriptionEntree d;
  EXPECT_EQ(r.DecrireEntree("absent", d), ENOENT);
  size_t lus = 0;
  EXPECT_EQ(r.LireNoms([&](std::string_view, uint64_t) { return ++lus < 3; }), ECANCELED);
  EXPECT_EQ(lus, 3u);
}

TEST(TRepertoire, ADirectoryLongerThanOneReadIsListedWholeEachTime) {
  // 3 000 names of 40 characters take several reads of the directory; each listing starts
  // again from its start, through the same descriptor.
  TempTree t;
  const std::string rep = t.Repertoire("r");
  std::vector<std::string> attendus = {".", ".."};
  for (int i = 0; i < 3000; ++i) {
    std::string nom = "un-nom-assez-long-pour-remplir-" + std::to_string(100000 + i);
    close(open((rep + "/" + nom).c_str(), O_WRONLY | O_CREAT, 0644));
    attendus.push_back(std::move(nom));
  }
  std::sort(attendus.begin(), attendus.end());
  TRepertoire r = OuvrirDossier(rep);
  for (int fois = 0; fois < 2; ++fois) {
    std::vector<std::string> noms, listes;
    ASSERT_EQ(r.LireNoms([&](std::string_view nom, uint64_t) {
      noms.emplace_back(nom);
      return true;
    }),
              0);
    ASSERT_EQ(r.Lister([&](EntreeRepertoire& e) { listes.push_back(e.Nom); }), 0);
    std::sort(noms.begin(), noms.end());
    std::sort(listes.begin(), listes.end());
    EXPECT_EQ(noms, attendus) << fois;
    EXPECT_EQ(listes, attendus) << fois;
  }
}

TEST(TRepertoire, FollowsOnlyANamedRootLink) {
  TempTree t;
  t.Fichier("r/f", "x");
  t.Lien("l", t.Chemin("r"));
  TRepertoire racine = OuvrirDossier(t.Racine()), r;
  EXPECT_EQ(r.OuvrirChemin(t.Chemin("l")), 0);
  EXPECT_EQ(r.OuvrirSous(racine, "l"), ENOTDIR);
  EXPECT_FALSE(r.Ouvert());
  EXPECT_EQ(r.OuvrirSous(racine, "absent"), ENOENT);
  EXPECT_EQ(r.OuvrirSous(OuvrirDossier(t.Chemin("r")), "f"), ENOTDIR);
  EXPECT_EQ(r.OuvrirSous(racine, "r"), 0);
  std::string cible;
  EXPECT_EQ(racine.LireLien("l", cible), 0);
  EXPECT_EQ(cible, t.Chemin("r"));
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

TEST(CreerRepertoire, MakesOnePrivateDirectory) {
  TempTree t;
  TRepertoire racine = OuvrirDossier(t.Racine());
  EXPECT_EQ(CreerRepertoire(racine, "a"), 0);
  EXPECT_EQ(Lstat(t.Chemin("a")).st_mode & 07777, 0700u);
  EXPECT_EQ(CreerRepertoire(racine, "a"), EEXIST);
  EXPECT_EQ(CreerRepertoire(racine, "x/y"), ENOENT);
}

TEST(EcrireCopie, CarriesContentModeTimesAndOwner) {
  TempTree t;
  std::string src = t.Fichier("s", "contenu\n");
  chmod(src.c_str(), 0751);
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the source another owner";
  ASSERT_EQ(chown(src.c_str(), test::kIdNobody, test::kIdNobody), 0);
  t.DateModif("s", 1700000000, 123456789);
  std::string dst = t.Fichier("d/cible", "ancien contenu beaucoup plus long");
  chmod(dst.c_str(), 0400);
  ASSERT_EQ(Copier(src, dst), 0);
  EXPECT_EQ(TempTree::Lire(dst), "contenu\n");
  struct stat st = Lstat(dst);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(st.st_uid, test::kIdNobody);
  EXPECT_EQ(st.st_gid, test::kIdNobody);
  EXPECT_EQ(TempTree::Noms(t.Chemin("d")), std::vector<std::string>{"cible"});
}

TEST(EcrireCopie, KeepsHolesOfASparseFile) {
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
  ASSERT_EQ(Copier(src, dst), 0);
  struct stat st = Lstat(dst);
  EXPECT_EQ(st.st_size, taille);
  EXPECT_LT(st.st_blocks * 512, off_t{16} << 20);
  std::string contenu = TempTree::Lire(dst);
  EXPECT_EQ(contenu.substr(contenu.size() - 3), "fin");
  EXPECT_EQ(contenu.find_first_not_of('\0'), contenu.size() - 3);
}

TEST(EcrireCopie, KeepsTheSizeOfAFileEndingInAHole) {
  TempTree t;
  const std::string src = t.Fichier("s", "debut");
  ASSERT_EQ(truncate(src.c_str(), off_t{8} << 20), 0);
  const std::string dst = t.Chemin("d");
  ASSERT_EQ(Copier(src, dst), 0);
  struct stat st = Lstat(dst);
  EXPECT_EQ(st.st_size, off_t{8} << 20);
  const std::string contenu = TempTree::Lire(dst);
  EXPECT_EQ(contenu.substr(0, 5), "debut");
  EXPECT_EQ(contenu.find_first_not_of('\0', 5), std::string::npos);
  // An empty file stays empty.
  ASSERT_EQ(Copier(t.Fichier("vide"), dst), 0);
  EXPECT_EQ(Lstat(dst).st_size, 0);
}

TEST(EcrireCopie, GivesTheSourceGroupEvenInADirectoryThatImposesItsOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the directory another group";
  TempTree t;
  const std::string src = t.Fichier("s", "x");
  ASSERT_EQ(chown(src.c_str(), 0, 0), 0);
  // New files of a set-group-ID directory take its group, not the creator's.
  const std::string dir = t.Repertoire("g");
  ASSERT_EQ(chown(dir.c_str(), 0, test::kIdNobody), 0);
  ASSERT_EQ(chmod(dir.c_str(), 02775), 0);
  ASSERT_EQ(Copier(src, dir + "/d"), 0);
  struct stat st = Lstat(dir + "/d");
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, 0u);
  // A source already owned like the new file keeps that owner.
  ASSERT_EQ(chown(src.c_str(), 0, test::kIdNobody), 0);
  ASSERT_EQ(Copier(src, dir + "/e"), 0);
  st = Lstat(dir + "/e");
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_gid, test::kIdNobody);
  EXPECT_EQ(st.st_mode & 07777, Lstat(src).st_mode & 07777);
}

TEST(EcrireCopie, CopiesOneFileAfterAnotherWithEachSourceMode) {
  TempTree t;
  const std::string dir = t.Repertoire("d");
  t.Repertoire("s");
  TRepertoire cible = OuvrirDossier(dir), source = OuvrirDossier(t.Chemin("s"));
  auto copier = [&](const std::string&, const std::string& nom) {
    CopieEnAttente a;
    a.Nom = nom;
    int r = EcrireCopie(source, nom, cible, {}, a);
    return r != 0 ? r : Publier(cible, a);
  };
  const mode_t modes[] = {0644, 0600, 0666, 0444, 04755, 02711, 0};
  for (mode_t m : modes) {
    const std::string nom = "f" + std::to_string(m);
    const std::string src = t.Fichier("s/" + nom, nom);
    ASSERT_EQ(chmod(src.c_str(), m), 0);
    t.DateModif("s/" + nom, 1600000000 + static_cast<int64_t>(m), 0);
    ASSERT_EQ(copier(src, nom), 0) << nom;
  }
  // A link, then a name whose source is missing, then again a file: the failure in
  // between changes nothing for the others.
  ASSERT_EQ(copier(t.Lien("s/lien", "ailleurs"), "lien"), 0);
  EXPECT_EQ(copier(t.Chemin("s/absent"), "absent"), ENOENT);
  ASSERT_EQ(copier(t.Fichier("s/dernier", "z"), "dernier"), 0);
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

TEST(EcrireCopie, CopiesALinkAsALink) {
  TempTree t;
  std::string src = t.Lien("s", "../cible/introuvable");
  t.DateModif("s", 1600000000, 5);
  std::string dst = t.Fichier("d", "un fichier remplacé par le lien");
  ASSERT_EQ(Copier(src, dst), 0);
  struct stat st = Lstat(dst);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
  char cible[64] = {};
  ASSERT_GT(readlink(dst.c_str(), cible, sizeof cible - 1), 0);
  EXPECT_STREQ(cible, "../cible/introuvable");
}

TEST(EcrireCopie, MakesSpecialFilesAgainWithoutOpeningThem) {
  TempTree t;
  std::string fifo = t.Fifo("tube");
  chmod(fifo.c_str(), 0604);
  std::string dst = t.Chemin("d");
  auto r = test::ExecuterDansFils(
      {}, [&] { return std::to_string(Copier(fifo, dst)); }, 20);
  ASSERT_TRUE(r.has_value()) << "the copy hung on the FIFO";
  EXPECT_EQ(*r, "0");
  EXPECT_TRUE(S_ISFIFO(Lstat(dst).st_mode));
  EXPECT_EQ(Lstat(dst).st_mode & 07777, 0604u);
}

TEST(EcrireCopie, DropsACopyWhoseSourceChangedMeanwhile) {
  TempTree t;
  const std::string src = t.Fichier("s", "version lue");
  const std::string dst = t.Fichier("d/cible", "ancien");
  static std::string ecrire;
  ecrire = src;
  CrochetApresContenu = [](const std::string&) {
    FILE* f = fopen(ecrire.c_str(), "a");
    fputs(" et ajout", f);
    fclose(f);
  };
  const int r = Copier(src, dst);
  CrochetApresContenu = nullptr;
  EXPECT_EQ(r, kModifiePendantCopie);
  EXPECT_EQ(TempTree::Lire(dst), "ancien");
  EXPECT_EQ(TempTree::Noms(t.Chemin("d")), std::vector<std::string>{"cible"});
}

TEST(EcrireCopie, DropsSetIdBitsWhenTheOwnerIsNotKept) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to own the source and copy as nobody";
  TempTree t;
  chmod(t.Racine().c_str(), 0755);
  const std::string src = t.Fichier("s/prog", "binaire");
  chmod(t.Chemin("s").c_str(), 0755);
  chmod(src.c_str(), 06755);
  const std::string dir = t.Repertoire("d");
  ASSERT_EQ(chown(dir.c_str(), test::kIdNobody, test::kIdNobody), 0);
  auto r = test::ExecuterDansFils(test::DevenirNobody,
                                  [&] { return std::to_string(Copier(src, dir + "/prog")); });
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, "0");
  struct stat st = Lstat(dir + "/prog");
  EXPECT_EQ(st.st_uid, test::kIdNobody);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  // Kept by root, with the owner.
  ASSERT_EQ(Copier(src, dir + "/garde"), 0);
  EXPECT_EQ(Lstat(dir + "/garde").st_mode & 07777, 06755u);
  EXPECT_EQ(ModeAttendu(06755, true, false), 04755u);
  EXPECT_EQ(ModeAttendu(01777, false, false), 01777u);
}

TEST(AppliquerAttributs, FixesTheListedEntryInPlaceAndNothingPutInItsPlace) {
  TempTree t;
  const std::string cible = t.Fichier("dehors", "x");
  chmod(cible.c_str(), 0600);
  t.Lien("d/lien", cible);
  chmod(t.Fichier("d/f", "f").c_str(), 0644);
  t.Fichier("d/troque", "t");
  TRepertoire d = OuvrirDossier(t.Chemin("d"));
  EntreeRepertoire f, lien, troque;
  ASSERT_EQ(d.DecrireEntree("f", f), 0);
  ASSERT_EQ(d.DecrireEntree("lien", lien), 0);
  ASSERT_EQ(d.DecrireEntree("troque", troque), 0);
  EntreeRepertoire source;
  source.Mode = S_IFREG | 0640;
  source.Uid = test::kIdNobody;
  source.Gid = test::kIdNobody;
  const bool root = geteuid() == 0;
  if (!root) source.Uid = geteuid(), source.Gid = getegid();
  EXPECT_EQ(AppliquerAttributs(d, "f", source, f, {}), 0);
  EXPECT_EQ(Lstat(t.Chemin("d/f")).st_mode & 07777, 0640u);
  EXPECT_EQ(Lstat(t.Chemin("d/f")).st_uid, source.Uid);
  EXPECT_EQ(Lstat(t.Chemin("d/f")).st_ino, f.Inode);

  // Swapped since the listing, for a link or for a hard link to a file elsewhere: the
  // entry is not the one listed, and nothing outside changes.
  EXPECT_NE(AppliquerAttributs(d, "lien", source, f, {}), 0);
  ASSERT_EQ(unlink(t.Chemin("d/troque").c_str()), 0);
  ASSERT_EQ(link(cible.c_str(), t.Chemin("d/troque").c_str()), 0);
  EXPECT_EQ(AppliquerAttributs(d, "troque", source, troque, {}), kModifiePendantCopie);
  EXPECT_EQ(Lstat(cible).st_mode & 07777, 0600u);
  EXPECT_EQ(Lstat(cible).st_uid, geteuid());

  // A link gets its owner and time, never its target's.
  source.Mode = S_IFLNK | 0777;
  source.Secondes = 1600000000;
  EXPECT_EQ(AppliquerAttributs(d, "lien", source, lien, {}), 0);
  EXPECT_EQ(Lstat(t.Chemin("d/lien")).st_mtim.tv_sec, 1600000000);
  EXPECT_EQ(Lstat(t.Chemin("d/lien")).st_uid, source.Uid);
  EXPECT_EQ(Lstat(cible).st_mode & 07777, 0600u);
  EXPECT_EQ(Lstat(cible).st_uid, geteuid());
}

TEST(EcrireCopie, AFailureLeavesTheDestinationAndNoTemporaryFile) {
  TempTree t;
  std::string src = t.Fichier("s", std::string(1 << 20, 'x'));
  std::string dst = t.Fichier("d/cible", "ancien");
  auto r = test::ExecuterDansFils(
      [] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &lim);
      },
      [&] { return std::to_string(Copier(src, dst)); });
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, std::to_string(EFBIG));
  EXPECT_EQ(TempTree::Lire(dst), "ancien");
  EXPECT_EQ(TempTree::Noms(t.Chemin("d")), std::vector<std::string>{"cible"});

  EXPECT_EQ(Copier(t.Chemin("absent"), dst), ENOENT);
  t.Repertoire("d/rep");
  EXPECT_EQ(Copier(src, t.Chemin("d/rep")), EISDIR);
  EXPECT_EQ(Copier(src, t.Chemin("nulle/part")), ENOENT);
  EXPECT_EQ(TempTree::Noms(t.Chemin("d")), (std::vector<std::string>{"cible", "rep"}));
}

TEST(SupprimerFichier, RemovesALinkNotItsTarget) {
  TempTree t;
  std::string cible = t.Fichier("cible", "reste");
  std::string lien = t.Lien("lien", cible);
  t.Repertoire("rep");
  TRepertoire racine = OuvrirDossier(t.Racine());
  EXPECT_EQ(SupprimerFichier(racine, "lien"), 0);
  EXPECT_FALSE(TempTree::Existe(lien));
  EXPECT_EQ(TempTree::Lire(cible), "reste");
  EXPECT_EQ(SupprimerFichier(racine, "lien"), ENOENT);
  EXPECT_EQ(SupprimerFichier(racine, "rep"), EISDIR);
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
  EXPECT_EQ(SupprimerArborescence(OuvrirDossier(t.Racine()), "arbre", n), 0);
  EXPECT_EQ(n, 14);
  EXPECT_FALSE(TempTree::Existe(t.Chemin("arbre")));
  EXPECT_EQ(TempTree::Lire(dehors + "/precieux"), "p");
}

TEST(SupprimerArborescence, DeletesALinkItselfNeverWhatItPointsTo) {
  TempTree t;
  std::string rep = t.Repertoire("rep");
  t.Fichier("rep/f", "");
  t.Lien("lien", rep);
  int32_t n = 0;
  TRepertoire racine = OuvrirDossier(t.Racine());
  EXPECT_EQ(SupprimerArborescence(racine, "lien", n), 0);
  EXPECT_EQ(SupprimerArborescence(racine, "absent", n), ENOENT);
  EXPECT_EQ(n, 1);
  EXPECT_FALSE(TempTree::Existe(t.Chemin("lien")));
  EXPECT_TRUE(TempTree::Existe(rep + "/f"));
}

TEST(SupprimerArborescence, DeletesATreeDeeperThanTheDescriptorLimit) {
  TempTree t;
  t.Repertoire("profond");
  {
    int fd = open(t.Chemin("profond").c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 1500; ++i) {
      ASSERT_EQ(mkdirat(fd, "d", 0755), 0);
      int f = openat(fd, "f", O_WRONLY | O_CREAT, 0644);
      close(f);
      int sous = openat(fd, "d", O_RDONLY | O_DIRECTORY);
      close(fd);
      fd = sous;
    }
    close(fd);
  }
  const std::string racine = t.Racine();
  auto r = test::ExecuterDansFils(
      [] {
        struct rlimit lim = {64, 64};
        setrlimit(RLIMIT_NOFILE, &lim);
      },
      [&] {
        int32_t n = 0;
        TRepertoire parent;
        int e = parent.OuvrirChemin(racine);
        if (e == 0) e = SupprimerArborescence(parent, "profond", n);
        return std::to_string(e) + " " + std::to_string(n);
      });
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, "0 1500");
  EXPECT_FALSE(TempTree::Existe(t.Chemin("profond")));
}

TEST(SupprimerArborescence, StopsAtAnotherFileSystem) {
  TempTree t;
  std::string point = t.Repertoire("arbre/monte");
  if (mount("jumelix-test", point.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  }
  t.Fichier("arbre/monte/etranger", "e");
  int32_t n = 0;
  EXPECT_EQ(SupprimerArborescence(OuvrirDossier(t.Racine()), "arbre", n), EXDEV);
  EXPECT_EQ(SupprimerArborescence(OuvrirDossier(t.Chemin("arbre")), "monte", n), EXDEV);
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

// A relative path that does not exist yet (a first synchronisation started from a shell
// with `src copie`) once made the ancestor search loop for ever on ".".
TEST(CheminCanonique, RelativePathsAreMadeAbsoluteAndAncestorSearchEnds) {
  TempTree t;
  t.Repertoire("src");
  char avant[4096];
  ASSERT_NE(getcwd(avant, sizeof avant), nullptr);
  ASSERT_EQ(chdir(t.Racine().c_str()), 0);
  const std::string racine = CheminCanonique(".");
  EXPECT_EQ(CheminCanonique("nouveau"), racine + "/nouveau");
  EXPECT_FALSE(EstDansRepertoire("nouveau", "src"));
  EXPECT_TRUE(EstDansRepertoire("src/nouveau", "src"));
  EXPECT_TRUE(EstDansRepertoire("nouveau/x", "."));
  ASSERT_EQ(chdir(avant), 0);
}

}  // namespace
}  // namespace jumelix::platform
