// The real program in service mode with a home directory's usual exclusions: the global
// file in the settings directory and a .jumelixignore at the source root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LancerProgramme.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;
using Noms = std::vector<std::string>;

TEST(ServiceExclusions, AHomeDirectoryIsMirroredWithoutItsCachesAndKeepsTheirCopies) {
  TempTree t;
  const std::string home = t.Repertoire("home"), etat = t.Repertoire("etat");
  t.Fichier("home/.config/jumelix/exclusions", "# caches\n.cache/\nnode_modules/\n");
  t.Fichier("s/.jumelixignore", "*.swp\n");
  t.Fichier("s/notes.txt", "notes");
  t.Fichier("s/.notes.txt.swp", "tampon");
  t.Fichier("s/.cache/gros", "cache");
  t.Fichier("s/projet/index.js", "code");
  t.Fichier("s/projet/node_modules/m/m.js", "dépendance");
  // What an earlier backup holds of them stays: neither deleted nor archived.
  t.Fichier("d/.cache/ancien", "a");
  t.Fichier("d/projet/node_modules/vieux.js", "v");
  const std::string s = t.Chemin("s"), d = t.Chemin("d");
  const std::string liste =
      t.Fichier("liste.ini", "Répertoire source\r\nRépertoire cible\r\n" + s + "\r\n" + d + "\r\n");
  const test::TResultatProgramme r = test::LancerProgramme(
      {"/S", liste}, {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + home, "XDG_STATE_HOME=" + etat},
      t.Repertoire("travail"));
  EXPECT_EQ(r.code, 0) << r.sortie << r.erreurs;
  const std::string journal = TempTree::Lire(etat + "/jumelix/jumelix.log");
  EXPECT_NE(journal.find("Nombre de fichiers copiés 3 ; Supprimés 0"), std::string::npos)
      << journal;
  EXPECT_EQ(TempTree::Noms(d), (Noms{".cache", ".jumelixignore", "notes.txt", "projet"}));
  EXPECT_EQ(TempTree::Noms(d + "/.cache"), Noms{"ancien"});
  EXPECT_EQ(TempTree::Noms(d + "/projet"), (Noms{"index.js", "node_modules"}));
  EXPECT_EQ(TempTree::Noms(d + "/projet/node_modules"), Noms{"vieux.js"});
}

}  // namespace
}  // namespace jumelix
