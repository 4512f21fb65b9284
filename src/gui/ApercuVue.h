// The preview of a synchronisation: the plan's actions grouped by pair in a tree (a model
// over the controller's TPlanApercu, which it never copies, so that a plan of hundreds of
// thousands of actions stays responsive), sortable, filtered by action, each one ticked or
// not, with per-pair and total counts. The model and the panel do not own the plan; the
// panel is told when the plan is made anew or dropped (Recharger). GUI thread only.
#pragma once

#include <QAbstractItemModel>
#include <QComboBox>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QWidget>
#include <functional>

#include "app/PlanApercu.h"

namespace jumelix {

class TModeleApercu : public QAbstractItemModel {
 public:
  enum Colonne {
    kColAction,
    kColChemin,
    kColGenre,
    kColTaille,
    kColDate,
    kColTailleCible,
    kColDateCible,
    kColNote,
    kNbColonnes
  };
  // Sort key of a cell (numbers for sizes and dates).
  static constexpr int kRoleTri = Qt::UserRole + 1;
  // The action's kind (TypeAction as int) on an action row; -1 on a pair row.
  static constexpr int kRoleType = Qt::UserRole + 2;

  // `modifiable` says whether the ticks may change now (not during a run); `change` is
  // called after each change of a tick.
  TModeleApercu(TPlanApercu& plan, std::function<bool()> modifiable, std::function<void()> change,
                QObject* parent = nullptr);

  // The plan was made anew or dropped.
  void Recharger();
  // Ticks or unticks every action of the kind of the action at `index` in its pair.
  void CocherTypeDe(const QModelIndex& index, bool coche);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  // Index of the pair of a row (kAucun for a pair row itself).
  size_t PaireDe(const QModelIndex& index) const;
  const TPlanApercu::TChangement& Changement(const QModelIndex& index) const;
  // After a tick changed: every row of the pair `p` and the pair row itself.
  void SignalerPaire(size_t p);

  TPlanApercu& plan_;
  std::function<bool()> modifiable_;
  std::function<void()> change_;
};

// Filters the actions by kind (pairs always show) and sorts them by their sort key.
class TFiltreApercu : public QSortFilterProxyModel {
 public:
  enum Filtre { kTout = -1, kRecentes = 100, kLaisses = 101 };
  explicit TFiltreApercu(QObject* parent = nullptr);
  // A TypeAction as int, or one of the values above.
  void DefinirFiltre(int filtre);

 protected:
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;
  // The pairs keep the grid's order whichever way the actions are sorted.
  bool lessThan(const QModelIndex& gauche, const QModelIndex& droite) const override;

 private:
  int filtre_ = kTout;
};

class TPanneauApercu : public QWidget {
 public:
  TPanneauApercu(TPlanApercu& plan, std::function<bool()> modifiable, QWidget* parent = nullptr);

  // The plan was made anew or dropped: the tree shows it, the pairs open.
  void Recharger();
  // Totals and ticks may have changed.
  void MajTotaux();

  TModeleApercu* Modele() { return &modele_; }
  TFiltreApercu* Filtre() { return &filtre_; }
  QTreeView* Arbre() { return &arbre_; }
  QComboBox* ChoixFiltre() { return &choix_filtre_; }
  QLabel* Totaux() { return &totaux_; }

 private:
  void MenuContextuel(const QPoint& point);

  TPlanApercu& plan_;
  TModeleApercu modele_;
  TFiltreApercu filtre_;
  QComboBox choix_filtre_;
  QLabel totaux_;
  QTreeView arbre_;
};

}  // namespace jumelix
