// The program's credit text, shown in the status bar and by "A propos". Only its scrambled
// form and a checksum of that form are stored; it is unscrambled at each use. A stored form
// that no longer matches its checksum gives nothing: the caller decides what follows (the
// window refuses to start), so nothing here ends the process. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jumelix {

std::vector<unsigned char> BrouillerCredit(std::string_view clair);
uint32_t SommeCredit(std::span<const unsigned char> forme);
// Nothing when `forme` does not match `somme`.
std::optional<std::string> DechiffrerCredit(std::span<const unsigned char> forme, uint32_t somme);

// The program's own credit text; nothing when its stored form has been altered.
std::optional<std::string> CreditProgramme();

// What the program says, on standard error, when it refuses to start for that reason.
inline constexpr const char* kMessageCreditAltere =
    "jumelix : le programme a été altéré, il s'arrête.\n";

}  // namespace jumelix
