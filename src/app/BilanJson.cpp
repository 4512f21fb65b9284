#include "app/BilanJson.h"

#include <cstdio>

#include "platform/System.h"

namespace jumelix {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 (overlong forms, surrogates and code
// points past U+10FFFF are invalid).
size_t LongueurSequence(std::string_view s, size_t i) {
  const auto octet = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = octet(i);
  if (c < 0x80) return 1;
  size_t n = 0;
  unsigned char min = 0x80, max = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) min = 0xA0;
    if (c == 0xED) max = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) min = 0x90;
    if (c == 0xF4) max = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (octet(i + 1) < min || octet(i + 1) > max) return 0;
  for (size_t k = 2; k < n; ++k)
    if ((octet(i + k) & 0xC0) != 0x80) return 0;
  return n;
}

void Champ(std::string& j, const char* nom, const std::string& valeur_json, bool dernier = false) {
  j += std::string("\"") + nom + "\": " + valeur_json + (dernier ? "" : ", ");
}

}  // namespace

std::string ChaineJson(std::string_view s) {
  std::string j = "\"";
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = LongueurSequence(s, i);
    if (n == 0) {
      j += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      j += '\\';
      j += static_cast<char>(c);
    } else if (c == '\n') {
      j += "\\n";
    } else if (c == '\t') {
      j += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      j += buf;
    } else {
      j.append(s.substr(i, n));
    }
    i += n;
  }
  return j + "\"";
}

std::string ResultatCouple(const TBilanCouple& c, bool simulation) {
  if (!c.traite) return "non-traite";
  if (c.abandonne) return "abandonne";
  if (!c.lignes.empty()) return "erreurs";
  return simulation ? "identique" : "synchronise";
}

std::string TexteJson(const TResultatRun& r) {
  std::string j = "{\n  ";
  Champ(j, "debut", ChaineJson(platform::DateIso8601(r.debut)));
  Champ(j, "fin", ChaineJson(platform::DateIso8601(r.fin)));
  Champ(j, "fichier_liste", ChaineJson(r.fichier_liste));
  Champ(j, "simulation", r.simulation ? "true" : "false");
  Champ(j, "code_sortie", std::to_string(r.code_sortie));
  j += "\n  \"couples\": [";
  for (size_t k = 0; k < r.couples.size(); ++k) {
    const TBilanCouple& c = r.couples[k];
    j += k == 0 ? "\n    {" : ",\n    {";
    Champ(j, "position", std::to_string(c.ligne));
    Champ(j, "source", ChaineJson(c.source));
    Champ(j, "destination", ChaineJson(c.destination));
    Champ(j, "etat", ChaineJson(c.etat));
    Champ(j, "resultat", ChaineJson(ResultatCouple(c, r.simulation)));
    Champ(j, "copies", std::to_string(c.copies));
    Champ(j, "supprimes", std::to_string(c.supprimes));
    Champ(j, "identiques", std::to_string(c.identiques));
    Champ(j, "octets_copies", std::to_string(c.octets));
    Champ(j, "nb_erreurs", std::to_string(c.lignes.size()));
    std::string lignes = "[";
    for (size_t l = 0; l < c.lignes.size(); ++l)
      lignes += (l == 0 ? "" : ", ") + ChaineJson(c.lignes[l]);
    Champ(j, "erreurs", lignes + "]");
    // Beside each line, the system error behind it by its symbolic name, or null.
    std::string causes = "[";
    for (size_t l = 0; l < c.lignes.size(); ++l) {
      const int e = l < c.causes.size() ? c.causes[l] : 0;
      std::string nom = e > 0 ? platform::SystemErrorName(e) : std::string();
      if (e > 0 && nom.empty()) nom = std::to_string(e);
      causes += (l == 0 ? "" : ", ") + (e > 0 ? ChaineJson(nom) : std::string("null"));
    }
    Champ(j, "causes", causes + "]", true);
    j += "}";
  }
  j += r.couples.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return j;
}

}  // namespace jumelix
