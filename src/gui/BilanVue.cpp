#include "gui/BilanVue.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QUrl>
#include <QVBoxLayout>

#include "app/SortieTerminal.h"

namespace jumelix {

namespace {

QTableWidgetItem* Cellule(const QString& texte, bool nombre = false) {
  auto* c = new QTableWidgetItem(texte);  // owned by the table
  c->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  if (nombre) c->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return c;
}

}  // namespace

TPanneauBilan::TPanneauBilan(QWidget* parent)
    : QWidget(parent),
      table_(this),
      bouton_archive_(QStringLiteral("Ouvrir l'archive"), this),
      ouvrir_([](const std::string& dossier) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(dossier)));
      }) {
  table_.setColumnCount(kNbColonnes);
  table_.setHorizontalHeaderLabels(
      {QStringLiteral("Ligne"), QStringLiteral("Source"), QStringLiteral("Cible"),
       QStringLiteral("Etat"), QStringLiteral("Copiés"), QStringLiteral("Remplacés"),
       QStringLiteral("Supprimés"), QStringLiteral("Archivés"), QStringLiteral("Erreurs")});
  table_.verticalHeader()->hide();
  table_.setSelectionBehavior(QAbstractItemView::SelectRows);
  table_.setSelectionMode(QAbstractItemView::SingleSelection);
  table_.horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_.horizontalHeader()->setSectionResizeMode(kColSource, QHeaderView::Stretch);
  table_.horizontalHeader()->setSectionResizeMode(kColCible, QHeaderView::Stretch);
  bouton_archive_.setToolTip(
      QStringLiteral("Ouvre, dans le gestionnaire de fichiers, le dossier de l'archive où "
                     "cette synchronisation a mis les anciennes versions de la paire choisie"));
  connect(&table_, &QTableWidget::itemSelectionChanged, this, &TPanneauBilan::MajBouton);
  connect(&bouton_archive_, &QPushButton::clicked, this, [this] {
    const int r = table_.currentRow();
    if (r >= 0 && static_cast<size_t>(r) < dossiers_.size() && !dossiers_[r].empty())
      ouvrir_(dossiers_[r]);
  });
  auto* bas = new QHBoxLayout;  // owned by the panel's layout
  bas->setContentsMargins(2, 2, 2, 2);
  bas->addStretch(1);
  bas->addWidget(&bouton_archive_);
  auto* disposition = new QVBoxLayout(this);  // owned by the panel
  disposition->setContentsMargins(0, 0, 0, 0);
  disposition->setSpacing(0);
  disposition->addWidget(&table_, 1);
  disposition->addLayout(bas);
  MajBouton();
}

void TPanneauBilan::Afficher(const std::vector<TBilanCouple>& bilan, bool comparaison) {
  table_.setRowCount(0);
  dossiers_.clear();
  // A comparison's lines are its differences as much as its errors.
  table_.horizontalHeaderItem(kColErreurs)
      ->setText(comparaison ? QStringLiteral("Lignes") : QStringLiteral("Erreurs"));
  for (const TBilanCouple& b : bilan) {
    if (!b.traite) continue;
    const int r = table_.rowCount();
    table_.insertRow(r);
    const auto n = [](int64_t v) { return Cellule(QString::number(v), true); };
    table_.setItem(r, kColLigne, n(b.ligne));
    table_.setItem(r, kColSource, Cellule(QString::fromStdString(b.source)));
    table_.setItem(r, kColCible, Cellule(QString::fromStdString(b.destination)));
    table_.setItem(r, kColEtat, Cellule(QString::fromStdString(b.etat)));
    // A comparison copies nothing: only its lines (differences and errors) count.
    table_.setItem(r, kColCopies, n(comparaison ? 0 : b.copies - b.remplaces));
    table_.setItem(r, kColRemplaces, n(comparaison ? 0 : b.remplaces));
    table_.setItem(r, kColSupprimes, n(comparaison ? 0 : b.supprimes));
    table_.setItem(r, kColArchives, n(b.archives));
    table_.setItem(r, kColErreurs, n(static_cast<int64_t>(b.lignes.size())));
    // The lines themselves, with what caused them: the log gives them without.
    table_.item(r, kColErreurs)->setToolTip(QString::fromStdString(TexteErreursCouple(b)));
    dossiers_.push_back(b.dossier_archive);
  }
  if (table_.rowCount() > 0) table_.selectRow(0);
  MajBouton();
}

void TPanneauBilan::MajBouton() {
  const int r = table_.currentRow();
  bouton_archive_.setEnabled(r >= 0 && static_cast<size_t>(r) < dossiers_.size() &&
                             !dossiers_[r].empty());
}

}  // namespace jumelix
