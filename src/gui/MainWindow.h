// The main window: the grid of directory pairs and the log area in a splitter, the command
// buttons, the run's progress strip, the status bar and the menu. It holds the window's
// logic (TJumelix) and is its view: every handler calls into that logic and the logic
// answers through IVueJumelix. It owns its controls; the help window and the mail dialog
// are owned by the caller and outlive it. GUI thread only. Closing goes through the
// logic's close query; once the window has really closed it emits Fermee, on which the
// program ends. Size, splitter and column widths are kept in the state directory once
// RestaurerEtatFenetre has been called (the program does; tests choose).
#pragma once

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui/GrilleVue.h"
#include "gui/VoletsRun.h"
#include "app/UJumelix.h"
#include "app/VueJumelix.h"

namespace jumelix {

class TFormAide;

// A one-line label that elides its text (at the end, or in the middle for paths) instead
// of wrapping or widening its parent, with the whole text as tooltip when it is cut.
class TEtiquette : public QLabel {
 public:
  explicit TEtiquette(Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);
  void DefinirTexte(const QString& texte);
  QString TexteComplet() const { return texte_; }
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Eluder();
  Qt::TextElideMode mode_;
  QString texte_;
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
  // Size, splitter position and column widths as the last session left them (from the
  // state directory's fenetre.ini); from then on they are saved there when the window
  // closes. True when a saved state was applied.
  bool RestaurerEtatFenetre();
  static QString CheminEtatFenetre();

  TJumelix& Jumelix() { return jumelix_; }

  // The controls, for the tests and the screenshots.
  TStringGrid* StringGrid1() { return &StringGrid1_; }
  TModeleGrille* Modele() { return &Modele_; }
  QSplitter* Splitter1() { return &Splitter1_; }
  QPlainTextEdit* MemoLog() { return &MemoLog_; }
  // The log, preview and report tabs, and the commands on selected rows.
  TVoletsRun* Volets() { return &Volets_; }
  QWidget* StatusBar1() { return &StatusBar1_; }
  TEtiquette* Panneau(int i) { return &Panneaux_.at(i); }
  int LargeurPanneau(int i) const { return Panneaux_.at(i).width(); }
  QWidget* BandeAvancement() { return &BandeAvancement_; }
  QLabel* LabelPaire() { return &LabelPaire_; }
  QProgressBar* BarreProgression() { return &BarreProgression_; }
  TEtiquette* LabelRepertoire() { return &LabelRepertoire_; }
  QLabel* LabelVolume() { return &LabelVolume_; }
  QPushButton* ButtonAjouterLigne() { return &ButtonAjouterLigne_; }
  QPushButton* ButtonSupprimerLigne() { return &ButtonSupprimerLigne_; }
  QPushButton* ButtonParcourir() { return &ButtonParcourir_; }
  QPushButton* ButtonComparer() { return &ButtonComparer_; }
  QPushButton* ButtonSynchroniser() { return &ButtonSynchroniser_; }
  QPushButton* ButtonFermer() { return &ButtonFermer_; }
  QPushButton* ButtonAide() { return &ButtonAide_; }
  QMenuBar* MainMenu1() { return &MainMenu1_; }
  QAction* Annuler1() { return &Annuler1_; }
  QAction* Ajouteruneligne2() { return &Ajouteruneligne2_; }
  QAction* Supprimerlaligneencours1() { return &Supprimerlaligneencours1_; }
  QAction* Parcourir2() { return &Parcourir2_; }
  QAction* SupprimerToutesLesLignes() { return &SupprimerToutesLesLignes_; }
  QAction* Comparer1() { return &Comparer1_; }
  QAction* Synchroniser1() { return &Synchroniser1_; }
  QAction* Lireunfichierliste1() { return &Lireunfichierliste1_; }
  QMenu* ListesRecentes1() { return &ListesRecentes1_; }
  QAction* Enregistrerlefichierliste1() { return &Enregistrerlefichierliste1_; }
  QAction* EnregistrerSous1() { return &EnregistrerSous1_; }
  QAction* Compterenduparmail1() { return &Compterenduparmail1_; }
  QAction* Options1() { return &Options1_; }
  QAction* Exclusions1() { return &Exclusions1_; }
  QAction* Quitter1() { return &Quitter1_; }
  QAction* Aide2() { return &Aide2_; }
  QAction* Apropos1() { return &Apropos1_; }

