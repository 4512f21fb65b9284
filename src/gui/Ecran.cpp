#include "gui/Ecran.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <QWidget>
#include <algorithm>

namespace jumelix {

namespace {

// Taken from the available area where the platform gives no frame: a panel the area may
// still include, a title bar, borders.
constexpr int kReserveHauteur = 72;
constexpr int kReserveLargeur = 16;
// What a title bar takes beside its title: the window's icon and its three buttons.
constexpr int kPlaceBoutonsTitre = 160;

QRect ZoneDisponible(const QWidget* fenetre) {
  QScreen* ecran = fenetre->screen();
  if (ecran == nullptr) ecran = QGuiApplication::primaryScreen();
  return ecran != nullptr ? ecran->availableGeometry() : QRect();
}

}  // namespace

QSize PlaceFenetre(const QWidget* fenetre) {
  const QRect zone = ZoneDisponible(fenetre);
  if (zone.isEmpty()) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  return QSize(std::max(0, zone.width() - kReserveLargeur),
               std::max(0, zone.height() - kReserveHauteur));
}

void TenirDansEcran(QWidget* fenetre) {
  const QRect zone = ZoneDisponible(fenetre);
  if (zone.isEmpty()) return;
  const QSize place = PlaceFenetre(fenetre);
  const QSize taille = fenetre->size().boundedTo(place).expandedTo(fenetre->minimumSize());
  if (taille != fenetre->size()) fenetre->resize(taille);
  // The frame as the window system draws it, once the window is shown; the reserve before.
  const QRect cadre = fenetre->isVisible() ? fenetre->frameGeometry() : fenetre->geometry();
  const int x =
      std::clamp(cadre.x(), zone.left(), std::max(zone.left(), zone.right() + 1 - cadre.width()));
  const int y =
      std::clamp(cadre.y(), zone.top(), std::max(zone.top(), zone.bottom() + 1 - cadre.height()));
  if (x != cadre.x() || y != cadre.y()) fenetre->move(x, y);
}

void ReserverTitre(QMessageBox& boite) {
  auto* grille = qobject_cast<QGridLayout*>(boite.layout());
  if (grille == nullptr) return;
  QFont gras = boite.font();
  gras.setBold(true);
  const int largeur =
      QFontMetrics(gras).horizontalAdvance(boite.windowTitle()) + kPlaceBoutonsTitre;
  // The box sizes itself from its layout's minimum when shown: a row of that width does it.
  grille->addItem(new QSpacerItem(largeur, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                  grille->rowCount(), 0, 1, grille->columnCount());  // owned by the layout
}

}  // namespace jumelix
