#include "gui/VoletsRun.h"

#include <QDir>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QSaveFile>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <set>

#include "gui/GrilleVue.h"

namespace jumelix {

TVoletsRun::TVoletsRun(TJumelix& jumelix, TDialogue enregistrer, TMessage erreur)
    : jumelix_(jumelix),
      enregistrer_(std::move(enregistrer)),
      erreur_(std::move(erreur)),
      page_journal_(&onglets_),
      barre_recherche_(&page_journal_),
      recherche_(&barre_recherche_),
      bouton_suivant_(QStringLiteral("Suivant"), &barre_recherche_),
      bouton_fermer_recherche_(QStringLiteral("Fermer"), &barre_recherche_),
      resultat_(&barre_recherche_),
      apercu_(
          jumelix.Plan(), [&jumelix] { return !jumelix.EnCours(); }, &onglets_),
      bilan_(&onglets_),
      comparer_selection_(QStringLiteral("Comparer la sélectio&n"), this),
      synchroniser_selection_(QStringLiteral("Synchroniser la sélect&ion"), this),
      rechercher_(QStringLiteral("Rec&hercher dans le journal..."), this),
      enregistrer_journal_(QStringLiteral("Enre&gistrer le journal..."), this) {
  comparer_selection_.setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
  synchroniser_selection_.setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
  comparer_selection_.setToolTip(QStringLiteral("Compare seulement les lignes choisies (Maj+F5)"));
  synchroniser_selection_.setToolTip(
      QStringLiteral("Synchronise seulement les lignes choisies (Maj+F6)"));
  rechercher_.setShortcut(QKeySequence::Find);
  connect(&comparer_selection_, &QAction::triggered, this, [this] {
    if (grille_ != nullptr) grille_->FermerEditeur();
    jumelix_.ComparerSelectionClick(LignesSelectionnees());
  });
  connect(&synchroniser_selection_, &QAction::triggered, this, [this] {
    if (grille_ != nullptr) grille_->FermerEditeur();
    jumelix_.SynchroniserSelectionClick(LignesSelectionnees());
  });
  connect(&rechercher_, &QAction::triggered, this, [this] {
    onglets_.setCurrentIndex(kOngletJournal);
    barre_recherche_.show();
    recherche_.setFocus();
    recherche_.selectAll();
  });
  connect(&enregistrer_journal_, &QAction::triggered, this, [this] { EnregistrerJournal(); });
  recherche_.installEventFilter(this);
  connect(&bouton_fermer_recherche_, &QPushButton::clicked, &barre_recherche_, &QWidget::hide);
  connect(&recherche_, &QLineEdit::returnPressed, this, &TVoletsRun::RechercherSuivant);
  connect(&bouton_suivant_, &QPushButton::clicked, this, &TVoletsRun::RechercherSuivant);
  recherche_.setPlaceholderText(QStringLiteral("Texte à chercher dans le journal"));
  recherche_.setClearButtonEnabled(true);
  bouton_suivant_.setAutoDefault(false);
  bouton_fermer_recherche_.setAutoDefault(false);

  auto* barre = new QHBoxLayout(&barre_recherche_);  // owned by the bar
  barre->setContentsMargins(2, 2, 2, 2);
  barre->addWidget(&recherche_, 1);
  barre->addWidget(&bouton_suivant_);
  barre->addWidget(&resultat_);
  barre->addWidget(&bouton_fermer_recherche_);
  barre_recherche_.hide();
  // The pages ask for no height of their own: below the buttons, the log area's minimum
  // stays what the splitter leaves the grid by.
  for (QWidget* page : {static_cast<QWidget*>(&apercu_), static_cast<QWidget*>(&bilan_)})
    page->setMinimumHeight(1);
  onglets_.addTab(&page_journal_, QStringLiteral("Journal"));
  onglets_.addTab(&apercu_, QStringLiteral("Aperçu"));
  onglets_.addTab(&bilan_, QStringLiteral("Bilan"));
  onglets_.setDocumentMode(true);
}

void TVoletsRun::Installer(QPlainTextEdit* log, TStringGrid* grille, QWidget* fenetre) {
  log_ = log;
  grille_ = grille;
  auto* page = new QVBoxLayout(&page_journal_);  // owned by the page
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);
  page->addWidget(&barre_recherche_);
  page->addWidget(log, 1);
  log->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(log, &QWidget::customContextMenuRequested, this, [this](const QPoint& point) {
    std::unique_ptr<QMenu> menu(log_->createStandardContextMenu());
    menu->addSeparator();
    menu->addAction(&rechercher_);
    menu->addAction(&enregistrer_journal_);
    menu->exec(log_->viewport()->mapToGlobal(point));
  });
  grille->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grille, &QWidget::customContextMenuRequested, this, &TVoletsRun::MenuGrille);
  fenetre->addActions(
      {&comparer_selection_, &synchroniser_selection_, &rechercher_, &enregistrer_journal_});
  MajPlan();
}

