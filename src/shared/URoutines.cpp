#include "shared/URoutines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "platform/FichierAtomique.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"

namespace jumelix {

void TCompteRendu::AjouterErreur(const std::string& ligne) {
  erreur_signalee_ = true;
  if (!ligne.empty()) lignes_.push_back(EchapperControles(ligne));
}

void TCompteRendu::AjouterMessage(const std::string& ligne) {
  if (!ligne.empty()) lignes_.push_back(EchapperControles(ligne));
}

void TCompteRendu::InsererEnTete(const std::string& ligne) {
  lignes_.insert(lignes_.begin(), EchapperControles(ligne));
}

void TCompteRendu::ViderCompteRendu() {
  lignes_.clear();
  erreur_signalee_ = false;
}

TCompteRendu& CompteRendu() {
  static TCompteRendu compte_rendu;
  return compte_rendu;
}

std::string NomOrdinateur() {
  static std::string memorise;
  if (memorise.empty()) {
    std::string nom;
    if (platform::HostName(nom)) memorise = nom;
  }
  return memorise;
}

std::string Trim(std::string_view s) {
  size_t debut = 0;
  size_t fin = s.size();
  while (debut < fin && static_cast<unsigned char>(s[debut]) <= 32) ++debut;
  while (fin > debut && static_cast<unsigned char>(s[fin - 1]) <= 32) --fin;
  return std::string(s.substr(debut, fin - debut));
}

bool EstBlanc(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) > 32) return false;
  }
  return true;
}

std::string EchapperControles(std::string_view s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string r;
  r.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const unsigned char c1 = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
    const unsigned char c2 = i + 2 < s.size() ? static_cast<unsigned char>(s[i + 2]) : 0;
    if (c == '\t') {
      r += "\\t";
    } else if (c == '\n') {
      r += "\\n";
    } else if (c == '\r') {
      r += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      r += "\\x";
      r += hex[c >> 4];
      r += hex[c & 15];
    } else if (c == 0xC2 && c1 >= 0x80 && c1 <= 0x9F) {  // U+0080..U+009F, NEL among them
      r += "\\u00";
      r += hex[c1 >> 4];
      r += hex[c1 & 15];
      ++i;
    } else if (c == 0xE2 && c1 == 0x80 && (c2 == 0xA8 || c2 == 0xA9)) {  // U+2028, U+2029
      r += c2 == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

std::string MinusculesAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return r;
}

bool EgauxSansCasseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool EstUtf8Valide(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      return false;
    }
    i += len;
  }
  return true;
}

namespace {

// Code points of Windows-1252 bytes 0x80..0x9F; the five holes map to C1 controls.
constexpr uint16_t kCp1252Haut[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AjouterUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string Cp1252VersUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 4);
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else if (c < 0xA0) {
      AjouterUtf8(out, kCp1252Haut[c - 0x80]);
    } else {
      AjouterUtf8(out, c);
    }
  }
  return out;
}

size_t NbCaracteres(std::string_view s) {
  size_t n = 0;
  for (char c : s) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::string PremiersCaracteres(std::string_view s, size_t n) {
  size_t vus = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (vus == n) return std::string(s.substr(0, i));
      ++vus;
    }
  }
  return std::string(s);
}

void CouperOctets(std::string& texte, size_t max) {
  if (texte.size() <= max) return;
  size_t fin = max;
  while (fin > 0 && (static_cast<unsigned char>(texte[fin]) & 0xC0) == 0x80) --fin;
  texte.resize(fin);
}

std::vector<std::string> DecouperLignes(std::string_view texte) {
  size_t nul = texte.find('\0');
  if (nul != std::string_view::npos) texte = texte.substr(0, nul);
  std::vector<std::string> lignes;
  size_t debut = 0;
  size_t i = 0;
  while (i < texte.size()) {
    char c = texte[i];
    if (c == '\r' || c == '\n') {
      lignes.emplace_back(texte.substr(debut, i - debut));
      if (c == '\r' && i + 1 < texte.size() && texte[i + 1] == '\n') ++i;
      ++i;
      debut = i;
    } else {
      ++i;
    }
  }
  if (debut < texte.size()) lignes.emplace_back(texte.substr(debut));
  return lignes;
}

int LireLignesFichier(const std::string& chemin, std::vector<std::string>& lignes,
                      size_t octets_max) {
  lignes.clear();
  // O_NONBLOCK: a FIFO or a device put where a file is expected must not hold the
  // program for ever at its open; only a regular file is then read.
  platform::UniqueFd fd(::open(chemin.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return errno;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  std::string contenu;
  char buf[65536];
  while (contenu.size() < octets_max) {
    ssize_t n = ::read(fd.get(), buf, std::min(sizeof buf, octets_max - contenu.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    contenu.append(buf, static_cast<size_t>(n));
  }
  lignes = LignesDuContenu(std::move(contenu));
  return 0;
}

std::string GrouperMilliers(uint64_t n, std::string_view separateur) {
  const std::string chiffres = std::to_string(n);
  std::string texte;
  for (size_t i = 0; i < chiffres.size(); ++i) {
    if (i > 0 && (chiffres.size() - i) % 3 == 0) texte += separateur;
    texte += chiffres[i];
  }
  return texte;
}

std::vector<std::string> LignesDuContenu(std::string contenu) {
  size_t nul = contenu.find('\0');
  if (nul != std::string::npos) contenu.resize(nul);
  // A UTF-8 byte-order mark is not part of the first line.
  if (contenu.rfind("\xEF\xBB\xBF", 0) == 0) contenu.erase(0, 3);
  // Each line on its own: one path typed on Windows in a list otherwise in UTF-8 must not
  // turn every other line (the titles included) into Windows-1252 mojibake.
  std::vector<std::string> lignes = DecouperLignes(contenu);
  for (std::string& ligne : lignes) {
    if (!EstUtf8Valide(ligne)) ligne = Cp1252VersUtf8(ligne);
  }
  return lignes;
}

int EcrireLignesFichier(const std::string& chemin, const std::vector<std::string>& lignes,
                        unsigned mode) {
  std::string contenu;
  for (const std::string& l : lignes) {
    contenu += l;
    contenu += "\r\n";
  }
  return platform::EcrireFichierAtomique(chemin, contenu, mode);
}

}  // namespace jumelix
