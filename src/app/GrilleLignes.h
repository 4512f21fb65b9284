// The rows of the pairs grid, without any widget: three columns (source, destination,
// state), row 0 holding the column titles, always at least one data row, and a current
// cell that is never in the state column. The row operations, the baseline used by the
// save-on-exit test and the grid keyboard rules live here; a window puts its view on top
// and is told of every change through IObservateurGrille. Single-threaded; never throws.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace jumelix {

inline constexpr int kColSource = 0;
inline constexpr int kColCible = 1;
inline constexpr int kColEtat = 2;
inline constexpr int kNbColonnes = 3;

inline constexpr const char* kTitreSource = "Répertoire source";
inline constexpr const char* kTitreCible = "Répertoire cible";
inline constexpr const char* kTitreEtat = "Etat";
inline constexpr const char* kEtatAFaire = "???";
// A pair whose walk a stop cut short.
inline constexpr const char* kEtatAbandonne = "abandonné";

// What a view must follow. Structure changes (rows added, removed or shifted) are
// bracketed by Avant/Apres so that a Qt model can reset itself properly; a cell whose text
// changed outside a structure change is reported alone.
class IObservateurGrille {
 public:
  virtual ~IObservateurGrille() = default;
  virtual void AvantChangementStructure() {}
  virtual void ApresChangementStructure() {}
  virtual void CelluleModifiee(int /*colonne*/, int /*ligne*/) {}
  virtual void CelluleCouranteModifiee(int /*colonne*/, int /*ligne*/) {}
};

// Keys the grid reacts to; every other key is Autre.
enum class TTouche { Droite, Bas, Inser, Autre };
enum class TActionTouche { Aucune, CelluleSuivante, AjouterLigne, InsererLigne };
struct TDecisionTouche {
  TActionTouche action = TActionTouche::Aucune;
  bool transmettre = true;  // the key still goes on to the grid (caret move, selection)
  bool operator==(const TDecisionTouche&) const = default;
};

class TGrilleLignes {
 public:
  using TRangee = std::array<std::string, kNbColonnes>;
  // Every cell and the current cell, as Ctrl+Z gives them back.
  struct TInstantane {
    std::vector<TRangee> cellules;
    int ligne = 1;
    int colonne = kColSource;
  };

  // One title row and one blank data row; current cell column 0 of row 1.
  TGrilleLignes();

  void DefinirObservateur(IObservateurGrille* observateur) { observateur_ = observateur; }

  int NbLignes() const { return static_cast<int>(cellules_.size()); }  // title row included
  int DerniereLigne() const { return NbLignes() - 1; }
  // The empty text for a cell outside the grid.
  const std::string& Cellule(int colonne, int ligne) const;
  // Ignored outside the grid. Row 0 (titles) can be written too: it is an ordinary row.
  void DefinirCellule(int colonne, int ligne, const std::string& texte);

  int LigneCourante() const { return ligne_courante_; }
  int ColonneCourante() const { return colonne_courante_; }
  // Refuses (false) the state column, the title row and cells outside the grid.
  bool DefinirCelluleCourante(int colonne, int ligne);

  // Row operations.
  void ViderLigne(int ligne);
  void AjouterLigne();
  void SupprimerLigne();
  // Calls SupprimerLigne as many times as the grid has rows: one blank data row remains.
  void SupprimerToutesLesLignes();
  // Ignored for the title row and beyond the last row.
  void InsererLigne(int ligne);
  void CelluleSuivante();
  // One row: "???" when its source or destination is not blank, else empty.
  void MarquerEtat(int ligne);
  // Every data row: "???" whatever it holds.
  void MarquerEtatTout();
  // Appends a blank row, makes it current at column 0 (the last step of AjouterLigne).
  void AjouterLigneVide();

  // The baseline for the save-on-exit test.
  const std::vector<std::string>& LignesReference() const { return lignes_reference_; }
  void DefinirLignesReference(std::vector<std::string> lignes);
  // The baseline becomes column 0 then column 1 of every row, titles included.
  void RetenirGrille();
  // True when the grid's first two columns differ from the baseline (exact comparison).
  bool GrilleModifiee() const;
  // True when no data row has a non-blank source or destination.
  bool GrilleVide() const;
  // The data rows (from 1) whose source or destination, but not both, is blank: a run
  // skips them.
  std::vector<int> LignesAMoitieRemplies() const;
  // The lines of a list file: column 0 then column 1 of every row, titles included, whose
  // two cells are both non-empty (a cell of blanks counts as filled).
  std::vector<std::string> LignesAEnregistrer() const;

  TInstantane Instantane() const { return {cellules_, ligne_courante_, colonne_courante_}; }
  // The cells and current cell of `i` back, as one structure change.
  void Restaurer(const TInstantane& i);

  // Keyboard: what a key does given whether a cell editor is open and the current cell.
  TDecisionTouche DecisionTouche(TTouche touche, bool editeur_ouvert) const;
  // Applies the decision and returns whether the key must still go on to the grid.
  bool AppliquerTouche(TTouche touche, bool editeur_ouvert);

 private:
  bool LigneValide(int ligne) const { return ligne >= 0 && ligne < NbLignes(); }
  bool LigneBlanche(int ligne) const;
  void ChangerCourante(int colonne, int ligne);
  void Avant();
  void Apres();
  void Modifiee(int colonne, int ligne);

  std::vector<TRangee> cellules_;
  std::vector<std::string> lignes_reference_;
  int ligne_courante_ = 1;
  int colonne_courante_ = kColSource;
  IObservateurGrille* observateur_ = nullptr;
};

}  // namespace jumelix
