#include "engine/ListeEntrees.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

namespace jumelix {
namespace {

using platform::EntreeRepertoire;
using platform::GenreEntree;
using platform::kAttrCache;
using platform::kAttrLectureSeule;
using platform::kAttrRepertoire;

EntreeRepertoire Entree(const std::string& nom, GenreEntree genre, uint32_t mode, int32_t attr,
                        int64_t taille = 0, uint64_t rdev = 0) {
  EntreeRepertoire e;
  e.Nom = nom;
  e.Genre = genre;
  e.Mode = mode;
  e.Attr = attr;
  e.Taille = taille;
  e.Rdev = rdev;
  e.Secondes = -86400 * 365 + static_cast<int64_t>(nom.size());
  e.Nanos = 999999999;
  e.Uid = 4000000000u;
  e.Gid = 7;
  return e;
}

// Every kind comes back from its packed form as it went in: a size past 4 GiB, a device's
// number, the attribute bits that follow from the mode and the name.
TEST(TListeEntrees, GivesBackEachKindAsItWasDescribed) {
  const std::vector<EntreeRepertoire> cas = {
      Entree("gros.iso", GenreEntree::Fichier, S_IFREG | 0644, 0, (int64_t{5} << 32) + 3),
      Entree(".cache", GenreEntree::Fichier, S_IFREG | 0600, kAttrCache, 12),
      Entree("lecture", GenreEntree::Fichier, S_IFREG | 0444, kAttrLectureSeule, 1),
      Entree("sous", GenreEntree::Repertoire, S_IFDIR | 0755, kAttrRepertoire, 4096),
      Entree("lien", GenreEntree::Lien, S_IFLNK | 0777, 0, 11),
      Entree("tube", GenreEntree::Special, S_IFIFO | 0640, 0),
      Entree("disque", GenreEntree::Special, S_IFBLK | 0660, 0, 0, makedev(259, 65536 + 3)),
      Entree("nul", GenreEntree::Special, S_IFCHR | 0666, 0, 0, makedev(1, 3)),
      Entree("..", GenreEntree::Repertoire, S_IFDIR, kAttrRepertoire),
  };
  TListeEntrees l;
  for (const EntreeRepertoire& e : cas) ASSERT_TRUE(l.Ajouter(e));
  ASSERT_EQ(l.size(), cas.size());
  for (size_t i = 0; i < cas.size(); ++i) {
    const EntreeRepertoire& a = cas[i];
    const EntreeRepertoire b = l.Entree(i);
    EXPECT_EQ(b.Nom, a.Nom);
    EXPECT_EQ(l.Genre(i), a.Genre) << a.Nom;
    EXPECT_EQ(b.Genre, a.Genre) << a.Nom;
    EXPECT_EQ(b.Attr, a.Attr) << a.Nom;
    EXPECT_EQ(b.Taille, a.Taille) << a.Nom;
    EXPECT_EQ(b.Rdev, a.Rdev) << a.Nom;
    EXPECT_EQ(b.Secondes, a.Secondes) << a.Nom;
    EXPECT_EQ(b.Nanos, a.Nanos) << a.Nom;
    EXPECT_EQ(b.Mode, a.Mode) << a.Nom;
    EXPECT_EQ(b.Uid, a.Uid) << a.Nom;
    EXPECT_EQ(b.Gid, a.Gid) << a.Nom;
    EXPECT_EQ(l.Attributs(i).Nom, "") << a.Nom;
    EXPECT_EQ(l.Attributs(i).Attr, a.Attr) << a.Nom;
  }
}

// Names of every length up to the longest a file system gives, enough of them to fill many
// blocks: each one reads back whole, stays where it was written, and a filter keeps the
// others in order.
TEST(TListeEntrees, KeepsManyNamesInPlaceAndFiltersInOrder) {
  auto nom = [](size_t i) {
    return std::string(1 + i % 255, static_cast<char>('a' + i % 26)) + std::to_string(i);
  };
  TListeEntrees l;
  std::vector<const char*> adresses;
  const size_t n = 21000;  // about 2.7 MB of text
  for (size_t i = 0; i < n; ++i) {
    ASSERT_TRUE(l.AjouterNom(nom(i)));
    adresses.push_back(l.Nom(i));
  }
  l.Dimensionner();
  for (size_t i = 0; i < n; ++i) {
    l.Description(i).TailleOuPeripherique = static_cast<int64_t>(i);
    l.Description(i).Mode = S_IFREG;
  }
  for (size_t i = 0; i < n; ++i) {
    ASSERT_EQ(l.NomVue(i), nom(i));
    ASSERT_EQ(static_cast<const void*>(l.Nom(i)), adresses[i]);
  }
  l.Garder([](size_t i) { return i % 3 == 1; });
  ASSERT_EQ(l.size(), n / 3);
  for (size_t k = 0; k < l.size(); ++k) {
    const size_t i = 3 * k + 1;
    ASSERT_EQ(l.NomVue(k), nom(i));
    ASSERT_EQ(l.Entree(k).Taille, static_cast<int64_t>(i));
  }
  TNoms noms;
  EXPECT_FALSE(noms.Ajouter(std::string(size_t{1} << 16, 'x')));
  EXPECT_TRUE(noms.empty());
}

}  // namespace
}  // namespace jumelix
