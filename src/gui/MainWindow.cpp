#include "gui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/Credit.h"
#include "app/Programme.h"
#include "gui/HelpWindow.h"

namespace jumelix {

namespace {

constexpr int kLargeurClient = 626;  // the grid's width at the initial size
constexpr int kHauteurClient = 296;
constexpr int kHauteurGrilleInitiale = 109;
constexpr int kHauteurSplitter = 3;
constexpr int kHauteurPanel = 41;
constexpr int kHauteurBarreEtat = 19;
constexpr int kHauteurMinimale = 30;  // what a drag of the splitter leaves on either side
constexpr int kHauteurRangee = 19;    // default row height 18 + grid line 1
constexpr int kLargeurEtat = 80;

QString VersQt(const std::string& texte) { return QString::fromStdString(texte); }
std::string VersStd(const QString& texte) { return texte.toStdString(); }

}  // namespace

TSplitter::TSplitter(QWidget* parent, std::function<void()> saisir,
                     std::function<void(int)> deplacer)
    : QWidget(parent), saisir_(std::move(saisir)), deplacer_(std::move(deplacer)) {
  setCursor(Qt::SizeVerCursor);
}

void TSplitter::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  origine_ = event->globalPosition().toPoint().y();
  saisir_();
}

void TSplitter::mouseMoveEvent(QMouseEvent* event) {
  if (origine_) deplacer_(event->globalPosition().toPoint().y() - *origine_);
}

void TSplitter::mouseReleaseEvent(QMouseEvent*) { origine_.reset(); }

TFormJumelix::TFormJumelix(QWidget* parent)
    : QWidget(parent, Qt::Window),
      jumelix_(*this),
      MainMenu1_(this),
      Action1_(QStringLiteral("Action"), &MainMenu1_),
      Aide1_(QStringLiteral("Aide"), &MainMenu1_),
      Ajouteruneligne2_(QStringLiteral("Ajouter une ligne"), this),
      Supprimerlaligneencours1_(QStringLiteral("Supprimer la ligne en cours"), this),
      Parcourir2_(QStringLiteral("Parcourir..."), this),
      SupprimerToutesLesLignes_(QStringLiteral("Supprimer toutes les lignes"), this),
      Lireunfichierliste1_(QStringLiteral("Lire un fichier liste..."), this),
      Enregistrerlefichierliste1_(QStringLiteral("Enregistrer le fichier liste..."), this),
      Compterenduparmail1_(QStringLiteral("Compte-rendu par mail..."), this),
      Options1_(QStringLiteral("Options..."), this),
      Quitter1_(QStringLiteral("Quitter"), this),
      Aide2_(QStringLiteral("Aide"), this),
      Apropos1_(QStringLiteral("A propos"), this),
      StringGrid1_(this),
      Modele_(
          jumelix_.Grille(),
          [this](int colonne, int ligne, const std::string& texte) {
            jumelix_.StringGrid1SetEditText(colonne, ligne, texte);
          },
          [this] { return jumelix_.EnCours(); }),
      Delegue_([this] { jumelix_.StringGrid1KeyDown(TTouche::Inser, true); }),
      Splitter1_(
          this, [this] { hauteur_grille_au_clic_ = hauteur_grille_; },
          [this](int dy) {
            const int plafond = height() - MainMenu1_.height() - kHauteurSplitter - kHauteurPanel -
                                kHauteurBarreEtat - kHauteurMinimale;
            hauteur_grille_ = std::clamp(hauteur_grille_au_clic_ + dy, kHauteurMinimale,
                                         std::max(kHauteurMinimale, plafond));
            Disposer();
          }),
      Panel1_(this),
      ButtonAjouterLigne_(QStringLiteral("Ajouter une ligne"), &Panel1_),
      ButtonSupprimerLigne_(QStringLiteral("Suppr. la ligne"), &Panel1_),
      ButtonParcourir_(QStringLiteral("Parcourir..."), &Panel1_),
      ButtonComparer_(QStringLiteral("Comparer"), &Panel1_),
      ButtonSynchroniser_(QStringLiteral("Synchroniser"), &Panel1_),
      ButtonFermer_(QStringLiteral("Fermer"), &Panel1_),
      ButtonAide_(QStringLiteral("Aide"), &Panel1_),
      MemoLog_(this),
      StatusBar1_(this) {
  setWindowTitle(QStringLiteral("Synchronisation de répertoires"));
  // The layout is measured for an 8-point font: the captions fit their buttons.
  QFont police = font();
  police.setPointSize(8);
  setFont(police);

  StringGrid1_.setModel(&Modele_);
  StringGrid1_.setItemDelegate(&Delegue_);
  StringGrid1_.DefinirGestionTouches([this](TTouche touche, bool editeur) {
    return jumelix_.StringGrid1KeyDown(touche, editeur);
  });
  connect(&Modele_, &TModeleGrille::CouranteAChanger, this, &TFormJumelix::SuivreCouranteGrille);
  connect(StringGrid1_.selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& courant, const QModelIndex&) { CouranteVueChangee(courant); });

  MemoLog_.setReadOnly(true);
  MemoLog_.setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoLog_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoLog_.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  for (QLabel& p : Panneaux_) {
    p.setParent(&StatusBar1_);
    p.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    p.setIndent(2);
  }

  ConstruireMenu();
  ConstruireBoutons();
  resize(kLargeurClient, kHauteurClient);
  Disposer();
  FormResize();
}