bool TVoletsRun::eventFilter(QObject* objet, QEvent* evenement) {
  if (objet == &recherche_ && evenement->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(evenement)->key() == Qt::Key_Escape) {
    barre_recherche_.hide();
    if (log_ != nullptr) log_->setFocus();
    return true;
  }
  return QObject::eventFilter(objet, evenement);
}

std::vector<int> TVoletsRun::LignesSelectionnees() const {
  std::set<int> lignes;
  if (grille_ == nullptr) return {};
  for (const QModelIndex& i : grille_->selectionModel()->selectedIndexes())
    lignes.insert(i.row() + 1);
  if (lignes.empty() && grille_->currentIndex().isValid())
    lignes.insert(grille_->currentIndex().row() + 1);
  return {lignes.begin(), lignes.end()};
}

void TVoletsRun::MenuGrille(const QPoint& point) {
  QMenu menu;
  menu.addAction(&comparer_selection_);
  menu.addAction(&synchroniser_selection_);
  menu.exec(grille_->viewport()->mapToGlobal(point));
}

void TVoletsRun::MajPlan() {
  if (generation_vue_ == jumelix_.GenerationPlan()) return;
  generation_vue_ = jumelix_.GenerationPlan();
  apercu_.Recharger();
}

void TVoletsRun::RunEnCours(bool en_cours) {
  comparer_selection_.setEnabled(!en_cours);
  synchroniser_selection_.setEnabled(!en_cours);
  if (en_cours) {
    // The lines of the run are what there is to follow now.
    onglets_.setCurrentIndex(kOngletJournal);
    return;
  }
  MajPlan();
  const bool comparaison = jumelix_.ComparaisonEnCours();
  bilan_.Afficher(jumelix_.BilanDernierRun(), comparaison);
  if (comparaison && jumelix_.Plan().Totaux().Actions() > 0)
    onglets_.setCurrentIndex(kOngletApercu);
  else if (!comparaison && !jumelix_.DernierRunAbandonne())
    onglets_.setCurrentIndex(kOngletBilan);
}

void TVoletsRun::ListeChangee() { MajPlan(); }

void TVoletsRun::RechercherSuivant() {
  if (log_ == nullptr) return;
  const QString texte = recherche_.text();
  if (texte.isEmpty()) return;
  if (!log_->find(texte)) {
    // From the top again, once.
    QTextCursor debut = log_->textCursor();
    debut.movePosition(QTextCursor::Start);
    log_->setTextCursor(debut);
    if (!log_->find(texte)) {
      resultat_.setText(QStringLiteral("Introuvable"));
      return;
    }
  }
  const int n = log_->textCursor().blockNumber() + 1;
  resultat_.setText(QStringLiteral("Ligne %1").arg(n));
}

bool TVoletsRun::EnregistrerJournal() {
  if (log_ == nullptr || !enregistrer_) return false;
  const std::optional<std::string> chemin =
      enregistrer_({{{"Fichiers texte", "*.txt"}, {"Tous les fichiers", "*.*"}},
                    ".txt",
                    (QDir::homePath() + QStringLiteral("/journal-jumelix.txt")).toStdString()});
  if (!chemin) return false;
  QSaveFile fichier(QString::fromStdString(*chemin));
  QByteArray contenu = log_->toPlainText().toUtf8();
  if (!contenu.isEmpty()) contenu += '\n';
  if (fichier.open(QIODevice::WriteOnly) && fichier.write(contenu) == contenu.size() &&
      fichier.commit())
    return true;
  if (erreur_)
    erreur_("Impossible d'enregistrer le journal dans " + *chemin + " :\n" +
            fichier.errorString().toStdString());
  return false;
}

}  // namespace jumelix
