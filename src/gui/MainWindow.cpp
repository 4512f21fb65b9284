#include "gui/MainWindow.h"
#include "gui/TexteQt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSettings>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

#include "app/ApercuExclusions.h"
#include "app/Credit.h"
#include "app/EtatBureau.h"
#include "app/Programme.h"
#include "app/SuiviRun.h"
#include "gui/Ecran.h"
#include "gui/ExclusionsDialog.h"
#include "gui/HelpWindow.h"

namespace jumelix {

namespace {

constexpr int kLargeurClient = 626;  // the window's width at the initial size
constexpr int kHauteurClient = 296;
constexpr int kHauteurGrilleInitiale = 109;
constexpr int kLargeurEtatMin = 80;
constexpr int kLargeurColonneMin = 40;  // what widening one path column leaves the other
constexpr qint64 kIntervalleEvenementsMs = 10;

const QString kIndicationListeVide = QStringLiteral(
    "Tapez ou déposez ici un répertoire source et un répertoire cible, "
    "ou ouvrez un fichier liste (Ctrl+O).");

}  // namespace

TEtiquette::TEtiquette(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), mode_(mode) {
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void TEtiquette::DefinirTexte(const QString& texte) {
  if (texte == texte_) return;
  texte_ = texte;
  Eluder();
}

QSize TEtiquette::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void TEtiquette::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Eluder();
}

void TEtiquette::Eluder() {
  // One line always: a line end shows as a blank.
  QString ligne = texte_;
  ligne.replace(QLatin1Char('\n'), QLatin1Char(' '));
  const int place = std::max(0, contentsRect().width() - 2 * indent() - 2);
  const QString court = fontMetrics().elidedText(ligne, mode_, place);
  setText(court);
  setToolTip(court == ligne ? QString() : texte_);
}

TFormJumelix::TFormJumelix(QWidget* parent)
    : QWidget(parent, Qt::Window),
      jumelix_(*this),
      MainMenu1_(this),
      Action1_(QStringLiteral("&Action"), &MainMenu1_),
      Aide1_(QStringLiteral("A&ide"), &MainMenu1_),
      ListesRecentes1_(QStringLiteral("Listes &récentes"), &Action1_),
      Annuler1_(QStringLiteral("&Annuler"), this),
      Ajouteruneligne2_(QStringLiteral("A&jouter une ligne"), this),
      Supprimerlaligneencours1_(QStringLiteral("&Supprimer la ligne en cours"), this),
      Parcourir2_(QStringLiteral("&Parcourir..."), this),
      SupprimerToutesLesLignes_(QStringLiteral("Supprimer &toutes les lignes"), this),
      Comparer1_(QStringLiteral("&Comparer"), this),
      Synchroniser1_(QStringLiteral("S&ynchroniser"), this),
      Lireunfichierliste1_(QStringLiteral("&Lire un fichier liste..."), this),
      Enregistrerlefichierliste1_(QStringLiteral("&Enregistrer"), this),
      EnregistrerSous1_(QStringLiteral("Enregistrer so&us..."), this),
      Compterenduparmail1_(QStringLiteral("Compte-rendu par &mail..."), this),
      Options1_(QStringLiteral("&Options..."), this),
      Exclusions1_(QStringLiteral("E&xclusions..."), this),
      Quitter1_(QStringLiteral("&Quitter"), this),
      Aide2_(QStringLiteral("&Aide"), this),
      Apropos1_(QStringLiteral("A &propos"), this),
      OuvrirMenu1_(this),
      Splitter1_(Qt::Vertical, this),
      StringGrid1_(&Splitter1_),
      Modele_(
          jumelix_.Grille(),
          [this](int colonne, int ligne, const std::string& texte) {
            jumelix_.StringGrid1SetEditText(colonne, ligne, texte);
          },
          [this] { return jumelix_.EnCours(); }, [this] { return jumelix_.LigneEnCours(); }),
      Delegue_([this] { jumelix_.StringGrid1KeyDown(TTouche::Inser, true); }),
      Bas_(&Splitter1_),
      Panel1_(&Bas_),
      ButtonAjouterLigne_(QStringLiteral("A&jouter une ligne"), &Panel1_),
      ButtonSupprimerLigne_(QStringLiteral("S&uppr. la ligne"), &Panel1_),
      ButtonParcourir_(QStringLiteral("&Parcourir..."), &Panel1_),
      ButtonComparer_(QStringLiteral("&Comparer"), &Panel1_),
      ButtonSynchroniser_(QStringLiteral("&Synchroniser"), &Panel1_),
      ButtonFermer_(QStringLiteral("Fermer"), &Panel1_),
      ButtonAide_(QStringLiteral("Aide"), &Panel1_),
      Volets_(
          jumelix_, [this](const TDialogueFichier& d) { return DialogueEnregistrer(d); },
          [this](const std::string& texte) {
            Message(texte, "Jumelix", TBoutonsMessage::Ok, TIconeMessage::Erreur);
          }),
      MemoLog_(&Bas_),
      BandeAvancement_(this),
      LabelPaire_(&BandeAvancement_),
      BarreProgression_(&BandeAvancement_),
      LabelRepertoire_(Qt::ElideMiddle, &BandeAvancement_),
      LabelVolume_(&BandeAvancement_),
      StatusBar1_(this),
      hauteur_grille_initiale_(kHauteurGrilleInitiale) {
  setWindowTitle(VersQt(kTitreSansListe));
  setAcceptDrops(true);
  // The layout is measured for an 8-point font: the captions fit their buttons.
  QFont police = font();
  police.setPointSize(8);
  setFont(police);

  StringGrid1_.setModel(&Modele_);
  StringGrid1_.setItemDelegate(&Delegue_);
  StringGrid1_.DefinirGestionTouches([this](TTouche touche, bool editeur) {
    return jumelix_.StringGrid1KeyDown(touche, editeur);
  });
  StringGrid1_.DefinirDepot([this](int colonne, int ligne, const std::vector<std::string>& c) {
    return jumelix_.DeposerChemins(colonne, ligne, c);
  });
  StringGrid1_.DefinirFinEdition(
      [this](int colonne, int ligne) { jumelix_.StringGrid1FinEdition(colonne, ligne); });
  StringGrid1_.DefinirIndication([this] {
    const TGrilleLignes& g = jumelix_.Grille();
    return g.NbLignes() == 2 && g.GrilleVide() && !StringGrid1_.EditeurOuvert()
               ? kIndicationListeVide
               : QString();
  });
  connect(&Modele_, &TModeleGrille::CouranteAChanger, this, &TFormJumelix::SuivreCouranteGrille);
  connect(StringGrid1_.selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& courant, const QModelIndex&) { CouranteVueChangee(courant); });
  QHeaderView* entete = StringGrid1_.horizontalHeader();
  entete->setSectionResizeMode(kColSource, QHeaderView::Interactive);
  entete->setSectionResizeMode(kColCible, QHeaderView::Stretch);
  entete->setSectionResizeMode(kColEtat, QHeaderView::Fixed);
  connect(entete, &QHeaderView::sectionResized, this, &TFormJumelix::ColonneRedimensionnee);
  connect(&Modele_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex& de, const QModelIndex& a) {
            if (de.column() <= kColEtat && kColEtat <= a.column()) AjusterColonnes();
          });

  MemoLog_.setReadOnly(true);
  // Nobody undoes a log line: without the undo history, appending costs less and keeps
  // no second copy of a long report in memory.
  MemoLog_.setUndoRedoEnabled(false);
  MemoLog_.setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoLog_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoLog_.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  ConstruireMenu();
  ConstruireBoutons();
  ConstruireBarreEtat();
  Disposer();
  StringGrid1_.DefinirSurRedimension([this] { AjusterColonnes(); });
  resize(kLargeurClient, kHauteurClient);
  AjusterColonnes();
  ListeChangee();
}

