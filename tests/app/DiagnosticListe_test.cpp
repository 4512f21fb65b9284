#include "app/DiagnosticListe.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace jumelix
