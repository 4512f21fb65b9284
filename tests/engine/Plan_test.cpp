// The plan step alone, without a disk: what the walk decides for each entry of a level
// from the two listings, under each level's rules.
#include "engine/Plan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace jumelix {
namespace {

using platform::EntreeRepertoire;
using platform::GenreEntree;
using ListeNoms = std::vector<std::string>;

constexpr int64_t kTPlan = 1678874400;

EntreeRepertoire E(const std::string& nom, GenreEntree genre = GenreEntree::Fichier,
                   int64_t taille = 1, int64_t secondes = kTPlan) {
  EntreeRepertoire e;
  e.Nom = nom;
  e.Genre = genre;
  e.Taille = taille;
  e.Secondes = secondes;
  e.Mode = (genre == GenreEntree::Repertoire ? S_IFDIR | 0755
            : genre == GenreEntree::Lien     ? S_IFLNK | 0777
                                             : S_IFREG | 0644);
  return e;
}
const auto R = GenreEntree::Repertoire;
const auto L = GenreEntree::Lien;

ListeNoms V(const TNoms& noms) {
  ListeNoms v;
  for (const std::string& n : noms) v.push_back(n);
  return v;
}

struct Niveau {
  std::vector<EntreeRepertoire> source, cible;
  TListeEntrees planifiees;  // the source entries that got a decision
  TPlanNiveau plan;
  void Planifier(TReglesNiveau regles = {}, TMemesCibles liens = {}) {
    planifiees.Vider();
    TListeEntrees c;
    for (const EntreeRepertoire& e : source) planifiees.Ajouter(e);
    for (const EntreeRepertoire& e : cible) c.Ajouter(e);
    jumelix::Planifier(planifiees, c, regles, liens, plan);
  }
  size_t Indice(const std::string& nom) const {
    for (size_t i = 0; i < planifiees.size(); ++i) {
      if (planifiees.NomVue(i) == nom) return i;
    }
    ADD_FAILURE() << nom << " not planned";
    return 0;
  }
  const Decision& De(const std::string& nom) const { return plan.decisions[Indice(nom)]; }
  std::string NomDst(const std::string& nom) const { return plan.NomDst(De(nom), nom); }
};

TEST(Plan, EachSourceEntryGetsItsDecision) {
  Niveau n;
  n.source = {E("."),
              E(".."),
              E("pareil"),
              E("plus-long", GenreEntree::Fichier, 9),
              E("plus-recent", GenreEntree::Fichier, 1, kTPlan + 1),
              E("nouveau"),
              E("commun", R),
              E("neuf", R),
              E("fichier-puis-rep", R)};
  n.cible = {E("."),           E(".."),        E("pareil"),           E("plus-long"),
             E("plus-recent"), E("commun", R), E("fichier-puis-rep"), E("trop"),
             E("trop-rep", R)};
  struct Cas {
    const char* nom;
    Quoi sync, compare;
    bool manquant;
  } cas[] = {
      {"pareil", Quoi::Rien, Quoi::Rien, false},
      {"plus-long", Quoi::Copier, Quoi::Copier, false},
      {"plus-recent", Quoi::Copier, Quoi::Copier, false},
      {"nouveau", Quoi::Copier, Quoi::Copier, true},
      {"commun", Quoi::Descendre, Quoi::Descendre, false},
      {"neuf", Quoi::CreerRep, Quoi::Descendre, false},
      {"fichier-puis-rep", Quoi::CreerRep, Quoi::Descendre, false},
  };
  n.Planifier();
  ASSERT_EQ(n.planifiees.size(), 7u);  // "." and ".." are no entries of the level
  for (const Cas& c : cas) EXPECT_EQ(n.De(c.nom).quoi, c.sync) << c.nom;
  EXPECT_EQ(n.De("nouveau").manquant, true);
  EXPECT_EQ(n.plan.cede, ListeNoms{"fichier-puis-rep"});
  EXPECT_EQ(V(n.plan.fichiersEnTrop), ListeNoms{"trop"});
  EXPECT_EQ(V(n.plan.repertoiresEnTrop), ListeNoms{"trop-rep"});

  TReglesNiveau comparer;
  comparer.Comparer = true;
  n.Planifier(comparer);
  for (const Cas& c : cas) EXPECT_EQ(n.De(c.nom).quoi, c.compare) << c.nom;
  EXPECT_TRUE(n.De("neuf").manquant);
  // Compare mode creates nothing: the file in the way stays surplus.
  EXPECT_EQ(n.plan.cede, ListeNoms{});
  EXPECT_EQ(V(n.plan.fichiersEnTrop), (ListeNoms{"fichier-puis-rep", "trop"}));
}

TEST(Plan, LeftoverTemporariesAreSetApartOnlyInTheirExactForm) {
  Niveau n;
  n.source = {E(".jumelix-aaaaaaaaaaaa.tmp")};  // the user's own file of that name
  n.cible = {E(".jumelix-aaaaaaaaaaaa.tmp"),     E(".jumelix-0123456789ab.tmp"),
             E(".jumelix-0123456789ab.tmp.bak"), E(".jumelix-0123456789a.tmp"),
             E(".jumelix-0123456789AB.tmp"),     E(".jumelix-0123456789ag.tmp"),
             E(".jumelix-ffffffffffff.tmp", R),  E(".jumelix-ffffffffffff.tmp", L)};
  n.cible.back().Nom = ".jumelix-eeeeeeeeeeee.tmp";
  n.Planifier();
  EXPECT_EQ(n.De(".jumelix-aaaaaaaaaaaa.tmp").quoi, Quoi::Rien);
  EXPECT_EQ(n.plan.temporaires, (ListeNoms{".jumelix-0123456789ab.tmp", ".jumelix-eeeeeeeeeeee.tmp"}));
  EXPECT_EQ(V(n.plan.fichiersEnTrop),
            (ListeNoms{".jumelix-0123456789ab.tmp.bak", ".jumelix-0123456789a.tmp",
                  ".jumelix-0123456789AB.tmp", ".jumelix-0123456789ag.tmp"}));
  EXPECT_EQ(V(n.plan.repertoiresEnTrop), ListeNoms{".jumelix-ffffffffffff.tmp"});
}

TEST(Plan, TheArchiveIsUnseenAtAnArchiveRootOnly) {
  Niveau n;
  n.source = {E(".jumelix-archive", R), E("f")};
  n.cible = {E(".jumelix-archive", R), E("f")};
  TReglesNiveau racine;
  racine.RacineArchive = true;
  n.Planifier(racine);
  EXPECT_EQ(n.planifiees.size(), 1u);  // another pair's archive: left out, no line
  EXPECT_EQ(n.plan.reservesSource, ListeNoms{});
  EXPECT_EQ(V(n.plan.repertoiresEnTrop), ListeNoms{});

  n.source = {E(".jumelix-archive")};  // a file of that name is the user's: reported
  n.Planifier(racine);
  EXPECT_EQ(n.plan.reservesSource, ListeNoms{".jumelix-archive"});
  EXPECT_EQ(n.plan.decisions.size(), 0u);

  n.source = {E(".jumelix-archive", R)};  // lower down it is an ordinary name
  n.Planifier();
  EXPECT_EQ(n.De(".jumelix-archive").quoi, Quoi::Descendre);
}

TEST(Plan, CaseFoldingRenamesAndKeepsOneOfCollidingNames) {
  Niveau n;
  n.source = {E("Photo.JPG"), E("b"), E("B"), E("exact")};
  n.cible = {E("photo.jpg"), E("B"), E("EXACT"), E("exact")};
  TReglesNiveau replie;
  replie.ReplieCasse = true;
  n.Planifier(replie);
  EXPECT_EQ(n.NomDst("Photo.JPG"), "photo.jpg");
  EXPECT_TRUE(n.De("Photo.JPG").renommer);
  EXPECT_EQ(n.De("B").quoi, Quoi::Rien);  // already there under its exact name
  EXPECT_EQ(n.De("b").quoi, Quoi::Collision);
  EXPECT_EQ(n.NomDst("exact"), "exact");
  EXPECT_EQ(V(n.plan.fichiersEnTrop), ListeNoms{"EXACT"});

  n.Planifier();  // case-sensitive: four different names
  EXPECT_EQ(n.De("Photo.JPG").quoi, Quoi::Copier);
  EXPECT_EQ(n.De("b").quoi, Quoi::Copier);
  EXPECT_EQ(V(n.plan.fichiersEnTrop), (ListeNoms{"photo.jpg", "EXACT"}));
}

TEST(Plan, LinksTimesAndAttributes) {
  Niveau n;
  n.source = {E("lien", L, 4), E("autre", L, 4), E("vfat", GenreEntree::Fichier, 1, kTPlan + 2),
              E("mode")};
  n.cible = {E("lien", L, 4), E("autre", L, 4), E("vfat"), E("mode")};
  n.cible[3].Mode = S_IFREG | 0600;
  TReglesNiveau deux;
  deux.DeuxSecondes = true;
  n.Planifier(deux, [](const std::string& s, const std::string&) { return s == "lien"; });
  EXPECT_EQ(n.De("lien").quoi, Quoi::Rien);
  EXPECT_EQ(n.De("autre").quoi, Quoi::Copier);  // same length, another target
  EXPECT_EQ(n.De("vfat").quoi, Quoi::Rien);
  EXPECT_EQ(n.De("mode").quoi, Quoi::Attributs);
  n.Planifier({}, [](const std::string&, const std::string&) { return true; });
  EXPECT_EQ(n.De("vfat").quoi, Quoi::Copier);
  TReglesNiveau windows;
  windows.GarderDroits = false;
  n.Planifier(windows, [](const std::string&, const std::string&) { return true; });
  EXPECT_EQ(n.De("mode").quoi, Quoi::Rien);
}

// Extended attributes are looked at on disk only for files of the same content where
// either side holds some, and only where the destination can hold them.
TEST(Plan, ExtendedAttributesAreAskedOnlyWhereEitherSideHoldsSome) {
  struct Cas {
    const char* quoi;
    bool source, cible;  // which side holds kept attributes
    bool contenuDifferent;
    bool memes;          // what the disk says
    bool cibleLesGarde;  // the destination can hold them
    Quoi attendu;
    int questions;
  } cas[] = {
      {"neither side", false, false, false, false, true, Quoi::Rien, 0},
      {"same on both", true, true, false, true, true, Quoi::Rien, 1},
      {"source only", true, false, false, false, true, Quoi::Attributs, 1},
      {"destination only", false, true, false, false, true, Quoi::Attributs, 1},
      {"content differs: copied whole", true, false, true, false, true, Quoi::Copier, 0},
      {"destination cannot hold them", true, false, false, false, false, Quoi::Rien, 0},
  };
  for (const Cas& c : cas) {
    SCOPED_TRACE(c.quoi);
    Niveau n;
    EntreeRepertoire s = E("f"), d = E("f", GenreEntree::Fichier, c.contenuDifferent ? 2 : 1);
    s.AttributsEtendus = c.source;
    d.AttributsEtendus = c.cible;
    n.source = {s};
    n.cible = {d};
    int questions = 0;
    TReglesNiveau regles;
    if (c.cibleLesGarde) {
      regles.MemesAttributsEtendus = [&](const std::string& a, const std::string& b) {
        EXPECT_EQ(a, "f");
        EXPECT_EQ(b, "f");
        ++questions;
        return c.memes;
      };
    }
    n.Planifier(std::move(regles));
    EXPECT_EQ(n.De("f").quoi, c.attendu);
    EXPECT_EQ(questions, c.questions);
  }
}

}  // namespace
}  // namespace jumelix