  // IVueJumelix.
  void ViderLog() override;
  void AjouterLog(const std::string& ligne) override;
  void AjouterLignesLog(const std::vector<std::string>& lignes) override;
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
  void RunEnCours(bool en_cours) override;
  void AfficherAvancement(const TAvancementRun& avancement) override;
  void ListeChangee() override;

 signals:
  void Fermee();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ConstruireMenu();
  void ConstruireBoutons();
  void ConstruireBarreEtat();
  void Disposer();
  // Source and destination share the width "Etat" leaves, in the proportion the user
  // last gave them; "Etat" stays in view.
  void AjusterColonnes();
  void ColonneRedimensionnee(int colonne, int ancienne, int nouvelle);
  void MajListesRecentes();
  void EnregistrerEtatFenetre();
  void SuivreCouranteGrille();
  void CouranteVueChangee(const QModelIndex& courant);
  std::optional<std::string> DialogueFichier(const TDialogueFichier& d, bool enregistrer);

  void ButtonAjouterLigneClick();
  void ButtonParcourirClick();
  void ButtonComparerClick();
  void ButtonSynchroniserClick();
  // F10: the menu bar opens on its first menu, whatever the style makes of the Alt key.
  void OuvrirMenu();
  void ButtonAideClick();
  void Compterenduparmail1Click();
  void Exclusions1Click();
  void Apropos1Click();

  // The logic first: the model below observes its grid.
  TJumelix jumelix_;

  // Controls, declared parent before children: each child leaves its parent when it is
  // destroyed, so destruction in reverse order never frees a control twice.
  QMenuBar MainMenu1_;
  QMenu Action1_;
  QMenu Aide1_;
  QMenu ListesRecentes1_;
  QAction Annuler1_;
  QAction Ajouteruneligne2_;
  QAction Supprimerlaligneencours1_;
  QAction Parcourir2_;
  QAction SupprimerToutesLesLignes_;
  QAction Comparer1_;
  QAction Synchroniser1_;
  QAction Lireunfichierliste1_;
  QAction Enregistrerlefichierliste1_;
  QAction EnregistrerSous1_;
  QAction Compterenduparmail1_;
  QAction Options1_;
  QAction Exclusions1_;
  QAction Quitter1_;
  QAction Aide2_;
  QAction Apropos1_;
  QAction OuvrirMenu1_;  // F10, in no menu

  QSplitter Splitter1_;
  TStringGrid StringGrid1_;
  TModeleGrille Modele_;
  TDelegueGrille Delegue_;
  QWidget Bas_;
  QWidget Panel1_;
  QPushButton ButtonAjouterLigne_;
  QPushButton ButtonSupprimerLigne_;
  QPushButton ButtonParcourir_;
  QPushButton ButtonComparer_;
  QPushButton ButtonSynchroniser_;
  QPushButton ButtonFermer_;
  QPushButton ButtonAide_;
  TVoletsRun Volets_;  // before the log area it holds
  QPlainTextEdit MemoLog_;
  QWidget BandeAvancement_;
  QLabel LabelPaire_;
  QProgressBar BarreProgression_;
  TEtiquette LabelRepertoire_;
  QLabel LabelVolume_;
  QWidget StatusBar1_;
  std::array<TEtiquette, kNbPanneaux> Panneaux_;

  TFormAide* FormAide_ = nullptr;
  std::function<void()> afficher_form_mail_;
  std::function<void()> afficher_form_options_;
  double proportion_source_ = 0.5;
  bool ajustement_colonnes_ = false;
  bool suivi_courante_ = false;
  bool memoriser_etat_ = false;
  bool tailles_placees_ = false;  // the splitter got its first sizes (or restored ones)
  int hauteur_grille_initiale_;   // the grid's height at first show
  int ligne_affichee_ = 0;
  QElapsedTimer dernier_traitement_;
};

}  // namespace jumelix
