#include "gui/GrilleVue.h"
#include "gui/TexteQt.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include "app/ApercuExclusions.h"

namespace jumelix {

namespace {

// The local paths a drag carries; empty when it carries anything else.
std::vector<std::string> CheminsLocaux(const QMimeData* donnees) {
  std::vector<std::string> chemins;
  if (donnees == nullptr || !donnees->hasUrls()) return chemins;
  for (const QUrl& url : donnees->urls()) {
    if (!url.isLocalFile()) return {};
    QString chemin = url.toLocalFile();
    if (chemin.size() > 1 && chemin.endsWith(QLatin1Char('/'))) chemin.chop(1);
    chemins.push_back(chemin.toStdString());
  }
  return chemins;
}

}  // namespace

TModeleGrille::TModeleGrille(TGrilleLignes& grille,
                             std::function<void(int, int, const std::string&)> modifier,
                             std::function<bool()> lecture_seule,
                             std::function<int()> ligne_en_cours, QObject* parent)
    : QAbstractTableModel(parent),
      grille_(grille),
      modifier_(std::move(modifier)),
      lecture_seule_(std::move(lecture_seule)),
      ligne_en_cours_(std::move(ligne_en_cours)) {
  grille_.DefinirObservateur(this);
}

TModeleGrille::~TModeleGrille() { grille_.DefinirObservateur(nullptr); }

// Model row r is grid row r + 1: grid row 0 holds the titles, shown as the header.
int TModeleGrille::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : grille_.NbLignes() - 1;
}

int TModeleGrille::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kNbColonnes;
}

QVariant TModeleGrille::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    return VersQt(grille_.Cellule(index.column(), index.row() + 1));
  }
  // The whole text of a cell the column may show elided; a source with patterns of its own
  // says so.
  if (role == Qt::ToolTipRole) {
    const std::string& texte = grille_.Cellule(index.column(), index.row() + 1);
    if (texte.empty()) return {};
    const std::string note = index.column() == kColSource ? NoteMotifsSource(texte) : "";
    return VersQt(note.empty() ? texte : texte + "\n" + note);
  }
  const bool en_cours = ligne_en_cours_ && ligne_en_cours_() == index.row() + 1;
  if (role == Qt::FontRole && en_cours) {
    QFont gras;
    gras.setBold(true);
    return gras;
  }
  if (role == Qt::BackgroundRole && en_cours) return QColor(255, 236, 179);  // pale amber
  return {};
}

void TModeleGrille::RafraichirLigneEnCours() {
  if (rowCount() == 0) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, kNbColonnes - 1),
                   {Qt::FontRole, Qt::BackgroundRole});
}

QVariant TModeleGrille::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return VersQt(grille_.Cellule(section, 0));
  return section + 1;
}

Qt::ItemFlags TModeleGrille::flags(const QModelIndex& index) const {
  // A disabled "Etat" cell can be neither clicked nor reached with the arrows.
  if (!index.isValid() || index.column() == kColEtat) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (!lecture_seule_()) f |= Qt::ItemIsEditable;
  return f;
}

bool TModeleGrille::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.column() == kColEtat) return false;
  const std::string texte = value.toString().toStdString();
  if (texte == grille_.Cellule(index.column(), index.row() + 1)) return true;
  modifier_(index.column(), index.row() + 1, texte);
  return texte == grille_.Cellule(index.column(), index.row() + 1);
}

void TModeleGrille::AvantChangementStructure() { beginResetModel(); }

void TModeleGrille::ApresChangementStructure() {
  endResetModel();
  emit CouranteAChanger();
}

void TModeleGrille::CelluleModifiee(int colonne, int ligne) {
  if (ligne == 0) {
    emit headerDataChanged(Qt::Horizontal, colonne, colonne);
    return;
  }
  const QModelIndex i = index(ligne - 1, colonne);
  emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
}

void TModeleGrille::CelluleCouranteModifiee(int, int) { emit CouranteAChanger(); }

TDelegueGrille::TDelegueGrille(std::function<void()> touche_inser, QObject* parent)
    : QStyledItemDelegate(parent), touche_inser_(std::move(touche_inser)) {}

QWidget* TDelegueGrille::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                      const QModelIndex& index) const {
  auto* editeur = new QLineEdit(parent);  // owned by the view, which deletes it
  editeur->setFrame(false);
  QAbstractItemModel* modele = const_cast<QAbstractItemModel*>(index.model());
  const QPersistentModelIndex cellule(index);
  // Every change of the text reaches the grid at once, as typing in the cell would.
  connect(editeur, &QLineEdit::textEdited, editeur, [modele, cellule](const QString& texte) {
    if (cellule.isValid()) modele->setData(cellule, texte, Qt::EditRole);
  });
  return editeur;
}

