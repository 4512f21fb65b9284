#include "gui/Ecran.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace jumelix {

namespace {

// Taken from the available area where the platform gives no frame: a panel the area may
// still include, a title bar, borders.
constexpr int kReserveHauteur = 72;
constexpr int kReserveLargeur = 16;

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

}  // namespace jumelix
