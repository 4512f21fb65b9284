#include "gui/HelpWindow.h"

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QTextDocument>
#include <algorithm>

// The guide lives in a static library: its resource object is linked in only when
// something refers to it, and Q_INIT_RESOURCE must be named outside any namespace.
static void InitialiserRessourceGuide() { Q_INIT_RESOURCE(guide); }

namespace jumelix {

namespace {

constexpr int kLargeur = 581;
constexpr int kHauteur = 402;
constexpr int kHauteurPanneau = 33;
constexpr int kHautBoutons = 4;
constexpr char kDocument[] = ":/aide/guide.html";

// A small drawn printer, used when the desktop theme has no print icon.
QIcon IconeImprimante() {
  QIcon theme = QIcon::fromTheme(QStringLiteral("document-print"));
  if (!theme.isNull()) return theme;
  QPixmap image(16, 16);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setPen(Qt::black);
  p.setBrush(Qt::white);
  p.drawRect(4, 1, 7, 5);  // paper going in
  p.setBrush(QColor(160, 160, 160));
  p.drawRect(1, 6, 13, 6);  // body
  p.setBrush(Qt::white);
  p.drawRect(4, 10, 7, 4);  // paper coming out
  p.setPen(Qt::green);
  p.drawPoint(12, 8);
  return QIcon(image);
}

}  // namespace

TFormAide::TFormAide(QWidget* parent)
    : QWidget(parent, Qt::Window),
      RichEditAide_(this),
      Panel1_(this),
      ButtonOk_(QStringLiteral("Ok"), &Panel1_),
      SpeedButtonImpr_(&Panel1_) {
  InitialiserRessourceGuide();
  setWindowTitle(QStringLiteral("Aide"));
  QFont police = font();
  police.setPointSize(8);
  setFont(police);
  resize(kLargeur, kHauteur);

  RichEditAide_.setReadOnly(true);
  RichEditAide_.setOpenLinks(false);
  RichEditAide_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  RichEditAide_.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  QPalette fond = RichEditAide_.palette();
  fond.setColor(QPalette::Base, QColor(255, 255, 224));
  fond.setColor(QPalette::Text, Qt::black);
  RichEditAide_.setPalette(fond);
  RichEditAide_.clear();

  ButtonOk_.resize(75, 25);
  ButtonOk_.setDefault(true);
  SpeedButtonImpr_.resize(25, 25);
  SpeedButtonImpr_.setIcon(IconeImprimante());
  SpeedButtonImpr_.setAutoRaise(true);
  SpeedButtonImpr_.setToolTip(QStringLiteral("Imprimer l'aide"));

  connect(&ButtonOk_, &QPushButton::clicked, this, &TFormAide::ButtonOkClick);
  connect(&SpeedButtonImpr_, &QToolButton::clicked, this, &TFormAide::SpeedButtonImprClick);

  // Enter and Escape close the window wherever the focus is, the document included.
  for (QObject* o :
       {static_cast<QObject*>(&RichEditAide_), static_cast<QObject*>(RichEditAide_.viewport()),
        static_cast<QObject*>(&Panel1_), static_cast<QObject*>(&ButtonOk_),
        static_cast<QObject*>(&SpeedButtonImpr_), static_cast<QObject*>(this)}) {
    o->installEventFilter(this);
  }

  if (QScreen* ecran = QGuiApplication::primaryScreen()) {
    const QRect zone = ecran->availableGeometry();
    move(zone.center() - QPoint(kLargeur / 2, kHauteur / 2));
  }
  FormResize();
}

TFormAide::~TFormAide() = default;

void TFormAide::ChargerAide() {
  if (!RichEditAide_.document()->isEmpty()) return;
  QFile fichier(QString::fromLatin1(kDocument));
  if (!fichier.open(QIODevice::ReadOnly)) return;
  RichEditAide_.setHtml(QString::fromUtf8(fichier.readAll()));
}

bool TFormAide::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int touche = static_cast<QKeyEvent*>(event)->key();
    if (touche == Qt::Key_Return || touche == Qt::Key_Enter || touche == Qt::Key_Escape) {
      close();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TFormAide::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FormResize();
}

void TFormAide::FormResize() {
  const int largeur = width();
  const int hauteur = height();
  RichEditAide_.setGeometry(0, 0, largeur, std::max(0, hauteur - kHauteurPanneau));
  Panel1_.setGeometry(0, std::max(0, hauteur - kHauteurPanneau), largeur, kHauteurPanneau);
  const int panneau = Panel1_.width();
  ButtonOk_.move((panneau - ButtonOk_.width()) / 2, kHautBoutons);
  SpeedButtonImpr_.move(panneau - SpeedButtonImpr_.width() - 4, kHautBoutons);
  RichEditAide_.viewport()->update();
}

void TFormAide::ButtonOkClick() { close(); }

void TFormAide::SpeedButtonImprClick() {
  const QList<QPrinterInfo> imprimantes = QPrinterInfo::availablePrinters();
  if (imprimantes.isEmpty()) {
    QMessageBox boite(QMessageBox::NoIcon, QStringLiteral("Jumelix"),
                      QStringLiteral("Pas d'imprimante."), QMessageBox::Ok, this);
    boite.exec();
    return;
  }
  QPrinterInfo imprimante = QPrinterInfo::defaultPrinter();
  if (imprimante.isNull()) imprimante = imprimantes.first();
  const QString question = QStringLiteral("Impression de l'aide vers l'imprimante par défaut ") +
                           imprimante.printerName() + QStringLiteral("\nImprimer ?");
  QMessageBox boite(QMessageBox::Question, QStringLiteral("Confirmation"), question,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
  boite.setDefaultButton(QMessageBox::Yes);
  if (boite.exec() != QMessageBox::Yes) return;

  // The guide may not have been shown yet when printing is asked from a fresh window.
  ChargerAide();
  QPrinter sortie(imprimante, QPrinter::HighResolution);
  sortie.setDocName(QStringLiteral("Aide de Jumelix"));
  if (!sortie.isValid()) return;  // printing failures are silent
  RichEditAide_.document()->print(&sortie);
}

}  // namespace jumelix
