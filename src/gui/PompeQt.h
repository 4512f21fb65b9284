// The Qt side of the mail wait loop (net/AttenteMessages.h): while a report or test mail
// is being sent, the windows keep painting and what the user types or clicks meanwhile is
// discarded, not delivered late. GUI thread only; never installed in service mode.
#pragma once

namespace jumelix {

// Installs the pump; the main window calls it once, the mail dialog does too.
void InstallerPompeQt();

// A widget whose property of this name is true still takes mouse clicks and the space
// bar during the wait: the button that cancels the send.
inline constexpr const char* kSaisiePendantAttente = "jumelixSaisiePendantAttente";

}  // namespace jumelix
