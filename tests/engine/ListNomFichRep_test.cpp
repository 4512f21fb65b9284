#include "engine/ListNomFichRep.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unordered_set>

namespace jumelix {
namespace {

using platform::EntreeRepertoire;
using platform::GenreEntree;

EntreeRepertoire Entree(const std::string& nom, int64_t taille = 0, int64_t secondes = 0,
                        GenreEntree genre = GenreEntree::Fichier) {
  EntreeRepertoire e;
  e.Nom = nom;
  e.Taille = taille;
  e.Secondes = secondes;
  e.Genre = genre;
  return e;
}

// A list over a listing of its own, filled entry by entry as the plan fills one from the
// destination's listing.
struct Listage {
  TListeEntrees entrees;
};
class Liste : private Listage, public TListNomFichRep {
 public:
  Liste() : TListNomFichRep(entrees) {}
  void Ajouter(const EntreeRepertoire& e) {
    entrees.Ajouter(e);
    TListNomFichRep::Ajouter(entrees.size() - 1);
  }
};

std::vector<std::string> Noms(const TListNomFichRep& l) {
  std::vector<std::string> v;
  for (int i : l.Elements()) v.emplace_back(l[i].Name);
  return v;
}

TEST(TListNomFichRep, LookupPrefersTheExactNameThenFoldsAsciiCaseOnly) {
  Liste l;
  for (const char* n : {"README.txt", "Readme.TXT", "\xC3\x89t\xC3\xA9", "autre"})
    l.Ajouter(Entree(n));
  EXPECT_EQ(l.Indice("Readme.TXT"), 1);
  EXPECT_EQ(l.Indice("README.txt"), 0);
  EXPECT_EQ(l.Indice("readme.txt"), 0);  // the first folded match in list order
  EXPECT_EQ(l.Indice("AUTRE"), 3);
  EXPECT_EQ(l.Indice("\xC3\xA9t\xC3\xA9"), -1);  // é and É are different bytes
  EXPECT_EQ(l.Indice("absent"), -1);
  l.Supprimer(0);
  EXPECT_EQ(l.Indice("readme.txt"), 1);
  l.Supprimer(1);
  EXPECT_EQ(l.Indice("readme.txt"), -1);
}

TEST(TListNomFichRep, FoldedLookupSkipsNamesReservedForTheirOwnEntry) {
  Liste l;
  l.Ajouter(Entree("a.txt"));
  l.Ajouter(Entree("A.TXT"));
  const std::unordered_set<std::string> noms = {"a.txt", "A.txt"};
  int appels = 0;
  const TEstReserve reserves = [&](const std::string& n) {
    ++appels;
    return noms.count(n) != 0;
  };
  EXPECT_EQ(l.Indice("A.TXT", reserves), 1);  // an exact match asks nothing
  EXPECT_EQ(appels, 0);
  EXPECT_EQ(l.Indice("A.txt", reserves), 1);  // "a.txt" stays for the source's a.txt
  l.Supprimer(1);
  EXPECT_EQ(l.Indice("A.txt", reserves), -1);
  EXPECT_EQ(l.Indice("a.txt", reserves), 0);  // an exact name is never skipped
}

TEST(TListNomFichRep, RemovalKeepsOrderAndOtherIndices) {
  Liste l;
  for (const char* n : {"a", "b", "c", "d"}) l.Ajouter(Entree(n));
  l.Supprimer(1);
  l.Supprimer(1);   // already removed: nothing happens
  l.Supprimer(-1);  // out of range: nothing happens
  l.Supprimer(42);
  EXPECT_EQ(l.Count(), 3);
  EXPECT_EQ(Noms(l), (std::vector<std::string>{"a", "c", "d"}));
  EXPECT_EQ(l.Indice("d"), 3);
  EXPECT_EQ(l[l.Indice("c")].Name, "c");
  l.Vider();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.Indice("a"), -1);
  l.Ajouter(Entree("e"));
  EXPECT_EQ(Noms(l), std::vector<std::string>{"e"});
}

TEST(TListNomFichRep, LookupsFollowAdditionsRemovalsAndReuse) {
  Liste l;
  // Enough names to make the indexes grow several times.
  for (int i = 0; i < 3000; ++i) l.Ajouter(Entree("nom" + std::to_string(i)));
  for (int i = 0; i < 3000; i += 2) l.Supprimer(l.Indice("nom" + std::to_string(i)));
  EXPECT_EQ(l.Count(), 1500);
  EXPECT_EQ(l.Indice("nom2998"), -1);
  EXPECT_EQ(l.Indice("NOM2999"), 2999);  // the first lookup ignoring case
  EXPECT_EQ(l.Indice("NOM2998"), -1);
  // Records added after a lookup ignoring case are found that way too, in list order.
  l.Ajouter(Entree("Neuf"));
  l.Ajouter(Entree("NEUF"));
  EXPECT_EQ(l.Indice("neuf"), 3000);
  EXPECT_EQ(l.Indice("NEUF"), 3001);
  l.Supprimer(3000);
  EXPECT_EQ(l.Indice("neuf"), 3001);
  // A record removed then listed again under the same name is found again.
  l.Ajouter(Entree("nom0"));
  EXPECT_EQ(l.Indice("Nom0"), 3002);
  EXPECT_EQ(l.Indice("nom0"), 3002);
  EXPECT_EQ(l.Count(), 1502);
  // An emptied list starts again from index 0 and forgets every name.
  l.Vider();
  EXPECT_EQ(l.Indice("nom1"), -1);
  EXPECT_EQ(l.Indice("NEUF"), -1);
  l.Ajouter(Entree("Nom1"));
  EXPECT_EQ(l.Indice("nom1"), 0);
  EXPECT_EQ(Noms(l), std::vector<std::string>{"Nom1"});
}

TEST(TListNomFichRep, ExactLookupNeverFoldsCase) {
  Liste l;
  l.Ajouter(Entree("a.txt"));
  EXPECT_EQ(l.IndiceExact("a.txt"), 0);
  EXPECT_EQ(l.IndiceExact("A.txt"), -1);
  EXPECT_EQ(l.Indice("A.txt"), 0);
}

TEST(MemeContenu, KindSizeTimeToTheSecondTargetLengthOrDevice) {
  const int64_t t = 1678874400;  // 2023-03-15 10:00:00 UTC
  auto special = [](uint32_t type, uint64_t rdev) {
    EntreeRepertoire e = Entree("s", 0, 0, GenreEntree::Special);
    e.Mode = type | 0644;
    e.Rdev = rdev;
    return e;
  };
  struct Cas {
    const char* nom;
    EntreeRepertoire source, destination;
    bool memeSeconde, deuxSecondes;
  };
  const std::vector<Cas> cas = {
      {"égaux", Entree("f", 100, t), Entree("f", 100, t), true, true},
      {"une seconde", Entree("f", 100, t), Entree("f", 100, t + 1), false, true},
      {"deux secondes", Entree("f", 100, t + 2), Entree("f", 100, t), false, true},
      {"trois secondes", Entree("f", 100, t), Entree("f", 100, t + 3), false, false},
      {"quatre minutes", Entree("f", 100, t), Entree("f", 100, t + 248), false, false},
      {"taille", Entree("f", 100, t), Entree("f", 101, t), false, false},
      {"4 Gio d'écart", Entree("f", (int64_t{1} << 32) + 100, t), Entree("f", 100, t), false,
       false},
      {"avant 1970", Entree("f", 1, -1000), Entree("f", 1, -1000), true, true},
      {"lien et fichier", Entree("l", 3, t, GenreEntree::Lien), Entree("l", 3, t), false, false},
      {"liens", Entree("l", 3, t, GenreEntree::Lien), Entree("l", 3, t + 60, GenreEntree::Lien),
       true, true},
      {"cibles de longueurs différentes", Entree("l", 3, t, GenreEntree::Lien),
       Entree("l", 4, t, GenreEntree::Lien), false, false},
      {"tubes", special(S_IFIFO, 0), special(S_IFIFO, 0), true, true},
      {"tube et prise", special(S_IFIFO, 0), special(S_IFSOCK, 0), false, false},
      {"périphériques", special(S_IFCHR, 0x103), special(S_IFCHR, 0x105), false, false},
  };
  for (const Cas& c : cas) {
    EXPECT_EQ(MemeContenu(c.source, c.destination, false), c.memeSeconde) << c.nom;
    EXPECT_EQ(MemeContenu(c.source, c.destination, true), c.deuxSecondes) << c.nom;
  }
  Liste l;
  l.Ajouter(Entree("f", 100, t));
  EXPECT_TRUE(l.Identique(0, Entree("f", 100, t), false));
  EXPECT_FALSE(l.Identique(0, Entree("f", 100, t + 1), false));
}

}  // namespace
}  // namespace jumelix
