#include "app/GrilleLignes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace jumelix {
namespace {

// Rows given as {source, destination, state}; row 0 stays the titles.
TGrilleLignes GrilleAvec(const std::vector<std::vector<std::string>>& rangees) {
  TGrilleLignes g;
  for (size_t i = 0; i < rangees.size(); ++i) {
    int r = static_cast<int>(i) + 1;
    if (r > g.DerniereLigne()) g.AjouterLigneVide();
    for (int c = 0; c < static_cast<int>(rangees[i].size()); ++c)
      g.DefinirCellule(c, r, rangees[i][c]);
  }
  return g;
}

std::vector<std::string> Colonne(const TGrilleLignes& g, int c) {
  std::vector<std::string> v;
  for (int r = 1; r < g.NbLignes(); ++r) v.push_back(g.Cellule(c, r));
  return v;
}

TEST(GrilleLignes, NewGridHasTitlesAndOneBlankCurrentRow) {
  TGrilleLignes g;
  EXPECT_EQ(g.NbLignes(), 2);
  EXPECT_EQ(g.Cellule(0, 0), "Répertoire source");
  EXPECT_EQ(g.Cellule(1, 0), "Répertoire cible");
  EXPECT_EQ(g.Cellule(2, 0), "Etat");
  EXPECT_EQ(g.Cellule(0, 1), "");
  EXPECT_EQ(g.LigneCourante(), 1);
  EXPECT_EQ(g.ColonneCourante(), 0);
  EXPECT_TRUE(g.GrilleVide());
  EXPECT_EQ(g.Cellule(0, 7), "");  // outside the grid
}

TEST(GrilleLignes, CurrentCellNeverInStateColumnOrTitleRow) {
  TGrilleLignes g = GrilleAvec({{"a", "b"}, {"c", "d"}});
  EXPECT_FALSE(g.DefinirCelluleCourante(kColEtat, 1));
  EXPECT_FALSE(g.DefinirCelluleCourante(0, 0));
  EXPECT_FALSE(g.DefinirCelluleCourante(0, 3));
  EXPECT_FALSE(g.DefinirCelluleCourante(-1, 1));
  EXPECT_TRUE(g.DefinirCelluleCourante(1, 2));
  EXPECT_EQ(g.LigneCourante(), 2);
  EXPECT_EQ(g.ColonneCourante(), 1);
}

TEST(GrilleLignes, AjouterLigneReusesBlankLastRowOrAddsOne) {
  // Current row not the last: moves to column 0 of the last row, adds nothing.
  TGrilleLignes g = GrilleAvec({{"a", "b"}, {"c", "d"}});
  ASSERT_TRUE(g.DefinirCelluleCourante(1, 1));
  g.AjouterLigne();
  EXPECT_EQ(g.NbLignes(), 3);
  EXPECT_EQ(g.LigneCourante(), 2);
  EXPECT_EQ(g.ColonneCourante(), 0);

  // Last row filled: a blank row is added and made current.
  ASSERT_TRUE(g.DefinirCelluleCourante(1, 2));
  g.DefinirCellule(kColEtat, 2, "=");
  g.AjouterLigne();
  EXPECT_EQ(g.NbLignes(), 4);
  EXPECT_EQ(g.LigneCourante(), 3);
  EXPECT_EQ(g.ColonneCourante(), 0);
  EXPECT_EQ(g.Cellule(0, 3) + g.Cellule(1, 3) + g.Cellule(2, 3), "");

  // Last row blank (blanks count as blank): nothing happens, the cell stays.
  g.DefinirCellule(0, 3, "  \t");
  ASSERT_TRUE(g.DefinirCelluleCourante(1, 3));
  g.AjouterLigne();
  EXPECT_EQ(g.NbLignes(), 4);
  EXPECT_EQ(g.ColonneCourante(), 1);

  // Only one of the two cells filled is enough to add a row.
  g.DefinirCellule(1, 3, "x");
  g.AjouterLigne();
  EXPECT_EQ(g.NbLignes(), 5);
}

TEST(GrilleLignes, SupprimerLigneShiftsRowsUpAndKeepsOneDataRow) {
  TGrilleLignes g = GrilleAvec({{"a", "b", "="}, {"c", "d", "2 erreur(s)"}, {"e", "f", "???"}});
  ASSERT_TRUE(g.DefinirCelluleCourante(1, 2));
  g.SupprimerLigne();
  EXPECT_EQ(Colonne(g, 0), (std::vector<std::string>{"a", "e"}));
  EXPECT_EQ(Colonne(g, 2), (std::vector<std::string>{"=", "???"}));  // state moves too
  EXPECT_EQ(g.LigneCourante(), 2);
  EXPECT_EQ(g.ColonneCourante(), 1);

  // Deleting the last row makes the new last row current.
  g.SupprimerLigne();
  EXPECT_EQ(Colonne(g, 0), (std::vector<std::string>{"a"}));
  EXPECT_EQ(g.LigneCourante(), 1);

  // The only data row is emptied, never removed.
  g.SupprimerLigne();
  EXPECT_EQ(g.NbLignes(), 2);
  EXPECT_EQ(g.Cellule(0, 1) + g.Cellule(1, 1) + g.Cellule(2, 1), "");
  EXPECT_EQ(g.Cellule(0, 0), "Répertoire source");
}

TEST(GrilleLignes, SupprimerToutesLesLignesLeavesOneEmptyRowFromAnyCurrentRow) {
  for (int courante = 1; courante <= 4; ++courante) {
    TGrilleLignes g = GrilleAvec({{"a", "b"}, {"c", "d"}, {"e", "f"}, {"g", "h", "="}});
    ASSERT_TRUE(g.DefinirCelluleCourante(0, courante));
    g.SupprimerToutesLesLignes();
    EXPECT_EQ(g.NbLignes(), 2) << courante;
    EXPECT_EQ(g.Cellule(0, 1) + g.Cellule(1, 1) + g.Cellule(2, 1), "") << courante;
  }
}

TEST(GrilleLignes, InsererLigneOpensBlankRowAtIndex) {
  TGrilleLignes g = GrilleAvec({{"a", "b", "="}, {"c", "d", "???"}});
  ASSERT_TRUE(g.DefinirCelluleCourante(1, 2));
  g.InsererLigne(2);  // on the last row: it moves down
  EXPECT_EQ(Colonne(g, 0), (std::vector<std::string>{"a", "", "c"}));
  EXPECT_EQ(Colonne(g, 2), (std::vector<std::string>{"=", "", "???"}));
  EXPECT_EQ(g.LigneCourante(), 2);  // the current cell is now in the blank row
  EXPECT_EQ(g.ColonneCourante(), 1);

  g.InsererLigne(-1);
  g.InsererLigne(4);  // beyond the last row
  g.InsererLigne(0);  // the titles never move
  EXPECT_EQ(g.NbLignes(), 4);
  EXPECT_EQ(g.Cellule(0, 0), "Répertoire source");
}

TEST(GrilleLignes, CelluleSuivanteWalksSourceDestinationThenNextRow) {
  TGrilleLignes g = GrilleAvec({{"a", "b"}, {"c", "d"}});
  ASSERT_TRUE(g.DefinirCelluleCourante(0, 1));
  g.CelluleSuivante();
  EXPECT_EQ(g.LigneCourante(), 1);
  EXPECT_EQ(g.ColonneCourante(), 1);
  g.CelluleSuivante();
  EXPECT_EQ(g.LigneCourante(), 2);
  EXPECT_EQ(g.ColonneCourante(), 0);
  g.CelluleSuivante();
  g.CelluleSuivante();  // column 1 of a filled last row: a new row
  EXPECT_EQ(g.NbLignes(), 4);
  EXPECT_EQ(g.LigneCourante(), 3);
  EXPECT_EQ(g.ColonneCourante(), 0);
  g.CelluleSuivante();
  g.CelluleSuivante();  // column 1 of a blank last row: column 0 of the same row
  EXPECT_EQ(g.NbLignes(), 4);
  EXPECT_EQ(g.LigneCourante(), 3);
  EXPECT_EQ(g.ColonneCourante(), 0);
}

TEST(GrilleLignes, MarquerEtatOneRowDependsOnCellsAllRowsDoNot) {
  TGrilleLignes g = GrilleAvec({{"a", ""}, {" ", "\t"}, {"", "d"}, {"", "", "="}});
  for (int r = 1; r <= 4; ++r) g.MarquerEtat(r);
  EXPECT_EQ(Colonne(g, 2), (std::vector<std::string>{"???", "", "???", ""}));
  g.MarquerEtat(0);  // titles untouched
  EXPECT_EQ(g.Cellule(2, 0), "Etat");
  g.MarquerEtatTout();
  EXPECT_EQ(Colonne(g, 2), (std::vector<std::string>{"???", "???", "???", "???"}));
  EXPECT_EQ(g.Cellule(2, 0), "Etat");
}

TEST(GrilleLignes, GrilleModifieeComparesBothColumnsWithTheBaseline) {
  TGrilleLignes g = GrilleAvec({{"a", "b"}});
  EXPECT_TRUE(g.GrilleModifiee());  // no baseline yet: 0 lines against 2 rows
  g.RetenirGrille();
  EXPECT_EQ(g.LignesReference(),
            (std::vector<std::string>{"Répertoire source", "Répertoire cible", "a", "b"}));
  EXPECT_FALSE(g.GrilleModifiee());

  g.DefinirCellule(kColEtat, 1, "3 erreur(s)");  // the state is never compared
  EXPECT_FALSE(g.GrilleModifiee());
  g.DefinirCellule(1, 1, "B");  // case matters
  EXPECT_TRUE(g.GrilleModifiee());
  g.DefinirCellule(1, 1, "b");  // typing the old text back: unchanged again
  EXPECT_FALSE(g.GrilleModifiee());
  g.DefinirCellule(0, 1, "a ");
  EXPECT_TRUE(g.GrilleModifiee());
  g.DefinirCellule(0, 1, "a");
  g.AjouterLigne();  // an extra blank row is a change of size
  EXPECT_TRUE(g.GrilleModifiee());

  g.DefinirLignesReference({"Répertoire source", "Répertoire cible", "a", "b", "", "", "x"});
  EXPECT_TRUE(g.GrilleModifiee());  // one line too many
}

TEST(GrilleLignes, GrilleVideLooksAtDataRowsOnly) {
  EXPECT_TRUE(GrilleAvec({{" ", "\t", "="}, {"", ""}}).GrilleVide());
  EXPECT_FALSE(GrilleAvec({{"", ""}, {"", "d"}}).GrilleVide());
  EXPECT_FALSE(GrilleAvec({{"s", ""}}).GrilleVide());
}

TEST(GrilleLignes, LignesAEnregistrerKeepsRowsWithBothCellsNonEmpty) {
  TGrilleLignes g =
      GrilleAvec({{"a", "b", "="}, {"", "d"}, {" ", ""}, {" ", "  "}, {"e", ""}, {"f", "g"}});
  EXPECT_EQ(g.LignesAEnregistrer(),
            (std::vector<std::string>{"Répertoire source", "Répertoire cible", "a", "b", " ", "  ",
                                      "f", "g"}));
}

struct CasTouche {
  TTouche touche;
  bool editeur;
  bool derniere_ligne;
  TDecisionTouche attendu;
};

TEST(GrilleLignes, KeyboardTable) {
  using A = TActionTouche;
  const CasTouche cas[] = {
      {TTouche::Droite, false, false, {A::CelluleSuivante, false}},
      {TTouche::Droite, false, true, {A::CelluleSuivante, false}},
      {TTouche::Droite, true, true, {A::Aucune, true}},
      {TTouche::Bas, false, true, {A::AjouterLigne, false}},
      {TTouche::Bas, false, false, {A::Aucune, true}},
      {TTouche::Bas, true, true, {A::Aucune, true}},
      {TTouche::Inser, false, false, {A::InsererLigne, true}},
      {TTouche::Inser, true, true, {A::InsererLigne, true}},
      {TTouche::Autre, false, true, {A::Aucune, true}},
  };
  for (const CasTouche& c : cas) {
    TGrilleLignes g = GrilleAvec({{"a", "b"}, {"c", "d"}});
    ASSERT_TRUE(g.DefinirCelluleCourante(0, c.derniere_ligne ? 2 : 1));
    EXPECT_EQ(g.DecisionTouche(c.touche, c.editeur), c.attendu)
        << static_cast<int>(c.touche) << " " << c.editeur << " " << c.derniere_ligne;
  }
}

TEST(GrilleLignes, KeysActOnTheRows) {
  TGrilleLignes g = GrilleAvec({{"a", "b"}});
  // Down on a filled last row adds a row; on a blank last row nothing.
  EXPECT_FALSE(g.AppliquerTouche(TTouche::Bas, false));
  EXPECT_EQ(g.NbLignes(), 3);
  EXPECT_EQ(g.LigneCourante(), 2);
  EXPECT_FALSE(g.AppliquerTouche(TTouche::Bas, false));
  EXPECT_EQ(g.NbLignes(), 3);
  EXPECT_EQ(g.LigneCourante(), 2);
  // Insert on the first row, even with an editor open.
  ASSERT_TRUE(g.DefinirCelluleCourante(1, 1));
  EXPECT_TRUE(g.AppliquerTouche(TTouche::Inser, true));
  EXPECT_EQ(Colonne(g, 0), (std::vector<std::string>{"", "a", ""}));
  // Right with an editor open leaves the cell alone.
  EXPECT_TRUE(g.AppliquerTouche(TTouche::Droite, true));
  EXPECT_EQ(g.ColonneCourante(), 1);
  EXPECT_FALSE(g.AppliquerTouche(TTouche::Droite, false));
  EXPECT_EQ(g.LigneCourante(), 2);
  EXPECT_EQ(g.ColonneCourante(), 0);
}

class Espion : public IObservateurGrille {
 public:
  void AvantChangementStructure() override {
    evenements.push_back("avant");
    ++ouverts;
  }
  void ApresChangementStructure() override {
    evenements.push_back("apres");
    --ouverts;
  }
  void CelluleModifiee(int c, int l) override {
    evenements.push_back("cellule " + std::to_string(c) + "," + std::to_string(l));
  }
  void CelluleCouranteModifiee(int c, int l) override {
    evenements.push_back("courante " + std::to_string(c) + "," + std::to_string(l));
  }
  std::vector<std::string> evenements;
  int ouverts = 0;
};

TEST(GrilleLignes, ObserverHearsEveryChangeWithStructureBracketed) {
  TGrilleLignes g = GrilleAvec({{"a", "b"}});
  Espion e;
  g.DefinirObservateur(&e);
  g.DefinirCellule(0, 1, "a");  // same text: no event
  g.DefinirCellule(0, 1, "x");
  g.AjouterLigne();
  g.InsererLigne(1);
  g.SupprimerLigne();
  g.DefinirCellule(1, 2, "z");
  g.ViderLigne(2);
  EXPECT_EQ(e.ouverts, 0);
  EXPECT_EQ(e.evenements,
            (std::vector<std::string>{"cellule 0,1", "avant", "apres", "courante 0,2", "avant",
                                      "apres", "avant", "apres", "cellule 1,2", "cellule 1,2"}));
}

}  // namespace
}  // namespace jumelix
