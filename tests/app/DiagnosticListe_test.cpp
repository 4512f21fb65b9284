#include "app/DiagnosticListe.h"

#include <gtest/gtest.h>

#include "support/TempTree.h"

namespace jumelix {
namespace {

using V = std::vector<std::string>;
using D = TDefautListe;

TEST(DiagnosticListe, FirstFaultInLineOrder) {
  const std::string s = "Répertoire source", c = "Répertoire cible";
  struct Cas {
    V lignes;
    TDiagnosticListe attendu;
  };
  const Cas cas[] = {
      {{s, c, "/a", "/b"}, {}},
      {{s, c, "/a", "/b", "", ""}, {}},       // a pair of blank lines shifts nothing
      {{s, c, "", "", "/a", "/b"}, {}},
      {{s, c, "/a", "/b", "", " "}, {}},      // trailing blank lines count for nothing
      {{s, c, "/a", "/b", ""}, {}},
      {{}, {D::PasUneListe, 1}},
      {{"Répertoire source\tRépertoire cible", "/a", "/b"}, {D::PasUneListe, 1}},
      {{"répertoire source", c}, {D::PasUneListe, 1}},
      {{s}, {D::PasUneListe, 2}},
      {{s, "Répertoire cible "}, {D::PasUneListe, 2}},
      // The blank line that shifted docs onto photos: caught before any pair.
      {{s, c, "", "/docs", "/sauve-docs", "/photos", "/sauve-photos"}, {D::CelluleVide, 3}},
      {{s, c, "/a", "/b", "/docs", "  ", "/photos", "/x"}, {D::CelluleVide, 6}},
      {{s, c, "/a", "/b", "/c"}, {D::NombreImpair, 5}},
      {{s, c, "/a", "/b", "/c", "", ""}, {D::NombreImpair, 5}},
      {{s, c}, {D::RienASynchroniser, 0}},
      {{s, c, " ", ""}, {D::RienASynchroniser, 0}},
  };
  for (const Cas& k : cas) {
    const TDiagnosticListe d = DiagnostiquerListe(k.lignes);
    EXPECT_EQ(d.defaut, k.attendu.defaut) << ::testing::PrintToString(k.lignes);
    EXPECT_EQ(d.ligne, k.attendu.ligne) << ::testing::PrintToString(k.lignes);
  }
}

TEST(DiagnosticListe, TextsNameTheFaultTheLineAndTheFile) {
  const std::string f = "/l.ini";
  EXPECT_EQ(TexteDefautListe({}, f), "");
  EXPECT_EQ(TexteDefautListe({D::PasUneListe, 1}, f),
            "ERREUR : Fichier liste non reconnu, la ligne 1 doit être « Répertoire source » : "
            "/l.ini");
  EXPECT_EQ(TexteDefautListe({D::PasUneListe, 2}, f),
            "ERREUR : Fichier liste non reconnu, la ligne 2 doit être « Répertoire cible » : "
            "/l.ini");
  EXPECT_EQ(TexteDefautListe({D::CelluleVide, 3}, f),
            "ERREUR : Fichier liste incorrect, ligne 3 vide (un couple sans source ou sans cible "
            "décalerait les suivants) : /l.ini");
  EXPECT_EQ(TexteDefautListe({D::NombreImpair, 5}, f),
            "ERREUR : Fichier liste incorrect, la ligne 5 (répertoire source) n'a pas de "
            "répertoire cible : /l.ini");
  EXPECT_EQ(TexteDefautListe({D::RienASynchroniser, 0}, f),
            "ERREUR : Rien à synchroniser, le fichier liste ne contient aucun couple de "
            "répertoires : /l.ini");
}

// The destinations of lines 4, 6, 8...; a conflict reads "4=6" (one directory) or "4>6"
// (line 6 inside line 4).
TEST(CiblesEnConflit, SameOrNestedByTextAndByTheDirectoriesOnDisk) {
  test::TempTree t;
  t.Repertoire("sauve/photos");
  t.Repertoire("Casse");
  t.Repertoire("casse");  // where the disk tells letter case apart
  t.Lien("lien", t / "sauve");
  const std::string m = t / "absent";
  const std::pair<V, V> cas[] = {
      {{m + "/sauve", m + "/sauve/"}, {"4=6"}},
      {{m + "/sauve/photos", m + "/sauve", "/"}, {"6>4", "8>4", "8>6"}},
      {{m + "/data/a", m + "/data/ab", t / "sauve/photos", t / "casse"}, {}},
      {{t / "sauve", t / "lien", t / "lien/photos/"}, {"4=6", "4>8", "6>8"}},
      {{t / "lien/neuve", t / "sauve/neuve/x"}, {"4>6"}},  // both missing, behind a link
      {{m + "/Sauve", m + "/sauve/x"}, {"4>6"}},           // one directory on vfat
      {{t / "Casse", t / "casse"}, {}},
  };
  for (const auto& [chemins, attendu] : cas) {
    std::vector<TCibleListe> cibles;
    for (size_t i = 0; i < chemins.size(); ++i)
      cibles.push_back({static_cast<int>(4 + 2 * i), chemins[i]});
    V trouves;
    for (const TCiblesEnConflit& c : CiblesEnConflit(cibles))
      trouves.push_back(std::to_string(c.englobante.ligne) + (c.meme_repertoire ? "=" : ">") +
                        std::to_string(c.englobee.ligne));
    EXPECT_EQ(trouves, attendu) << ::testing::PrintToString(chemins);
  }
}

}  // namespace
}  // namespace jumelix