TFormJumelix::~TFormJumelix() = default;

void TFormJumelix::ConstruireMenu() {
  MainMenu1_.setNativeMenuBar(false);
  MainMenu1_.addMenu(&Action1_);
  MainMenu1_.addMenu(&Aide1_);
  Action1_.addAction(&Ajouteruneligne2_);
  Action1_.addAction(&Supprimerlaligneencours1_);
  Action1_.addAction(&Parcourir2_);
  Action1_.addAction(&SupprimerToutesLesLignes_);
  Action1_.addSeparator();
  Action1_.addAction(&Lireunfichierliste1_);
  Action1_.addAction(&Enregistrerlefichierliste1_);
  Action1_.addSeparator();
  Action1_.addAction(&Compterenduparmail1_);
  Action1_.addAction(&Options1_);
  Action1_.addSeparator();
  Action1_.addAction(&Quitter1_);
  Aide1_.addAction(&Aide2_);
  Aide1_.addAction(&Apropos1_);

  connect(&Ajouteruneligne2_, &QAction::triggered, this, &TFormJumelix::ButtonAjouterLigneClick);
  connect(&Supprimerlaligneencours1_, &QAction::triggered, this,
          [this] { jumelix_.ButtonSupprimerLigneClick(); });
  connect(&Parcourir2_, &QAction::triggered, this, &TFormJumelix::ButtonParcourirClick);
  connect(&SupprimerToutesLesLignes_, &QAction::triggered, this,
          [this] { jumelix_.SupprimerToutesLesLignesClick(); });
  connect(&Lireunfichierliste1_, &QAction::triggered, this,
          [this] { jumelix_.Lireunfichierliste1Click(); });
  connect(&Enregistrerlefichierliste1_, &QAction::triggered, this,
          [this] { jumelix_.Enregistrerlefichierliste1Click(); });
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
    if (p.bouton->fontMetrics().horizontalAdvance(p.bouton->text()) > place) {
      QFont etroite = p.bouton->font();
      etroite.setStretch(QFont::Condensed);
      p.bouton->setFont(etroite);
    }
  }
  connect(&ButtonAjouterLigne_, &QPushButton::clicked, this,
          &TFormJumelix::ButtonAjouterLigneClick);
  connect(&ButtonSupprimerLigne_, &QPushButton::clicked, this,
          [this] { jumelix_.ButtonSupprimerLigneClick(); });
  connect(&ButtonParcourir_, &QPushButton::clicked, this, &TFormJumelix::ButtonParcourirClick);
  connect(&ButtonComparer_, &QPushButton::clicked, this,
          [this] { jumelix_.ButtonComparerClick(); });
  connect(&ButtonSynchroniser_, &QPushButton::clicked, this,
          [this] { jumelix_.ButtonSynchroniserClick(); });
  connect(&ButtonFermer_, &QPushButton::clicked, this, [this] { jumelix_.ButtonFermerClick(); });
  connect(&ButtonAide_, &QPushButton::clicked, this, &TFormJumelix::ButtonAideClick);
}

void TFormJumelix::FormCreate(const TLigneCommande& ligne_commande) {
  jumelix_.FormCreate(ligne_commande);
  SuivreCouranteGrille();
}

void TFormJumelix::DefinirFormOptions(std::function<void()> afficher) {
  afficher_form_options_ = std::move(afficher);
  Options1_.setEnabled(static_cast<bool>(afficher_form_options_));
}

void TFormJumelix::DefinirFormMail(std::function<void()> afficher) {
  afficher_form_mail_ = std::move(afficher);
  Compterenduparmail1_.setEnabled(static_cast<bool>(afficher_form_mail_));
}

void TFormJumelix::Centrer() {
  if (QScreen* ecran = QGuiApplication::primaryScreen()) {
    const QRect zone = ecran->availableGeometry();
    move(zone.center() - QPoint(width() / 2, height() / 2));
  }
}

