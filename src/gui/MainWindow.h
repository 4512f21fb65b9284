// The main window: the grid of directory pairs, the command buttons, the log area, the
// status bar and the menu. It holds the window's logic (TJumelix) and is its view: every
// handler calls into that logic and the logic answers through IVueJumelix. It owns its
// controls; the help window and the mail dialog are owned by the caller and outlive it.
// GUI thread only. Closing goes through the logic's close query; once the window has
// really closed it emits Fermee, on which the program ends.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gui/GrilleVue.h"
#include "app/UJumelix.h"
#include "app/VueJumelix.h"

namespace jumelix {

class TFormAide;

// The 3-pixel bar under the grid; dragging it changes the grid's height.
class TSplitter : public QWidget {
 public:
  // `saisir` is called when the bar is grabbed, `deplacer` with the distance dragged since.
  TSplitter(QWidget* parent, std::function<void()> saisir, std::function<void(int)> deplacer);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::function<void()> saisir_;
  std::function<void(int)> deplacer_;
  std::optional<int> origine_;
};

class TFormJumelix : public QWidget, public IVueJumelix {
  Q_OBJECT

 public:
  static constexpr int kNbPanneaux = 5;

  explicit TFormJumelix(QWidget* parent = nullptr);
  ~TFormJumelix() override;

  // Reads the command line and the list file into the grid and marks every row "???".
  void FormCreate(const TLigneCommande& ligne_commande);
  // The help window shown by "Aide"; the window does not own it.
  void DefinirFormAide(TFormAide* aide) { FormAide_ = aide; }
  // Shows the mail settings dialog modally; without one the menu item stays disabled.
  void DefinirFormMail(std::function<void()> afficher);
  // Shows the "Options..." dialog modally; without one the menu item stays disabled.
  void DefinirFormOptions(std::function<void()> afficher);
  // Places the window at the centre of the desktop.
  void Centrer();

  TJumelix& Jumelix() { return jumelix_; }

  // The controls, for the tests and the screenshots.
  TStringGrid* StringGrid1() { return &StringGrid1_; }
  QWidget* Splitter1() { return &Splitter1_; }
  QPlainTextEdit* MemoLog() { return &MemoLog_; }
  QWidget* StatusBar1() { return &StatusBar1_; }
  QLabel* Panneau(int i) { return &Panneaux_.at(i); }
  int LargeurPanneau(int i) const { return LargeursPanneaux_.at(i); }
  QPushButton* ButtonAjouterLigne() { return &ButtonAjouterLigne_; }
  QPushButton* ButtonSupprimerLigne() { return &ButtonSupprimerLigne_; }
  QPushButton* ButtonParcourir() { return &ButtonParcourir_; }
  QPushButton* ButtonComparer() { return &ButtonComparer_; }
  QPushButton* ButtonSynchroniser() { return &ButtonSynchroniser_; }
  QPushButton* ButtonFermer() { return &ButtonFermer_; }
  QPushButton* ButtonAide() { return &ButtonAide_; }
  QMenuBar* MainMenu1() { return &MainMenu1_; }
  QAction* Ajouteruneligne2() { return &Ajouteruneligne2_; }
  QAction* Supprimerlaligneencours1() { return &Supprimerlaligneencours1_; }
  QAction* Parcourir2() { return &Parcourir2_; }
  QAction* SupprimerToutesLesLignes() { return &SupprimerToutesLesLignes_; }
  QAction* Lireunfichierliste1() { return &Lireunfichierliste1_; }
  QAction* Enregistrerlefichierliste1() { return &Enregistrerlefichierliste1_; }
  QAction* Compterenduparmail1() { return &Compterenduparmail1_; }
  QAction* Options1() { return &Options1_; }
  QAction* Quitter1() { return &Quitter1_; }
  QAction* Aide2() { return &Aide2_; }
  QAction* Apropos1() { return &Apropos1_; }

  // IVueJumelix.
  void ViderLog() override;
  void AjouterLog(const std::string& ligne) override;
  void DefinirPanneau(int panneau, const std::string& texte) override;
  void RepeindreBarreEtat() override;
  void RepeindreGrille() override;
  void DefinirLegendeFermer(const std::string& legende) override;
  TReponseMessage Message(const std::string& texte, const std::string& titre,
                          TBoutonsMessage boutons, TIconeMessage icone) override;
  std::optional<std::string> DialogueOuvrir(const TDialogueFichier& d) override;
  std::optional<std::string> DialogueEnregistrer(const TDialogueFichier& d) override;
  std::optional<std::string> ChoisirRepertoire(const std::string& titre) override;
  void TraiterEvenements() override;
  void CurseurAttente(bool actif) override;
  void AjusterHauteurGrille(int nb_rangees) override;
  std::string TexteCredit() override;
  void FermerFenetre() override;

 signals:
  void Fermee();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ConstruireMenu();
  void ConstruireBoutons();
  void Disposer();
  void DisposerPanneaux();
  void FormResize();
  void SuivreCouranteGrille();
  void CouranteVueChangee(const QModelIndex& courant);
  std::optional<std::string> DialogueFichier(const TDialogueFichier& d, bool enregistrer);

  void ButtonAjouterLigneClick();
  void ButtonParcourirClick();
  void ButtonAideClick();
  void Compterenduparmail1Click();
  void Apropos1Click();

  // The logic first: the model below observes its grid.
  TJumelix jumelix_;

  // Controls, declared parent before children: each child leaves its parent when it is
  // destroyed, so destruction in reverse order never frees a control twice.
  QMenuBar MainMenu1_;
  QMenu Action1_;
  QMenu Aide1_;
  QAction Ajouteruneligne2_;
  QAction Supprimerlaligneencours1_;
  QAction Parcourir2_;
  QAction SupprimerToutesLesLignes_;
  QAction Lireunfichierliste1_;
  QAction Enregistrerlefichierliste1_;
  QAction Compterenduparmail1_;
  QAction Options1_;
  QAction Quitter1_;
  QAction Aide2_;
  QAction Apropos1_;

  TStringGrid StringGrid1_;
  TModeleGrille Modele_;
  TDelegueGrille Delegue_;
  TSplitter Splitter1_;
  QWidget Panel1_;
  QPushButton ButtonAjouterLigne_;
  QPushButton ButtonSupprimerLigne_;
  QPushButton ButtonParcourir_;
  QPushButton ButtonComparer_;
  QPushButton ButtonSynchroniser_;
  QPushButton ButtonFermer_;
  QPushButton ButtonAide_;
  QPlainTextEdit MemoLog_;
  QWidget StatusBar1_;
  std::array<QLabel, kNbPanneaux> Panneaux_;
  std::array<int, kNbPanneaux> LargeursPanneaux_ = {180, 120, 120, 120, 80};

  TFormAide* FormAide_ = nullptr;
  std::function<void()> afficher_form_mail_;
  std::function<void()> afficher_form_options_;
  int hauteur_grille_ = 109;
  int hauteur_grille_au_clic_ = 109;
  bool resize_suspendu_ = false;
  bool suivi_courante_ = false;
};

}  // namespace jumelix
