#include "gui/ApercuVue.h"
#include "gui/TexteQt.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QVBoxLayout>
#include <utility>

#include "app/SuiviRun.h"
#include "app/UJumelix.h"

namespace jumelix {

namespace {

// A time column's data: the seconds to sort by; shown as a date and time, or empty for none.
QVariant DonneeDate(int64_t secondes, int role) {
  if (role == TModeleApercu::kRoleTri) return static_cast<qlonglong>(secondes);
  if (secondes == 0) return {};
  return QDateTime::fromSecsSinceEpoch(secondes).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// An action row's internal id is its pair's number + 1; a pair row's is 0.
constexpr quintptr kIdPaire = 0;

QString TitrePaire(const TPlanApercu::TPaire& p) {
  QString titre = p.ligne > 0 ? QStringLiteral("Ligne %1 : ").arg(p.ligne) : QString();
  return titre + VersQt(p.source) + QStringLiteral(" → ") + VersQt(p.destination);
}

// The entry's path within its destination.
QString CheminRelatif(const TPlanApercu::TPaire& p, const std::string& chemin) {
  if (chemin.size() > p.destination.size() + 1 &&
      chemin.compare(0, p.destination.size(), p.destination) == 0)
    return VersQt(chemin.substr(p.destination.size() + 1));
  return VersQt(chemin);
}

}  // namespace

TModeleApercu::TModeleApercu(TPlanApercu& plan, std::function<bool()> modifiable,
                             std::function<void()> change, QObject* parent)
    : QAbstractItemModel(parent),
      plan_(plan),
      modifiable_(std::move(modifiable)),
      change_(std::move(change)) {}

void TModeleApercu::Recharger() {
  beginResetModel();
  endResetModel();
}

size_t TModeleApercu::PaireDe(const QModelIndex& index) const {
  return index.internalId() == kIdPaire ? TPlanApercu::kAucun
                                        : static_cast<size_t>(index.internalId() - 1);
}

const TPlanApercu::TChangement& TModeleApercu::Changement(const QModelIndex& index) const {
  const TPlanApercu::TPaire& p = plan_.Paires()[PaireDe(index)];
  return p.changements[p.actions[static_cast<size_t>(index.row())]];
}

QModelIndex TModeleApercu::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= kNbColonnes) return {};
  if (!parent.isValid()) {
    if (static_cast<size_t>(row) >= plan_.Paires().size()) return {};
    return createIndex(row, column, kIdPaire);
  }
  if (parent.internalId() != kIdPaire) return {};
  const size_t p = static_cast<size_t>(parent.row());
  if (p >= plan_.Paires().size() || static_cast<size_t>(row) >= plan_.Paires()[p].actions.size())
    return {};
  return createIndex(row, column, static_cast<quintptr>(p + 1));
}

QModelIndex TModeleApercu::parent(const QModelIndex& child) const {
  if (!child.isValid() || child.internalId() == kIdPaire) return {};
  return createIndex(static_cast<int>(child.internalId() - 1), 0, kIdPaire);
}

int TModeleApercu::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(plan_.Paires().size());
  if (parent.internalId() != kIdPaire || parent.column() != 0) return 0;
  return static_cast<int>(plan_.Paires()[static_cast<size_t>(parent.row())].actions.size());
}

int TModeleApercu::columnCount(const QModelIndex&) const { return kNbColonnes; }

QVariant TModeleApercu::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const titres[kNbColonnes] = {"Action",        "Chemin",      "Genre",
                                                  "Taille source", "Date source", "Taille cible",
                                                  "Date cible",    "Remarque"};
  return section >= 0 && section < kNbColonnes ? QString::fromUtf8(titres[section]) : QVariant();
}