TFormJumelix::~TFormJumelix() = default;

void TFormJumelix::AjusterColonnes() {
  if (ajustement_colonnes_) return;
  ajustement_colonnes_ = true;
  QHeaderView* entete = StringGrid1_.horizontalHeader();
  // "Etat" as wide as its longest text, never narrower than its title needs.
  int etat = kLargeurEtatMin;
  const QFontMetrics fm(StringGrid1_.font());
  for (int l = 1; l < jumelix_.Grille().NbLignes(); ++l)
    etat = std::max(etat, fm.horizontalAdvance(VersQt(jumelix_.Grille().Cellule(kColEtat, l))) + 12);
  entete->resizeSection(kColEtat, etat);
  const int place = StringGrid1_.viewport()->width() - etat;
  if (place > 2 * kLargeurColonneMin) {
    const int source = std::clamp(static_cast<int>(place * proportion_source_), kLargeurColonneMin,
                                  place - kLargeurColonneMin);
    entete->resizeSection(kColSource, source);
  }
  ajustement_colonnes_ = false;
}

void TFormJumelix::ColonneRedimensionnee(int colonne, int, int nouvelle) {
  if (ajustement_colonnes_ || colonne != kColSource) return;
  // The user dragged the source column: the new proportion is kept, within what leaves
  // the destination column and "Etat" in view.
  const int place = StringGrid1_.viewport()->width() - StringGrid1_.columnWidth(kColEtat);
  if (place <= 2 * kLargeurColonneMin) return;
  proportion_source_ =
      std::clamp(static_cast<double>(nouvelle) / place, 0.0, 1.0 - double(kLargeurColonneMin) / place);
  if (nouvelle > place - kLargeurColonneMin) AjusterColonnes();
}

