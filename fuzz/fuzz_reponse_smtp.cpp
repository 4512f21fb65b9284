// The SMTP reply-line rules on any server output: each line gives a status code within
// range, and the EHLO scan gives distinct, non-empty, upper-case mechanism names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCommun.h"
#include "smtp/SmtpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jumelix;
  const std::string texte(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> types;
  size_t debut = 0;
  while (debut <= texte.size()) {
    size_t fin = texte.find('\n', debut);
    if (fin == std::string::npos) fin = texte.size();
    const std::string ligne = texte.substr(debut, fin - debut);
    int status = -1;
    const bool suite = TSmtpSession::ParseReplyLine(ligne, status);
    JUMELIX_FUZZ_VERIFIER(status >= 0 && status <= 65535);
    JUMELIX_FUZZ_VERIFIER(!suite || ligne.find('-') != std::string::npos);
    TSmtpSession::ScanAuthTypes(ligne, types);
    debut = fin + 1;
  }
  for (size_t i = 0; i < types.size(); ++i) {
    JUMELIX_FUZZ_VERIFIER(!types[i].empty());
    JUMELIX_FUZZ_VERIFIER(types[i].find(' ') == std::string::npos);
    for (char c : types[i]) JUMELIX_FUZZ_VERIFIER(!(c >= 'a' && c <= 'z'));
    for (size_t j = i + 1; j < types.size(); ++j) JUMELIX_FUZZ_VERIFIER(types[i] != types[j]);
  }
  return 0;
}
