#include "shared/UMessErreurs.h"

#include "platform/System.h"

namespace jumelix {

std::string TexteErreurSysteme(int err) {
  std::string texte = platform::SystemErrorText(err);
  while (!texte.empty()) {
    unsigned char c = static_cast<unsigned char>(texte.back());
    if (c <= 32 || c == '.') {
      texte.pop_back();
    } else {
      break;
    }
  }
  if (texte.empty()) return "Erreur n°" + std::to_string(err);
  return texte;
}

std::string MessageErreurSysteme(int err) {
  if (err == 0) return {};
  std::string texte = platform::SystemErrorText(err);
  if (texte.empty()) return "Erreur n°" + std::to_string(err);
  size_t crlf = texte.find("\r\n");
  if (crlf != std::string::npos && crlf + 2 == texte.size()) texte.resize(crlf);
  return texte;
}

}  // namespace jumelix
