#include "platform/System.h"

#include <locale.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace jumelix::platform {

std::string SystemErrorText(int err) {
  // strerror_l with the process locale gives the user's language once main() has
  // called setlocale(LC_ALL, ""); "Unknown error" texts count as no text.
  locale_t loc = uselocale(static_cast<locale_t>(0));
  const char* text = strerror_l(err, loc);
  if (text == nullptr) return {};
  std::string s(text);
  if (s.rfind("Unknown error", 0) == 0) return {};
  return s;
}

bool HostName(std::string& name) {
  char buf[256];
  if (gethostname(buf, sizeof buf) != 0) return false;
  buf[sizeof buf - 1] = '\0';
  name = buf;
  return true;
}

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

std::string LocalDateTimeText() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char buf[128];
  size_t n = strftime(buf, sizeof buf, "%x %X", &local);
  return std::string(buf, n);
}

}  // namespace jumelix::platform