QVariant TModeleApercu::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (index.internalId() == kIdPaire) {
    const size_t p = static_cast<size_t>(index.row());
    const TPlanApercu::TPaire& paire = plan_.Paires()[p];
    if (role == kRoleType) return -1;
    if (role == kRoleTri) return index.row();
    if (index.column() == kColAction) {
      // The view spans the pair's row across the columns: title and totals in one text.
      if (role == Qt::DisplayRole)
        return TitrePaire(paire) + QStringLiteral(" — ") + VersQt(TexteTotaux(plan_.Totaux(p)));
      if (role == Qt::CheckStateRole) {
        const TPlanApercu::TTotaux t = plan_.Totaux(p);
        if (t.laisses == 0) return Qt::Checked;
        return t.Actions() == 0 ? Qt::Unchecked : Qt::PartiallyChecked;
      }
    }
    return {};
  }
  const TPlanApercu::TChangement& c = Changement(index);
  const TAction& a = c.action;
  if (role == kRoleType) return static_cast<int>(a.type);
  const bool dossier_cree = a.repertoire && a.type == TypeAction::Creation;
  switch (index.column()) {
    case kColAction:
      if (role == Qt::CheckStateRole) return c.coche ? Qt::Checked : Qt::Unchecked;
      if (role == Qt::DisplayRole) return QString::fromUtf8(TexteTypeAction(a.type));
      if (role == kRoleTri) return static_cast<int>(a.type);
      break;
    case kColChemin:
      if (role == Qt::DisplayRole || role == kRoleTri)
        return CheminRelatif(plan_.Paires()[PaireDe(index)], a.chemin);
      break;
    case kColGenre:
      if (role == Qt::DisplayRole || role == kRoleTri)
        return a.repertoire ? QStringLiteral("Dossier") : QStringLiteral("Fichier");
      break;
    case kColTaille: {
      const int64_t octets = a.octets + c.octets_contenu;
      if (role == kRoleTri) return static_cast<qlonglong>(octets);
      if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
      if (role != Qt::DisplayRole) break;
      if (dossier_cree)
        return QStringLiteral("%1 élément(s), %2")
            .arg(c.contenu)
            .arg(VersQt(TexteVolume(static_cast<uint64_t>(octets))));
      if (a.type == TypeAction::Suppression || a.type == TypeAction::Attributs || a.repertoire)
        return {};
      return VersQt(TexteVolume(static_cast<uint64_t>(a.octets)));
    }
    case kColDate:
      if (role == kRoleTri || role == Qt::DisplayRole) return DonneeDate(a.secondes, role);
      break;
    case kColTailleCible:
      if (role == kRoleTri) return static_cast<qlonglong>(a.octetsCible);
      if (role == Qt::TextAlignmentRole) return int(Qt::AlignRight | Qt::AlignVCenter);
      if (role == Qt::DisplayRole && a.type != TypeAction::Creation && !a.repertoire)
        return VersQt(TexteVolume(static_cast<uint64_t>(a.octetsCible)));
      break;
    case kColDateCible:
      if (role == kRoleTri || role == Qt::DisplayRole) return DonneeDate(a.secondesCible, role);
      break;
    case kColNote:
      if (role == kRoleTri) return a.cibleRecente ? 1 : 0;
      if (role == Qt::DisplayRole && a.cibleRecente)
        return QStringLiteral(
            "La cible est plus récente que la source (modifiée dans le miroir ?)");
      break;
    default:
      break;
  }
  if (role == Qt::ForegroundRole && a.cibleRecente) return QColor(Qt::darkRed);
  if (role == Qt::ToolTipRole && a.cibleRecente)
    return QStringLiteral(
        "Le fichier du miroir a été modifié après celui de la source : "
        "il sera quand même remplacé si la case reste cochée.");
  return {};
}

