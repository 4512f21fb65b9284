// The main window's construction: its menus, buttons, status bar and layout
// (gui/MainWindow.h).
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "gui/MainWindow.h"
#include "gui/PlanifierDialog.h"

namespace jumelix {

namespace {

constexpr int kHauteurPanel = 41;
constexpr int kHauteurBarreEtat = 19;

}  // namespace

void TFormJumelix::ConstruireMenu() {
  MainMenu1_.setNativeMenuBar(false);
  MainMenu1_.addMenu(&Action1_);
  MainMenu1_.addMenu(&Aide1_);
  Action1_.addAction(&Annuler1_);
  Action1_.addSeparator();
  Action1_.addActions(
      {&Ajouteruneligne2_, &Supprimerlaligneencours1_, &Parcourir2_, &SupprimerToutesLesLignes_});
  Action1_.addSeparator();
  Action1_.addActions(
      {&Comparer1_, &Synchroniser1_, Volets_.ComparerSelection(), Volets_.SynchroniserSelection()});
  Action1_.addSeparator();
  Action1_.addActions({Volets_.Rechercher(), Volets_.EnregistrerJournalAction()});
  Action1_.addSeparator();
  Action1_.addAction(&Lireunfichierliste1_);
  Action1_.addMenu(&ListesRecentes1_);
  Action1_.addActions({&Enregistrerlefichierliste1_, &EnregistrerSous1_});
  // The saved list's unattended schedule (gui/PlanifierDialog.h).
  connect(Action1_.addAction(QStringLiteral("Pla&nifier...")), &QAction::triggered, this,
          [this] { OuvrirPlanification(this, jumelix_, *this); });
  Action1_.addSeparator();
  Action1_.addActions({&Compterenduparmail1_, &Options1_, &Exclusions1_});
  Action1_.addSeparator();
  Action1_.addAction(&Quitter1_);
  Aide1_.addActions({&Aide2_, &Apropos1_});

  // The usual keys, shown beside the items; the grid's own keys (Insert, the arrows) and
  // the cell editor's Ctrl+Z come first where they apply.
  Annuler1_.setShortcut(QKeySequence::Undo);
  Supprimerlaligneencours1_.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
  Lireunfichierliste1_.setShortcut(QKeySequence::Open);
  Enregistrerlefichierliste1_.setShortcut(QKeySequence::Save);
  EnregistrerSous1_.setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  Quitter1_.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  Aide2_.setShortcut(QKeySequence(Qt::Key_F1));
  // The run commands from the keyboard, shown beside the items and in the tooltips.
  Comparer1_.setShortcut(QKeySequence(Qt::Key_F5));
  Synchroniser1_.setShortcut(QKeySequence(Qt::Key_F6));
  // The actions belong to the window too, so that their keys work with the menu closed.
  addActions({&Annuler1_, &Ajouteruneligne2_, &Supprimerlaligneencours1_, &Parcourir2_,
              &SupprimerToutesLesLignes_, &Comparer1_, &Synchroniser1_, &Lireunfichierliste1_,
              &Enregistrerlefichierliste1_, &EnregistrerSous1_, &Compterenduparmail1_, &Quitter1_,
              &Aide2_, &Apropos1_});
  // Some styles open the menu bar with F10, others do not: here it always does.
  OuvrirMenu1_.setShortcut(QKeySequence(Qt::Key_F10));
  addAction(&OuvrirMenu1_);
  connect(&OuvrirMenu1_, &QAction::triggered, this, &TFormJumelix::OuvrirMenu);

  connect(&Annuler1_, &QAction::triggered, this, [this] { jumelix_.AnnulerClick(); });
  connect(&Ajouteruneligne2_, &QAction::triggered, this, &TFormJumelix::ButtonAjouterLigneClick);
  connect(&Supprimerlaligneencours1_, &QAction::triggered, this,
          [this] { jumelix_.ButtonSupprimerLigneClick(); });
  connect(&Parcourir2_, &QAction::triggered, this, &TFormJumelix::ButtonParcourirClick);
  connect(&SupprimerToutesLesLignes_, &QAction::triggered, this,
          [this] { jumelix_.SupprimerToutesLesLignesClick(); });
  connect(&Comparer1_, &QAction::triggered, this, &TFormJumelix::ButtonComparerClick);
  connect(&Synchroniser1_, &QAction::triggered, this, &TFormJumelix::ButtonSynchroniserClick);
  connect(&Lireunfichierliste1_, &QAction::triggered, this,
          [this] { jumelix_.Lireunfichierliste1Click(); });
  connect(&Enregistrerlefichierliste1_, &QAction::triggered, this,
          [this] { jumelix_.Enregistrerlefichierliste1Click(); });
  connect(&EnregistrerSous1_, &QAction::triggered, this,
          [this] { jumelix_.EnregistrerSous1Click(); });
  connect(&Compterenduparmail1_, &QAction::triggered, this,
          &TFormJumelix::Compterenduparmail1Click);
  connect(&Quitter1_, &QAction::triggered, this, [this] { close(); });
  connect(&Aide2_, &QAction::triggered, this, &TFormJumelix::ButtonAideClick);
  connect(&Apropos1_, &QAction::triggered, this, &TFormJumelix::Apropos1Click);
  Compterenduparmail1_.setEnabled(false);
  connect(&Options1_, &QAction::triggered, this, [this] {
    if (afficher_form_options_) afficher_form_options_();
  });
  Options1_.setEnabled(false);
  connect(&Exclusions1_, &QAction::triggered, this, &TFormJumelix::Exclusions1Click);
}

void TFormJumelix::ConstruireBoutons() {
  struct Place {
    QPushButton* bouton;
    int gauche;
    int largeur;
  };
  for (const Place& p : {Place{&ButtonAjouterLigne_, 4, 89}, Place{&ButtonSupprimerLigne_, 100, 81},
                         Place{&ButtonParcourir_, 184, 85}, Place{&ButtonComparer_, 272, 85},
                         Place{&ButtonSynchroniser_, 360, 85}, Place{&ButtonFermer_, 448, 85},
                         Place{&ButtonAide_, 536, 85}}) {
    p.bouton->setGeometry(p.gauche, 8, p.largeur, 25);
    p.bouton->setAutoDefault(false);
    // Where a caption is wider than its button in the desktop's font, a condensed face
    // keeps it whole.
    const int place = p.largeur - 10;
    if (p.bouton->fontMetrics().horizontalAdvance(
            QString(p.bouton->text()).remove(QLatin1Char('&'))) > place) {
      QFont etroite = p.bouton->font();
      etroite.setStretch(QFont::Condensed);
      p.bouton->setFont(etroite);
    }
  }
  ButtonComparer_.setToolTip(QStringLiteral("Compare chaque paire sans rien modifier (F5)"));
  ButtonSynchroniser_.setToolTip(
      QStringLiteral("Rend chaque répertoire cible identique à son répertoire source (F6)"));
  ButtonAide_.setToolTip(QStringLiteral("Affiche l'aide (F1)"));
  // No letter: Alt+F is the "File" menu elsewhere, and must not quit here.
  ButtonFermer_.setToolTip(
      QStringLiteral("Ferme la fenêtre, ou abandonne le travail en cours (Echap)"));
  connect(&ButtonAjouterLigne_, &QPushButton::clicked, this,
          &TFormJumelix::ButtonAjouterLigneClick);
  connect(&ButtonSupprimerLigne_, &QPushButton::clicked, this,
          [this] { jumelix_.ButtonSupprimerLigneClick(); });
  connect(&ButtonParcourir_, &QPushButton::clicked, this, &TFormJumelix::ButtonParcourirClick);
  connect(&ButtonComparer_, &QPushButton::clicked, this, &TFormJumelix::ButtonComparerClick);
  connect(&ButtonSynchroniser_, &QPushButton::clicked, this,
          &TFormJumelix::ButtonSynchroniserClick);
  connect(&ButtonFermer_, &QPushButton::clicked, this, [this] { jumelix_.ButtonFermerClick(); });
  connect(&ButtonAide_, &QPushButton::clicked, this, &TFormJumelix::ButtonAideClick);
}

void TFormJumelix::ConstruireBarreEtat() {
  // The progress strip, shown during a run: the pair, a bar over the pairs, the directory
  // being walked (elided in the middle), the copied volume and rate.
  auto* bande = new QHBoxLayout(&BandeAvancement_);  // owned by the strip
  bande->setContentsMargins(2, 1, 2, 1);
  bande->addWidget(&LabelPaire_);
  BarreProgression_.setTextVisible(false);
  BarreProgression_.setFixedWidth(90);
  BarreProgression_.setMaximumHeight(14);
  bande->addWidget(&BarreProgression_);
  bande->addWidget(&LabelRepertoire_, 1);
  bande->addWidget(&LabelVolume_);
  BandeAvancement_.hide();

  auto* panneaux = new QHBoxLayout(&StatusBar1_);  // owned by the status bar
  panneaux->setContentsMargins(0, 0, 0, 0);
  panneaux->setSpacing(0);
  // Panels 1 to 4 are as wide as their longest usual text; panel 0 takes the rest and
  // elides what does not fit.
  const char* modeles[] = {"", "Copiés : 000000", "Supprimés : 000000", "Identiques : 000000",
                           "00:00:00"};
  for (int i = 0; i < kNbPanneaux; ++i) {
    TEtiquette& p = Panneaux_[i];
    p.setParent(&StatusBar1_);
    p.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    p.setIndent(2);
    if (i > 0) {
      p.setMinimumWidth(p.fontMetrics().horizontalAdvance(QString::fromUtf8(modeles[i])) + 12);
      p.setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    }
    panneaux->addWidget(&p, i == 0 ? 1 : 0);
  }
  StatusBar1_.setFixedHeight(kHauteurBarreEtat);
}

// From top to bottom: the menu, the splitter holding the grid above and the button panel
// with the log area below (both grow with the window), the progress strip, the status bar.
void TFormJumelix::Disposer() {
  auto* bas = new QVBoxLayout(&Bas_);  // owned by Bas_
  bas->setContentsMargins(0, 0, 0, 0);
  bas->setSpacing(0);
  Panel1_.setFixedHeight(kHauteurPanel);
  Panel1_.setMinimumWidth(0);
  bas->addWidget(&Panel1_);
  Volets_.Installer(&MemoLog_, &StringGrid1_, this);
  bas->addWidget(Volets_.Onglets(), 1);
  Splitter1_.addWidget(&StringGrid1_);
  Splitter1_.addWidget(&Bas_);
  Splitter1_.setChildrenCollapsible(false);
  Splitter1_.setHandleWidth(5);
  Splitter1_.setStretchFactor(0, 2);
  Splitter1_.setStretchFactor(1, 1);
  StringGrid1_.setMinimumHeight(StringGrid1_.horizontalHeader()->height() + 19 + 4);
  MemoLog_.setMinimumHeight(30);

  auto* principal = new QVBoxLayout(this);  // owned by the window
  principal->setContentsMargins(0, 0, 0, 0);
  principal->setSpacing(0);
  principal->setMenuBar(&MainMenu1_);
  principal->addWidget(&Splitter1_, 1);
  principal->addWidget(&BandeAvancement_);
  principal->addWidget(&StatusBar1_);
}

}  // namespace jumelix