void TFormJumelix::FormCreate(const TLigneCommande& ligne_commande) {
  jumelix_.FormCreate(ligne_commande);
  SuivreCouranteGrille();
  ListeChangee();
}

void TFormJumelix::DefinirFormOptions(std::function<void()> afficher) {
  afficher_form_options_ = std::move(afficher);
  Options1_.setEnabled(static_cast<bool>(afficher_form_options_) && !jumelix_.EnCours());
}

void TFormJumelix::DefinirFormMail(std::function<void()> afficher) {
  afficher_form_mail_ = std::move(afficher);
  Compterenduparmail1_.setEnabled(static_cast<bool>(afficher_form_mail_) && !jumelix_.EnCours());
}

void TFormJumelix::Centrer() {
  if (QScreen* ecran = QGuiApplication::primaryScreen()) {
    const QRect zone = ecran->availableGeometry();
    move(zone.center() - QPoint(width() / 2, height() / 2));
  }
}

void TFormJumelix::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A state saved on a larger screen, or a list read before the show, is brought within
  // this one.
  if (!event->spontaneous()) TenirDansEcran(this);
  if (tailles_placees_) return;
  tailles_placees_ = true;
  // At first show the grid has its usual height; from then on both parts grow with the
  // window.
  if (QLayout* l = layout()) l->activate();
  const int total = Splitter1_.sizes().value(0) + Splitter1_.sizes().value(1);
  const int grille = std::min(hauteur_grille_initiale_, total - Bas_.minimumSizeHint().height());
  if (grille > 0) Splitter1_.setSizes({grille, total - grille});
}

void TFormJumelix::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (QLayout* l = layout()) l->activate();
  AjusterColonnes();
}

