// The Qt face of the pairs grid: a table model that shows a TGrilleLignes (row 0 of the
// grid is the header, data rows follow) and a table view that hands its keys and cell
// edits to the window's logic. The model follows the grid through IObservateurGrille; it
// holds no text of its own. The "Etat" column is never enabled, so it can never become
// the current cell, and no cell is editable while `LectureSeule` says so. Long paths are
// elided in the middle, with the whole path as tooltip; the row being walked stands out.
// The view takes dropped folders and files and shows a hint over an empty list. GUI
// thread only.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <string>
#include <vector>

#include "app/GrilleLignes.h"

namespace jumelix {

class TModeleGrille : public QAbstractTableModel, public IObservateurGrille {
  Q_OBJECT

 public:
  // `modifier` stores an edited text (the logic decides whether to accept it);
  // `lecture_seule` tells whether editing is refused right now; `ligne_en_cours` gives the
  // grid row being walked (0: none).
  TModeleGrille(TGrilleLignes& grille, std::function<void(int, int, const std::string&)> modifier,
                std::function<bool()> lecture_seule, std::function<int()> ligne_en_cours = {},
                QObject* parent = nullptr);
  // The row being walked changed: its look is refreshed.
  void RafraichirLigneEnCours();
  ~TModeleGrille() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // IObservateurGrille.
  void AvantChangementStructure() override;
  void ApresChangementStructure() override;
  void CelluleModifiee(int colonne, int ligne) override;
  void CelluleCouranteModifiee(int colonne, int ligne) override;

 signals:
  // The grid's current cell moved, or the rows were rebuilt: the view must follow.
  void CouranteAChanger();

 private:
  TGrilleLignes& grille_;
  std::function<void(int, int, const std::string&)> modifier_;
  std::function<bool()> lecture_seule_;
  std::function<int()> ligne_en_cours_;
};

// Edits a cell with a line editor whose every change reaches the model at once (the row's
// state is reset on the first keystroke), and lets the Insert key through to the window.
class TDelegueGrille : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // `touche_inser` is called when Insert is pressed in an open editor.
  explicit TDelegueGrille(std::function<void()> touche_inser, QObject* parent = nullptr);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> touche_inser_;
};

// The grid view: its keys go first to `touche` (with whether an editor is open), which
// answers whether the view must still handle them.
class TStringGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TStringGrid(QWidget* parent = nullptr);
  void DefinirGestionTouches(std::function<bool(TTouche, bool)> touche) {
    touche_ = std::move(touche);
  }
  // Local paths dropped on the cell (colonne, ligne of the grid, from 1), or outside any
  // cell (ligne 0): the answer says whether they were taken.
  using TDepot = std::function<bool(int colonne, int ligne, const std::vector<std::string>&)>;
  void DefinirDepot(TDepot depot) { depot_ = std::move(depot); }
  // The hint painted over the grid while it returns a non-empty text.
  void DefinirIndication(std::function<QString()> indication) {
    indication_ = std::move(indication);
  }
  QString IndicationAffichee() const { return indication_ ? indication_() : QString(); }
  // Called whenever the view changes size (the columns are fitted to it).
  void DefinirSurRedimension(std::function<void()> f) { sur_redimension_ = std::move(f); }
  // Called once a cell's editor has closed, however it closed (grid row from 1), from the
  // event loop (the edit's end may have come with a focus change still under way), or
  // before the next edit begins, whichever comes first.
  void DefinirFinEdition(std::function<void(int colonne, int ligne)> f) {
    fin_edition_ = std::move(f);
  }
  bool EditeurOuvert() const { return state() == QAbstractItemView::EditingState; }
  // Ends an open cell edit, keeping what was typed (a run is starting).
  void FermerEditeur();

 protected:
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  std::function<bool(TTouche, bool)> touche_;
  TDepot depot_;
  std::function<QString()> indication_;
  std::function<void()> sur_redimension_;
  void TraiterFinEdition();

  std::function<void(int, int)> fin_edition_;
  QPersistentModelIndex cellule_editee_;
  QPersistentModelIndex fin_en_attente_;  // an editor closed, its end not yet judged
};

}  // namespace jumelix