void TDelegueGrille::setEditorData(QWidget* editor, const QModelIndex& index) const {
  auto* editeur = qobject_cast<QLineEdit*>(editor);
  if (editeur == nullptr) return;
  // The model echoes every keystroke back: leave the editor (and its caret) alone then.
  const QString texte = index.data(Qt::EditRole).toString();
  if (editeur->text() != texte) editeur->setText(texte);
}

void TDelegueGrille::setModelData(QWidget* editor, QAbstractItemModel* model,
                                  const QModelIndex& index) const {
  if (auto* editeur = qobject_cast<QLineEdit*>(editor)) {
    model->setData(index, editeur->text(), Qt::EditRole);
  }
}

void TDelegueGrille::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const {
  // "Etat" is disabled only to keep the cursor out of it; it reads like the other cells.
  QStyleOptionViewItem o(option);
  if (index.column() == kColEtat) {
    o.state |= QStyle::State_Enabled;
    o.palette.setCurrentColorGroup(QPalette::Active);
  }
  QStyledItemDelegate::paint(painter, o, index);
}

bool TDelegueGrille::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Insert && touche_inser_) {
    touche_inser_();
    return true;
  }
  return QStyledItemDelegate::eventFilter(watched, event);
}

TStringGrid::TStringGrid(QWidget* parent) : QTableView(parent) {
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setTextElideMode(Qt::ElideMiddle);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  setCornerButtonEnabled(false);
  setShowGrid(true);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(19);  // row height 18 + grid line 1
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setMinimumSectionSize(0);
  horizontalHeader()->setFixedHeight(19);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TStringGrid::FermerEditeur() {
  if (!EditeurOuvert()) return;
  if (QWidget* editeur = indexWidget(currentIndex())) {
    commitData(editeur);
    closeEditor(editeur, QAbstractItemDelegate::NoHint);
  }
}

bool TStringGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  // The end of the previous edit is judged before another one begins.
  TraiterFinEdition();
  const bool ouvert = QTableView::edit(index, trigger, event);
  if (ouvert && EditeurOuvert()) cellule_editee_ = index;
  return ouvert;
}

void TStringGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  fin_en_attente_ = cellule_editee_;
  cellule_editee_ = QPersistentModelIndex();
  QTableView::closeEditor(editor, hint);
  // The logic may answer with a message box: not in the middle of the focus change or key
  // press that closed the editor.
  if (fin_en_attente_.isValid())
    QMetaObject::invokeMethod(
        this, [this] { TraiterFinEdition(); }, Qt::QueuedConnection);
}

void TStringGrid::TraiterFinEdition() {
  const QPersistentModelIndex cellule = fin_en_attente_;
  fin_en_attente_ = QPersistentModelIndex();
  if (fin_edition_ && cellule.isValid()) fin_edition_(cellule.column(), cellule.row() + 1);
}

void TStringGrid::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  if (sur_redimension_) sur_redimension_();
}

void TStringGrid::paintEvent(QPaintEvent* event) {
  QTableView::paintEvent(event);
  const QString indication = IndicationAffichee();
  if (indication.isEmpty()) return;
  // Under the blank first row, in the colour of disabled text: read, never mistaken for a
  // cell's content.
  QPainter p(viewport());
  p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
  const int haut = rowHeight(0) + 6;
  const QRect zone = viewport()->rect().adjusted(8, haut, -8, -4);
  p.drawText(zone, Qt::AlignTop | Qt::AlignHCenter | Qt::TextWordWrap, indication);
}

void TStringGrid::dragEnterEvent(QDragEnterEvent* event) {
  if (depot_ && !CheminsLocaux(event->mimeData()).empty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TStringGrid::dragMoveEvent(QDragMoveEvent* event) {
  if (depot_ && !CheminsLocaux(event->mimeData()).empty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TStringGrid::dropEvent(QDropEvent* event) {
  const std::vector<std::string> chemins = CheminsLocaux(event->mimeData());
  if (!depot_ || chemins.empty()) {
    event->ignore();
    return;
  }
  const QModelIndex i = indexAt(event->position().toPoint());
  if (depot_(i.isValid() ? i.column() : kColSource, i.isValid() ? i.row() + 1 : 0, chemins)) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
  TTouche touche = TTouche::Autre;
  if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
    switch (event->key()) {
      case Qt::Key_Right:
        touche = TTouche::Droite;
        break;
      case Qt::Key_Down:
        touche = TTouche::Bas;
        break;
      case Qt::Key_Insert:
        touche = TTouche::Inser;
        break;
      default:
        break;
    }
  }
  if (touche != TTouche::Autre && touche_ && !touche_(touche, EditeurOuvert())) {
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace jumelix