Qt::ItemFlags TModeleApercu::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kColAction && modifiable_()) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool TModeleApercu::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::CheckStateRole || index.column() != kColAction ||
      !modifiable_())
    return false;
  const bool coche = value.toInt() != Qt::Unchecked;
  if (index.internalId() == kIdPaire) {
    const size_t p = static_cast<size_t>(index.row());
    for (TypeAction t : {TypeAction::Creation, TypeAction::Remplacement, TypeAction::Attributs,
                         TypeAction::Suppression})
      plan_.CocherType(p, t, coche);
    SignalerPaire(p);
  } else {
    const size_t p = PaireDe(index);
    plan_.Cocher(p, plan_.Paires()[p].actions[static_cast<size_t>(index.row())], coche);
    SignalerPaire(p);
  }
  return true;
}

void TModeleApercu::CocherTypeDe(const QModelIndex& index, bool coche) {
  if (!index.isValid() || index.internalId() == kIdPaire || !modifiable_()) return;
  const size_t p = PaireDe(index);
  plan_.CocherType(p, Changement(index).action.type, coche);
  SignalerPaire(p);
}

void TModeleApercu::SignalerPaire(size_t p) {
  const QModelIndex ligne_paire = index(static_cast<int>(p), 0);
  emit dataChanged(ligne_paire, index(static_cast<int>(p), kNbColonnes - 1));
  const int n = rowCount(ligne_paire);
  // A folder's tick goes to the actions below it, which may be anywhere in the pair.
  if (n > 0)
    emit dataChanged(index(0, kColAction, ligne_paire), index(n - 1, kColAction, ligne_paire));
  if (change_) change_();
}

TFiltreApercu::TFiltreApercu(QObject* parent) : QSortFilterProxyModel(parent) {
  setSortRole(TModeleApercu::kRoleTri);
  setSortLocaleAware(true);
  // Ticks change no sort key: a tick that re-sorted and re-filtered a pair of a hundred
  // thousand actions would freeze the window. A filter on the ticks is applied anew when
  // chosen.
  setDynamicSortFilter(false);
}

void TFiltreApercu::DefinirFiltre(int filtre) {
  filtre_ = filtre;
  invalidateFilter();
}

bool TFiltreApercu::lessThan(const QModelIndex& gauche, const QModelIndex& droite) const {
  if (!gauche.parent().isValid())
    return sortOrder() == Qt::AscendingOrder ? gauche.row() < droite.row()
                                             : gauche.row() > droite.row();
  return QSortFilterProxyModel::lessThan(gauche, droite);
}

bool TFiltreApercu::filterAcceptsRow(int source_row, const QModelIndex& source_parent) const {
  if (!source_parent.isValid() || filtre_ == kTout) return true;
  const QModelIndex i = sourceModel()->index(source_row, TModeleApercu::kColAction, source_parent);
  if (filtre_ == kRecentes)
    return sourceModel()
               ->data(i.siblingAtColumn(TModeleApercu::kColNote), TModeleApercu::kRoleTri)
               .toInt() != 0;
  if (filtre_ == kLaisses)
    return sourceModel()->data(i, Qt::CheckStateRole).toInt() == Qt::Unchecked;
  return sourceModel()->data(i, TModeleApercu::kRoleType).toInt() == filtre_;
}

