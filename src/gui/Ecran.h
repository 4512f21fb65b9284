// Where a window may stand on its screen. A laptop at 1366x768, or a large screen at scale
// 2 (800x500 for the program), leaves little room: every window keeps within the screen's
// available area, less what a desktop takes for its panel and the window's own title bar
// and borders, which the platform does not always count. GUI thread only.
#pragma once

#include <QSize>

class QMessageBox;
class QWidget;

namespace jumelix {

// The largest size `fenetre` may take on the screen it is on (the primary one before it
// is shown).
QSize PlaceFenetre(const QWidget* fenetre);

// Shrinks `fenetre` to PlaceFenetre when it is larger, and moves it back within the
// screen's available area. Its layout must allow that size (a scroll area, or a minimum
// that fits): the window never goes below its minimum size.
void TenirDansEcran(QWidget* fenetre);

// Widens a message box to the room its title needs beside the title bar's buttons: a box
// as short as "Envoyé" would otherwise cut its own title. Call before exec().
void ReserverTitre(QMessageBox& boite);

}  // namespace jumelix
