// Process-level services of the system: error texts, host name, monotonic tick count and
// the locale's date and time. Stateless free functions, safe to call from any thread;
// none of them throws, failures are reported through their return values.
#pragma once

#include <cstdint>
#include <string>

namespace jumelix::platform {

// The system's text for errno value `err` in the user's language (LC_MESSAGES), or the
// empty text when the system has none for it.
std::string SystemErrorText(int err);

// The node name of this machine; false (and `name` untouched) when it cannot be read.
bool HostName(std::string& name);

// Milliseconds of CLOCK_MONOTONIC, wrapping at 2^32 like a 32-bit tick count.
uint32_t TickCount();

// The current local date and time as the locale writes them: "%x %X" (LC_TIME).
std::string LocalDateTimeText();

}  // namespace jumelix::platform