TPanneauApercu::TPanneauApercu(TPlanApercu& plan, std::function<bool()> modifiable, QWidget* parent)
    : QWidget(parent),
      plan_(plan),
      modele_(plan, std::move(modifiable), [this] { MajTotaux(); }),
      choix_filtre_(this),
      totaux_(this),
      arbre_(this) {
  filtre_.setSourceModel(&modele_);
  choix_filtre_.addItem(QStringLiteral("Toutes les actions"), int(TFiltreApercu::kTout));
  choix_filtre_.addItem(QStringLiteral("Créations"), int(TypeAction::Creation));
  choix_filtre_.addItem(QStringLiteral("Remplacements"), int(TypeAction::Remplacement));
  choix_filtre_.addItem(QStringLiteral("Suppressions"), int(TypeAction::Suppression));
  choix_filtre_.addItem(QStringLiteral("Attributs"), int(TypeAction::Attributs));
  choix_filtre_.addItem(QStringLiteral("Cibles plus récentes"), int(TFiltreApercu::kRecentes));
  choix_filtre_.addItem(QStringLiteral("Décochées"), int(TFiltreApercu::kLaisses));
  connect(&choix_filtre_, &QComboBox::currentIndexChanged, this, [this](int i) {
    filtre_.DefinirFiltre(choix_filtre_.itemData(i).toInt());
    arbre_.expandAll();
  });
  totaux_.setTextFormat(Qt::PlainText);
  arbre_.setModel(&filtre_);
  // Equal rows: the view lays out hundreds of thousands of actions without measuring each.
  arbre_.setUniformRowHeights(true);
  // The walk's order until a column is chosen.
  arbre_.header()->setSortIndicator(-1, Qt::AscendingOrder);
  arbre_.setSortingEnabled(true);
  arbre_.setSelectionMode(QAbstractItemView::ExtendedSelection);
  arbre_.setContextMenuPolicy(Qt::CustomContextMenu);
  arbre_.header()->setSectionResizeMode(QHeaderView::Interactive);
  arbre_.header()->resizeSection(TModeleApercu::kColAction, 125);
  arbre_.header()->resizeSection(TModeleApercu::kColChemin, 200);
  arbre_.header()->resizeSection(TModeleApercu::kColGenre, 60);
  for (int c : {TModeleApercu::kColTaille, TModeleApercu::kColTailleCible})
    arbre_.header()->resizeSection(c, 90);
  for (int c : {TModeleApercu::kColDate, TModeleApercu::kColDateCible})
    arbre_.header()->resizeSection(c, 130);
  connect(&arbre_, &QWidget::customContextMenuRequested, this, &TPanneauApercu::MenuContextuel);

  auto* haut = new QHBoxLayout;  // owned by the panel's layout
  haut->setContentsMargins(2, 2, 2, 2);
  haut->addWidget(&choix_filtre_);
  haut->addWidget(&totaux_, 1);
  auto* disposition = new QVBoxLayout(this);  // owned by the panel
  disposition->setContentsMargins(0, 0, 0, 0);
  disposition->setSpacing(0);
  disposition->addLayout(haut);
  disposition->addWidget(&arbre_, 1);
  Recharger();
}

void TPanneauApercu::Recharger() {
  modele_.Recharger();
  for (int r = 0; r < filtre_.rowCount(); ++r) arbre_.setFirstColumnSpanned(r, QModelIndex(), true);
  arbre_.expandAll();
  MajTotaux();
}

void TPanneauApercu::MajTotaux() {
  totaux_.setText(plan_.Vide() ? QStringLiteral("Pas d'aperçu : « Comparer » en fait un.")
                               : QStringLiteral("Total : ") + VersQt(TexteTotaux(plan_.Totaux())));
}

void TPanneauApercu::MenuContextuel(const QPoint& point) {
  const QModelIndex vue = arbre_.indexAt(point);
  if (!vue.isValid()) return;
  const QModelIndex i = filtre_.mapToSource(vue);
  if (i.internalId() == 0 || !(modele_.flags(i) & Qt::ItemIsEnabled)) return;
  const QString type = modele_.data(i.siblingAtColumn(TModeleApercu::kColAction)).toString();
  QMenu menu(this);
  QAction* decocher =
      menu.addAction(QStringLiteral("Décocher toutes les actions « %1 » de cette paire").arg(type));
  QAction* cocher =
      menu.addAction(QStringLiteral("Cocher toutes les actions « %1 » de cette paire").arg(type));
  const bool modifiable = (modele_.flags(i.siblingAtColumn(0)) & Qt::ItemIsUserCheckable) != 0;
  decocher->setEnabled(modifiable);
  cocher->setEnabled(modifiable);
  QAction* choisi = menu.exec(arbre_.viewport()->mapToGlobal(point));
  if (choisi == decocher) modele_.CocherTypeDe(i, false);
  if (choisi == cocher) modele_.CocherTypeDe(i, true);
}

}  // namespace jumelix