void TFormJumelix::keyPressEvent(QKeyEvent* event) {
  // "Fermer" is the window's cancel button: an Escape no control wanted clicks it.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    ButtonFermer_.click();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TFormJumelix::dragEnterEvent(QDragEnterEvent* event) {
  // A list file dropped anywhere on the window opens it.
  const QMimeData* d = event->mimeData();
  if (d != nullptr && d->hasUrls() && !d->urls().isEmpty() && d->urls().first().isLocalFile() &&
      !jumelix_.EnCours()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TFormJumelix::dropEvent(QDropEvent* event) {
  const QMimeData* d = event->mimeData();
  if (d == nullptr || !d->hasUrls() || d->urls().isEmpty()) return;
  std::vector<std::string> chemins;
  for (const QUrl& u : d->urls())
    if (u.isLocalFile()) chemins.push_back(VersStd(u.toLocalFile()));
  if (jumelix_.DeposerChemins(kColSource, 0, chemins)) event->acceptProposedAction();
}

void TFormJumelix::closeEvent(QCloseEvent* event) {
  if (!jumelix_.FormCloseQuery()) {
    event->ignore();
    return;
  }
  EnregistrerEtatFenetre();
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

void TFormJumelix::ButtonComparerClick() {
  // Started by its key, the run must not find a cell editor open: the edit ends first.
  StringGrid1_.FermerEditeur();
  jumelix_.ButtonComparerClick();
}

void TFormJumelix::ButtonSynchroniserClick() {
  StringGrid1_.FermerEditeur();
  jumelix_.ButtonSynchroniserClick();
}

void TFormJumelix::OuvrirMenu() {
  if (!MainMenu1_.actions().isEmpty()) MainMenu1_.setActiveAction(MainMenu1_.actions().first());
}

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

void TFormJumelix::Exclusions1Click() {
  TFormExclusions dialogue(this, SourceLigneCourante(jumelix_.Grille()));
  dialogue.exec();
}

void TFormJumelix::Apropos1Click() {
  Message(TexteCredit(), "A propos", TBoutonsMessage::Ok, TIconeMessage::Information);
}

void TFormJumelix::ViderLog() { MemoLog_.clear(); }

void TFormJumelix::AjouterLog(const std::string& ligne) {
  MemoLog_.appendPlainText(VersQt(ligne));
  MemoLog_.viewport()->update();
}

void TFormJumelix::AjouterLignesLog(const std::vector<std::string>& lignes) {
  if (lignes.empty()) return;
  // One append of many lines: the log area lays out and repaints once per batch.
  QString texte;
  for (const std::string& l : lignes) {
    if (!texte.isEmpty()) texte += QLatin1Char('\n');
    texte += VersQt(l);
  }
  MemoLog_.appendPlainText(texte);
  MemoLog_.viewport()->update();
}

void TFormJumelix::DefinirPanneau(int panneau, const std::string& texte) {
  if (panneau < 0 || panneau >= kNbPanneaux) return;
  Panneaux_[panneau].DefinirTexte(VersQt(texte));
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
  if (boutons == TBoutonsMessage::OuiNon) choix = QMessageBox::Yes | QMessageBox::No;
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
  ReserverTitre(boite);
  switch (boite.exec()) {
    case QMessageBox::Ok:
      return TReponseMessage::Ok;
    case QMessageBox::Yes:
      return TReponseMessage::Oui;
    case QMessageBox::No:
      return TReponseMessage::Non;
    default:
      return boutons == TBoutonsMessage::Ok       ? TReponseMessage::Ok
             : boutons == TBoutonsMessage::OuiNon ? TReponseMessage::Non
                                                  : TReponseMessage::Annuler;
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
  // In the current list's folder with its name, else at home: never wherever the program
  // happened to be started from.
  if (d.nom_initial.empty()) {
    dialogue.setDirectory(QDir::homePath());
  } else {
    const QFileInfo liste(VersQt(d.nom_initial));
    dialogue.setDirectory(liste.absolutePath());
    dialogue.selectFile(liste.fileName());
  }
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
  // At home with nothing chosen yet, not in the program's working directory.
  const QString choix = QFileDialog::getExistingDirectory(this, VersQt(titre), QDir::homePath(),
                                                          QFileDialog::ShowDirsOnly);
  if (choix.isEmpty()) return std::nullopt;
  return VersStd(choix);
}

void TFormJumelix::TraiterEvenements() {
  // A walk reaches a check point at every entry, tens of thousands a second: events are
  // processed at most every kIntervalleEvenementsMs, which no user notices and which
  // keeps the window within a fraction of the walk's own time.
  if (dernier_traitement_.isValid() && dernier_traitement_.elapsed() < kIntervalleEvenementsMs)
    return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  dernier_traitement_.start();
}

void TFormJumelix::CurseurAttente(bool actif) {
  if (actif) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (QApplication::overrideCursor() != nullptr) {
    QApplication::restoreOverrideCursor();
  }
}

void TFormJumelix::AjusterHauteurGrille(int nb_rangees) {
  // The grid grows, and the window with it, until every pair read is in view; at most to
  // two thirds of the screen, and never the window past the room the screen leaves it.
  // It never shrinks.
  int voulue = StringGrid1_.horizontalHeader()->height() +
               StringGrid1_.verticalHeader()->defaultSectionSize() * std::max(1, nb_rangees - 1) +
               2 * StringGrid1_.frameWidth();
  if (QScreen* ecran = screen()) voulue = std::min(voulue, ecran->geometry().height() * 2 / 3);
  const int reste = PlaceFenetre(this).height() - height();
  if (!tailles_placees_) {
    // Read before the first show (the list of the command line): the grid takes that
    // height when the window appears.
    const int ajout = std::min(voulue - hauteur_grille_initiale_, reste);
    if (ajout <= 0) return;
    hauteur_grille_initiale_ += ajout;
    resize(width(), height() + ajout);
    return;
  }
  const int ajout = std::min(voulue - StringGrid1_.height(), reste);
  if (ajout <= 0) return;
  voulue = StringGrid1_.height() + ajout;
  QList<int> tailles = Splitter1_.sizes();
  resize(width(), height() + ajout);
  if (QLayout* l = layout()) l->activate();
  if (tailles.size() == 2) {
    const int total = Splitter1_.sizes().value(0) + Splitter1_.sizes().value(1);
    tailles[0] = std::min(voulue, total - Bas_.minimumSizeHint().height());
    tailles[1] = total - tailles[0];
    Splitter1_.setSizes(tailles);
  }
  TenirDansEcran(this);  // grown downwards: its bottom may have left the screen
}

std::string TFormJumelix::TexteCredit() {
  // LancerInterface has refused to start with an altered credit text.
  return CreditProgramme().value_or(std::string());
}

void TFormJumelix::FermerFenetre() { close(); }

void TFormJumelix::RunEnCours(bool en_cours) {
  for (QWidget* w : std::initializer_list<QWidget*>{&ButtonAjouterLigne_, &ButtonSupprimerLigne_,
                                                    &ButtonParcourir_, &ButtonComparer_,
                                                    &ButtonSynchroniser_})
    w->setEnabled(!en_cours);
  for (QAction* a :
       {&Annuler1_, &Ajouteruneligne2_, &Supprimerlaligneencours1_, &Parcourir2_,
        &SupprimerToutesLesLignes_, &Comparer1_, &Synchroniser1_, &Lireunfichierliste1_,
        &Enregistrerlefichierliste1_, &EnregistrerSous1_, &Exclusions1_})
    a->setEnabled(!en_cours);
  ListesRecentes1_.setEnabled(!en_cours && !ListesRecentes1_.actions().isEmpty());
  Compterenduparmail1_.setEnabled(!en_cours && static_cast<bool>(afficher_form_mail_));
  Options1_.setEnabled(!en_cours && static_cast<bool>(afficher_form_options_));
  if (!en_cours) Annuler1_.setEnabled(jumelix_.PeutAnnuler());
  BandeAvancement_.setVisible(en_cours);
  Volets_.RunEnCours(en_cours);
  if (!en_cours) {
    ligne_affichee_ = 0;
    Modele_.RafraichirLigneEnCours();
    // The run disabled the button that started it, which handed the focus on to "Fermer":
    // the next Space would quit. The grid takes it back.
    StringGrid1_.setFocus(Qt::OtherFocusReason);
  }
}

void TFormJumelix::AfficherAvancement(const TAvancementRun& a) {
  LabelPaire_.setText(QStringLiteral("Paire %1 / %2").arg(a.paire).arg(a.nb_paires));
  if (a.pour_mille_paire >= 0) {
    // A plan gave the pair's total: the bar follows the pair itself.
    BarreProgression_.setRange(0, 1000);
    BarreProgression_.setValue(a.pour_mille_paire);
  } else {
    BarreProgression_.setRange(0, std::max(1, a.nb_paires));
    BarreProgression_.setValue(std::clamp(a.paire - 1, 0, std::max(1, a.nb_paires)));
  }
  LabelRepertoire_.DefinirTexte(VersQt(a.repertoire));
  LabelVolume_.setText(VersQt(TexteProgression(a)));
  if (a.ligne != ligne_affichee_) {
    ligne_affichee_ = a.ligne;
    Modele_.RafraichirLigneEnCours();
    if (a.ligne >= 1) StringGrid1_.scrollTo(Modele_.index(a.ligne - 1, kColSource));
  }
}

void TFormJumelix::ListeChangee() {
  setWindowTitle(VersQt(jumelix_.TitreFenetre()));
  Volets_.ListeChangee();
  Annuler1_.setEnabled(!jumelix_.EnCours() && jumelix_.PeutAnnuler());
  MajListesRecentes();
  StringGrid1_.viewport()->update();  // the hint of an empty list comes and goes
}

void TFormJumelix::MajListesRecentes() {
  ListesRecentes1_.clear();
  int n = 0;
  for (const std::string& chemin : jumelix_.ListesRecentes()) {
    // "&1 liste.ini" opens with Alt+1; the full path in the status tip and tooltip.
    const QString texte = QStringLiteral("&%1 %2").arg(++n).arg(
        QFileInfo(VersQt(chemin)).fileName().replace(QLatin1Char('&'), QStringLiteral("&&")));
    QAction* a = ListesRecentes1_.addAction(texte);
    a->setToolTip(VersQt(chemin));
    a->setStatusTip(VersQt(chemin));
    connect(a, &QAction::triggered, this, [this, chemin] { jumelix_.OuvrirFichierListe(chemin); });
  }
  ListesRecentes1_.setToolTipsVisible(true);
  ListesRecentes1_.setEnabled(n > 0 && !jumelix_.EnCours());
}

QString TFormJumelix::CheminEtatFenetre() {
  const std::string etat = RepertoireEtat();
  return etat.empty() ? QString() : VersQt(etat) + QStringLiteral("/fenetre.ini");
}

bool TFormJumelix::RestaurerEtatFenetre() {
  memoriser_etat_ = true;
  const QString chemin = CheminEtatFenetre();
  if (chemin.isEmpty() || !QFileInfo::exists(chemin)) return false;
  QSettings etat(chemin, QSettings::IniFormat);
  bool applique = false;
  if (etat.contains(QStringLiteral("geometrie")))
    applique = restoreGeometry(etat.value(QStringLiteral("geometrie")).toByteArray());
  if (QLayout* l = layout()) l->activate();
  if (etat.contains(QStringLiteral("separateur")) &&
      Splitter1_.restoreState(etat.value(QStringLiteral("separateur")).toByteArray())) {
    applique = true;
    tailles_placees_ = true;
  }
  bool ok = false;
  const double p = etat.value(QStringLiteral("proportionSource")).toDouble(&ok);
  if (ok && p > 0.05 && p < 0.95) {
    proportion_source_ = p;
    applique = true;
  }
  AjusterColonnes();
  return applique;
}

void TFormJumelix::EnregistrerEtatFenetre() {
  if (!memoriser_etat_) return;
  const QString chemin = CheminEtatFenetre();
  if (chemin.isEmpty() || !CreerRepertoireEtat()) return;
  QSettings etat(chemin, QSettings::IniFormat);
  etat.setValue(QStringLiteral("geometrie"), saveGeometry());
  etat.setValue(QStringLiteral("separateur"), Splitter1_.saveState());
  etat.setValue(QStringLiteral("proportionSource"), proportion_source_);
  etat.sync();
}

}  // namespace jumelix
