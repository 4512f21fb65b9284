// The wait of the mail sender: pumps the thread's message loop (and, in the GUI, the
// window system's events through a hook) until a condition holds, a delay runs out or a
// quit message arrives. GUI thread only; the hook keeps src/mail free of any window code.
#pragma once

#include <cstdint>
#include <functional>

namespace jumelix {

// Flag bits of AttendreAvecMessages: discard keyboard input, discard mouse input.
inline constexpr unsigned kIgnorerClavier = 1;
inline constexpr unsigned kIgnorerSouris = 2;
// The delay that never runs out.
inline constexpr uint32_t kAttenteInfinie = 0xFFFFFFFFu;

// Called at every pass of the wait so that the windows keep painting; the arguments say
// whether keyboard and mouse input must be discarded rather than delivered. Without a
// hook (service mode, core tests) only the message loop is pumped.
using TPompeEvenements = std::function<void(bool ignorerClavier, bool ignorerSouris)>;
void DefinirPompeEvenements(TPompeEvenements pompe);

// Returns 0 once `condition` holds (tested first, then after each dispatched message and
// each wake-up, a signal's included), 1 when more than `delaiMs` ms have passed on the
// monotonic clock (checked after each dispatched message too, so a busy queue cannot hold
// the wait), -1 when a quit message is met: it is posted again, so the outer loop still
// sees it.
int AttendreAvecMessages(uint32_t delaiMs, unsigned filtres,
                         const std::function<bool()>& condition);

}  // namespace jumelix