// Controls from top to bottom, as the window's layout has them: the menu, the grid at its
// own height, the splitter, the button panel, the log area taking what is left, the status
// bar at the bottom.
void TFormJumelix::Disposer() {
  const int largeur = width();
  const int hauteur = height();
  const int menu = MainMenu1_.sizeHint().height();
  MainMenu1_.setGeometry(0, 0, largeur, menu);
  const int place =
      std::max(0, hauteur - menu - kHauteurSplitter - kHauteurPanel - kHauteurBarreEtat);
  const int grille = std::min(hauteur_grille_, place);
  int y = menu;
  StringGrid1_.setGeometry(0, y, largeur, grille);
  y += grille;
  Splitter1_.setGeometry(0, y, largeur, kHauteurSplitter);
  y += kHauteurSplitter;
  Panel1_.setGeometry(0, y, largeur, kHauteurPanel);
  y += kHauteurPanel;
  MemoLog_.setGeometry(0, y, largeur, std::max(0, hauteur - kHauteurBarreEtat - y));
  StatusBar1_.setGeometry(0, hauteur - kHauteurBarreEtat, largeur, kHauteurBarreEtat);
  DisposerPanneaux();
}

void TFormJumelix::DisposerPanneaux() {
  int x = 0;
  for (int i = 0; i < kNbPanneaux; ++i) {
    Panneaux_[i].setGeometry(x, 0, LargeursPanneaux_[i], kHauteurBarreEtat);
    x += LargeursPanneaux_[i];
  }
}

void TFormJumelix::FormResize() {
  StringGrid1_.setColumnWidth(kColEtat, kLargeurEtat);
  const int w = (StringGrid1_.width() - 32 - StringGrid1_.columnWidth(kColEtat)) / 2;
  if (w < 0) return;
  StringGrid1_.setColumnWidth(kColSource, w);
  StringGrid1_.setColumnWidth(kColCible, w);
  int autres = 0;
  for (int i = 1; i < kNbPanneaux; ++i) autres += LargeursPanneaux_[i];
  LargeursPanneaux_[0] = std::max(0, StatusBar1_.contentsRect().width() - autres);
  DisposerPanneaux();
}

void TFormJumelix::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Disposer();
  if (!resize_suspendu_) FormResize();
}

void TFormJumelix::keyPressEvent(QKeyEvent* event) {
  // "Fermer" is the window's cancel button: an Escape no control wanted clicks it.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    ButtonFermer_.click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TFormJumelix::closeEvent(QCloseEvent* event) {
  if (!jumelix_.FormCloseQuery()) {
    event->ignore();
    return;
  }
  event->accept();
  emit Fermee();
}

void TFormJumelix::SuivreCouranteGrille() {
  const TGrilleLignes& grille = jumelix_.Grille();
  const QModelIndex voulu = Modele_.index(grille.LigneCourante() - 1, grille.ColonneCourante());
  if (!voulu.isValid() || StringGrid1_.currentIndex() == voulu) return;
  suivi_courante_ = true;
  StringGrid1_.setCurrentIndex(voulu);
  suivi_courante_ = false;
}

void TFormJumelix::CouranteVueChangee(const QModelIndex& courant) {
  if (suivi_courante_ || !courant.isValid()) return;
  if (!jumelix_.StringGrid1SelectCell(courant.column(), courant.row() + 1)) {
    SuivreCouranteGrille();
  }
}

void TFormJumelix::ButtonAjouterLigneClick() {
  jumelix_.ButtonAjouterLigneClick();
  StringGrid1_.setFocus();
}

void TFormJumelix::ButtonParcourirClick() { jumelix_.ButtonParcourirClick(); }

void TFormJumelix::ButtonAideClick() {
  if (FormAide_ == nullptr) return;
  FormAide_->ChargerAide();
  FormAide_->show();
  FormAide_->raise();
  FormAide_->activateWindow();
}

void TFormJumelix::Compterenduparmail1Click() {
  if (afficher_form_mail_) afficher_form_mail_();
}

void TFormJumelix::Apropos1Click() {
  Message(TexteCredit(), "A propos", TBoutonsMessage::Ok, TIconeMessage::Information);
}

void TFormJumelix::ViderLog() { MemoLog_.clear(); }

void TFormJumelix::AjouterLog(const std::string& ligne) {
  MemoLog_.appendPlainText(VersQt(ligne));
  MemoLog_.viewport()->update();
}

void TFormJumelix::DefinirPanneau(int panneau, const std::string& texte) {
  if (panneau < 0 || panneau >= kNbPanneaux) return;
  Panneaux_[panneau].setText(VersQt(texte));
}

void TFormJumelix::RepeindreBarreEtat() { StatusBar1_.update(); }

void TFormJumelix::RepeindreGrille() { StringGrid1_.viewport()->update(); }

