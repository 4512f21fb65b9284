#include "engine/ListNomFichRep.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace jumelix {
namespace {

using platform::DateDos;
using platform::EntreeRepertoire;
using platform::GenreEntree;

EntreeRepertoire Entree(const std::string& nom, int64_t taille = 0, int32_t date = 0,
                        GenreEntree genre = GenreEntree::Fichier) {
  EntreeRepertoire e;
  e.Nom = nom;
  e.Taille = taille;
  e.Date.Valeur = date;
  e.Genre = genre;
  return e;
}

DateDos Dos(int32_t v) {
  DateDos d;
  d.Valeur = v;
  return d;
}

DateDos Hors(int64_t secondes) {
  DateDos d;
  d.HorsPlage = true;
  d.Secondes = secondes;
  return d;
}

std::vector<std::string> Noms(const TListNomFichRep& l) {
  std::vector<std::string> v;
  for (const TNomFichRep* r : l.Elements()) v.push_back(r->Name);
  return v;
}

TEST(TListNomFichRep, LookupPrefersTheExactNameThenFoldsAsciiCaseOnly) {
  TListNomFichRep l;
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
  TListNomFichRep l;
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
  TListNomFichRep l;
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
  TListNomFichRep l;
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

TEST(TListNomFichRep, IdenticalNeedsKindSizeAndCloseTime) {
  TListNomFichRep l;
  const int32_t t = 0x566F5000;  // any in-range packed value
  l.Ajouter(Entree("f", 100, t));
  l.Ajouter(Entree("g", (int64_t{1} << 32) + 100, t));
  l.Ajouter(Entree("lien", 100, t, GenreEntree::Lien));
  EXPECT_TRUE(l.Identique(0, 100, Dos(t)));
  EXPECT_TRUE(l.Identique(0, 100, Dos(t + 132)));
  EXPECT_TRUE(l.Identique(0, 100, Dos(t - 132)));
  EXPECT_FALSE(l.Identique(0, 100, Dos(t + 133)));
  EXPECT_FALSE(l.Identique(0, 100, Dos(t - 133)));
  EXPECT_FALSE(l.Identique(0, 101, Dos(t)));
  EXPECT_FALSE(l.Identique(1, 100, Dos(t)));  // 4 GiB apart
  EXPECT_FALSE(l.Identique(2, 100, Dos(t)));  // a link is not a file
  EXPECT_TRUE(l.Identique(2, 100, Dos(t), GenreEntree::Lien));
}

TEST(DatesProches, PackedAndOutOfRangeTimesAreKeptApart) {
  // Values on both sides of the sign bit (years 2043 and 2044) are far apart.
  EXPECT_FALSE(DatesProches(Dos(0x7FFFFFFF), Dos(static_cast<int32_t>(0x80000000u))));
  EXPECT_FALSE(DatesProches(Dos(0), Hors(0)));
  EXPECT_FALSE(DatesProches(Hors(0), Dos(0)));
  EXPECT_TRUE(DatesProches(Hors(-1000), Hors(-998)));
  EXPECT_FALSE(DatesProches(Hors(-1000), Hors(-997)));
}

}  // namespace
}  // namespace jumelix
