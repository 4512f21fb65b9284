// The Qt side of the mail wait loop (net/AttenteMessages.h): while a report or test mail
// is being sent, the windows keep painting and what the user types or clicks meanwhile is
// discarded, not delivered late. GUI thread only; never installed in service mode.
#pragma once

namespace jumelix {

// Installs the pump; the main window calls it once, the mail dialog does too.
void InstallerPompeQt();

}  // namespace jumelix
