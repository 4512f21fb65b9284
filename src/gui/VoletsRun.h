// The main window's panes below the buttons: the log area (with its search bar, Ctrl+F, and
// "Enregistrer le journal..."), the preview of the last comparison and the report of the
// last run, as tabs; and the commands that run the grid's selected rows only. Holds no run
// state: it shows what the controller (TJumelix) keeps, and refreshes when a run ends or
// the rows change. Owned by the main window, which gives it its log area and grid; GUI
// thread only.
#pragma once

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/UJumelix.h"
#include "gui/ApercuVue.h"
#include "gui/BilanVue.h"

namespace jumelix {

class TStringGrid;

class TVoletsRun : public QObject {
 public:
  using TDialogue = std::function<std::optional<std::string>(const TDialogueFichier&)>;
  using TMessage = std::function<void(const std::string&)>;

  // `enregistrer` asks where to save the log, `erreur` tells a failure to write it.
  TVoletsRun(TJumelix& jumelix, TDialogue enregistrer, TMessage erreur);

  // Puts the log area into the first tab, gives the grid its context menu and the window
  // the commands' keys.
  void Installer(QPlainTextEdit* log, TStringGrid* grille, QWidget* fenetre);

  // A run starts or has ended; the rows or the list changed.
  void RunEnCours(bool en_cours);
  void ListeChangee();

  // The grid rows (from 1) the selection commands run: the selected ones, else the
  // current one.
  std::vector<int> LignesSelectionnees() const;
  void RechercherSuivant();
  bool EnregistrerJournal();

  QTabWidget* Onglets() { return &onglets_; }
  TPanneauApercu* Apercu() { return &apercu_; }
  TPanneauBilan* Bilan() { return &bilan_; }
  QWidget* BarreRecherche() { return &barre_recherche_; }
  QLineEdit* Recherche() { return &recherche_; }
  QLabel* ResultatRecherche() { return &resultat_; }
  QAction* ComparerSelection() { return &comparer_selection_; }
  QAction* SynchroniserSelection() { return &synchroniser_selection_; }
  QAction* Rechercher() { return &rechercher_; }
  QAction* EnregistrerJournalAction() { return &enregistrer_journal_; }

  static constexpr int kOngletJournal = 0, kOngletApercu = 1, kOngletBilan = 2;

 protected:
  // Escape in the search field closes the bar: it must not reach the window, where it
  // means "Fermer".
  bool eventFilter(QObject* objet, QEvent* evenement) override;

 private:
  void MajPlan();
  void MenuGrille(const QPoint& point);

  TJumelix& jumelix_;
  TDialogue enregistrer_;
  TMessage erreur_;
  QPlainTextEdit* log_ = nullptr;
  TStringGrid* grille_ = nullptr;
  int generation_vue_ = -1;

  // Parents before children (see the main window).
  QTabWidget onglets_;
  QWidget page_journal_;
  QWidget barre_recherche_;
  QLineEdit recherche_;
  QPushButton bouton_suivant_;
  QPushButton bouton_fermer_recherche_;
  QLabel resultat_;
  TPanneauApercu apercu_;
  TPanneauBilan bilan_;
  QAction comparer_selection_;
  QAction synchroniser_selection_;
  QAction rechercher_;
  QAction enregistrer_journal_;
};

}  // namespace jumelix