void TFormJumelix::DefinirLegendeFermer(const std::string& legende) {
  // A run starts: an edit in progress is kept, and the grid is read-only until the end.
  if (legende == kLegendeAbandonner) StringGrid1_.FermerEditeur();
  ButtonFermer_.setText(VersQt(legende));
  ButtonFermer_.update();
}

TReponseMessage TFormJumelix::Message(const std::string& texte, const std::string& titre,
                                      TBoutonsMessage boutons, TIconeMessage icone) {
  QMessageBox::StandardButtons choix = QMessageBox::Ok;
  if (boutons == TBoutonsMessage::OkAnnuler) choix = QMessageBox::Ok | QMessageBox::Cancel;
  if (boutons == TBoutonsMessage::OuiNonAnnuler) {
    choix = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  QMessageBox::Icon image = QMessageBox::NoIcon;
  switch (icone) {
    case TIconeMessage::Aucune:
      break;
    case TIconeMessage::Information:
      image = QMessageBox::Information;
      break;
    case TIconeMessage::Question:
      image = QMessageBox::Question;
      break;
    case TIconeMessage::Erreur:
      image = QMessageBox::Critical;
      break;
  }
  QMessageBox boite(image, titre.empty() ? QStringLiteral("Jumelix") : VersQt(titre), VersQt(texte),
                    choix, this);
  switch (boite.exec()) {
    case QMessageBox::Ok:
      return TReponseMessage::Ok;
    case QMessageBox::Yes:
      return TReponseMessage::Oui;
    case QMessageBox::No:
      return TReponseMessage::Non;
    default:
      return boutons == TBoutonsMessage::Ok ? TReponseMessage::Ok : TReponseMessage::Annuler;
  }
}

std::optional<std::string> TFormJumelix::DialogueFichier(const TDialogueFichier& d,
                                                         bool enregistrer) {
  QStringList filtres;
  for (const auto& [nom, motif] : d.filtres) {
    // File names are case-sensitive here: "*.ini" also offers "*.INI", and "*.*" means
    // every file, those without a dot included.
    QString m = VersQt(motif);
    if (m == QStringLiteral("*.*")) {
      m = QStringLiteral("*");
    } else if (m.toLower() != m.toUpper()) {
      m = m.toLower() + QLatin1Char(' ') + m.toUpper();
    }
    filtres << VersQt(nom) + QStringLiteral(" (") + m + QLatin1Char(')');
  }
  QFileDialog dialogue(this);
  dialogue.setAcceptMode(enregistrer ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialogue.setFileMode(enregistrer ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialogue.setNameFilters(filtres);
  QString extension = VersQt(d.extension_defaut);
  if (extension.startsWith(QLatin1Char('.'))) extension.remove(0, 1);
  dialogue.setDefaultSuffix(extension);
  if (!d.nom_initial.empty()) dialogue.selectFile(VersQt(d.nom_initial));
  if (dialogue.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList choisis = dialogue.selectedFiles();
  if (choisis.isEmpty()) return std::nullopt;
  return VersStd(choisis.first());
}

std::optional<std::string> TFormJumelix::DialogueOuvrir(const TDialogueFichier& d) {
  return DialogueFichier(d, false);
}

std::optional<std::string> TFormJumelix::DialogueEnregistrer(const TDialogueFichier& d) {
  return DialogueFichier(d, true);
}

std::optional<std::string> TFormJumelix::ChoisirRepertoire(const std::string& titre) {
  const QString choix =
      QFileDialog::getExistingDirectory(this, VersQt(titre), QString(), QFileDialog::ShowDirsOnly);
  if (choix.isEmpty()) return std::nullopt;
  return VersStd(choix);
}

void TFormJumelix::TraiterEvenements() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TFormJumelix::CurseurAttente(bool actif) {
  if (actif) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (QApplication::overrideCursor() != nullptr) {
    QApplication::restoreOverrideCursor();
  }
}

void TFormJumelix::AjusterHauteurGrille(int nb_rangees) {
  int voulue = kHauteurRangee * (nb_rangees + 1);
  if (QScreen* ecran = QGuiApplication::primaryScreen()) {
    voulue = std::min(voulue, ecran->geometry().height() * 2 / 3);
  }
  const int ajout = voulue - StringGrid1_.height();
  if (ajout <= 0) return;
  resize_suspendu_ = true;
  hauteur_grille_ = StringGrid1_.height() + ajout;
  resize(width(), height() + ajout);
  Disposer();
  resize_suspendu_ = false;
}

std::string TFormJumelix::TexteCredit() {
  // LancerInterface has refused to start with an altered credit text.
  return CreditProgramme().value_or(std::string());
}

void TFormJumelix::FermerFenetre() { close(); }

}  // namespace jumelix
