// Reversible scrambling of the SMTP password stored in JumelixConfig.dat. It hides the
// password from a casual look at the file; it is not encryption. Pure functions over
// byte strings, safe from any thread; a malformed stored value reads back as empty.
#pragma once

#include <string>
#include <string_view>

namespace jumelix {

// Each byte becomes 4 uppercase hexadecimal digits, followed by a 4-digit checksum.
// Random bits are mixed in, so two scramblings of the same password differ.
std::string CrypterMotDePasse(std::string_view motDePasse);

// Inverse of CrypterMotDePasse; the empty text for any value it cannot have produced
// (length not a multiple of 4, non-hexadecimal digit, wrong checksum).
std::string DecrypterMotDePasse(std::string_view valeur);

}  // namespace jumelix
