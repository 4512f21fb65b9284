#include "net/AttenteMessages.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "net/MessageLoop.h"
#include "platform/System.h"

namespace jumelix {
namespace {

TPompeEvenements& Pompe() {
  static TPompeEvenements pompe;
  return pompe;
}

// Short enough for the windows to repaint smoothly while the hook is the only way their
// events are seen; without windows the loop's descriptor wakes the wait by itself.
constexpr int kPasAvecFenetresMs = 5;
constexpr int kPasSansFenetresMs = 50;

}  // namespace

void DefinirPompeEvenements(TPompeEvenements pompe) { Pompe() = std::move(pompe); }

int AttendreAvecMessages(uint32_t delaiMs, unsigned filtres,
                         const std::function<bool()>& condition) {
  TMessageLoop& boucle = TMessageLoop::Current();
  const uint32_t debut = platform::TickCount();
  for (;;) {
    if (condition()) return 0;
    TMessage msg;
    while (boucle.PeekMessage(msg, true)) {
      if (msg.hwnd == 0 && msg.message == kWmQuit) {
        boucle.PostQuitMessage(static_cast<int>(msg.wParam));
        return -1;
      }
      boucle.DispatchMessage(msg);
      if (condition()) return 0;
      // Checked after every message, not only once the queue is empty: a peer that keeps
      // sending keeps the queue busy for ever.
      if (delaiMs != kAttenteInfinie && platform::TickCount() - debut > delaiMs) return 1;
    }
    if (const TPompeEvenements& pompe = Pompe()) {
      pompe((filtres & kIgnorerClavier) != 0, (filtres & kIgnorerSouris) != 0);
      if (condition()) return 0;
    }
    // Unsigned difference: a wrap of the tick counter is harmless.
    const uint32_t ecoule = platform::TickCount() - debut;
    int pas = Pompe() ? kPasAvecFenetresMs : kPasSansFenetresMs;
    if (delaiMs != kAttenteInfinie) {
      if (ecoule > delaiMs) return 1;
      pas = static_cast<int>(std::min<uint32_t>(static_cast<uint32_t>(pas), delaiMs - ecoule + 1));
    }
    pollfd pfd{boucle.NotificationFd(), POLLIN, 0};
    ::poll(&pfd, 1, pas);
  }
}

}  // namespace jumelix
