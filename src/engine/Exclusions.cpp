#include "engine/Exclusions.h"

#include <algorithm>
#include <utility>

namespace jumelix {
namespace {

// Outcomes of one attempt. The two abandons prune the search of the "*" that called it:
// when the text ran out, no longer run of any "*" can help; when a "*" met a "/" it cannot
// cross, only an enclosing "**" may still try further on.
enum class Issue { Oui, Non, AbandonTout, AbandonJusquAEtoiles };

bool DansClasse(std::string_view nom, unsigned char c, bool& connue) {
  connue = true;
  const bool minuscule = c >= 'a' && c <= 'z', majuscule = c >= 'A' && c <= 'Z';
  const bool chiffre = c >= '0' && c <= '9';
  const bool graphique = c > ' ' && c < 0x7f;
  if (nom == "alnum") return minuscule || majuscule || chiffre;
  if (nom == "alpha") return minuscule || majuscule;
  if (nom == "blank") return c == ' ' || c == '\t';
  if (nom == "cntrl") return c < ' ' || c == 0x7f;
  if (nom == "digit") return chiffre;
  if (nom == "graph") return graphique;
  if (nom == "lower") return minuscule;
  if (nom == "print") return graphique || c == ' ';
  if (nom == "punct") return graphique && !minuscule && !majuscule && !chiffre;
  if (nom == "space") return c == ' ' || (c >= '\t' && c <= '\r');
  if (nom == "upper") return majuscule;
  if (nom == "xdigit") return chiffre || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  connue = false;
  return false;
}

// Matches a "[...]" starting at m[i] (the "[") against the byte c, which is not "/".
// Leaves i on the closing "]". An unclosed set or an unknown class matches nothing.
Issue Ensemble(std::string_view m, size_t& i, unsigned char c) {
  ++i;
  bool negation = false;
  if (i < m.size() && (m[i] == '!' || m[i] == '^')) {
    negation = true;
    ++i;
  }
  bool trouve = false, premier = true;
  int precedent = -1;  // the last single byte, which a following "-" may extend to a range
  for (;; ++i, premier = false) {
    if (i >= m.size()) return Issue::AbandonTout;
    unsigned char x = static_cast<unsigned char>(m[i]);
    if (x == ']' && !premier) break;
    if (x == '\\') {
      if (++i >= m.size()) return Issue::AbandonTout;
      x = static_cast<unsigned char>(m[i]);
      trouve |= x == c;
      precedent = x;
    } else if (x == '-' && precedent >= 0 && i + 1 < m.size() && m[i + 1] != ']') {
      unsigned char haut = static_cast<unsigned char>(m[++i]);
      if (haut == '\\') {
        if (++i >= m.size()) return Issue::AbandonTout;
        haut = static_cast<unsigned char>(m[i]);
      }
      trouve |= c >= precedent && c <= haut;
      precedent = -1;
    } else if (x == '[' && i + 1 < m.size() && m[i + 1] == ':' &&
               m.find(":]", i + 2) != std::string_view::npos) {
      const size_t fin = m.find(":]", i + 2);
      bool connue;
      trouve |= DansClasse(m.substr(i + 2, fin - i - 2), c, connue);
      if (!connue) return Issue::AbandonTout;
      i = fin + 1;
      precedent = -1;
    } else {
      trouve |= x == c;
      precedent = x;
    }
  }
  return trouve != negation ? Issue::Oui : Issue::Non;
}

// Glob matching where "*", "?" and "[...]" never match "/", and "**" standing for whole
// components matches across them.
Issue Filtrer(std::string_view m, size_t i, std::string_view t, size_t j) {
  for (; i < m.size(); ++i, ++j) {
    const char c = m[i];
    if (j >= t.size() && c != '*') return Issue::AbandonTout;
    switch (c) {
      case '\\':
        if (++i >= m.size() || m[i] != t[j]) return Issue::Non;
        break;
      case '?':
        if (t[j] == '/') return Issue::Non;
        break;
      case '[': {
        if (t[j] == '/') return Issue::Non;
        const Issue r = Ensemble(m, i, static_cast<unsigned char>(t[j]));
        if (r != Issue::Oui) return r;
        break;
      }
      case '*': {
        const size_t debut = i;
        while (i + 1 < m.size() && m[i + 1] == '*') ++i;
        bool traverse = false;
        if (i > debut) {
          const bool avant = debut == 0 || m[debut - 1] == '/';
          const bool apres = i + 1 == m.size() || m[i + 1] == '/';
          traverse = avant && apres;
          // "a/**/b": the "**/" may also stand for no directory at all.
          if (traverse && i + 1 < m.size() && Filtrer(m, i + 2, t, j) == Issue::Oui) {
            return Issue::Oui;
          }
        }
        ++i;
        if (i == m.size()) {
          if (!traverse && t.find('/', j) != std::string_view::npos) {
            return Issue::AbandonJusquAEtoiles;
          }
          return Issue::Oui;
        }
        for (; j < t.size(); ++j) {
          const Issue r = Filtrer(m, i, t, j);
          if (r != Issue::Non && (!traverse || r != Issue::AbandonJusquAEtoiles)) return r;
          if (!traverse && t[j] == '/') return Issue::AbandonJusquAEtoiles;
        }
        return Issue::AbandonTout;
      }
      default:
        if (c != t[j]) return Issue::Non;
    }
  }
  return j == t.size() ? Issue::Oui : Issue::Non;
}

bool SansJoker(std::string_view s) { return s.find_first_of("*?[\\") == std::string_view::npos; }

}  // namespace

TMotifs TMotifs::Compiler(std::string_view texte, std::string base) {
  TMotifs resultat;
  resultat.base_ = std::move(base);
  if (texte.starts_with("\xEF\xBB\xBF")) texte.remove_prefix(3);
  while (!texte.empty()) {
    const size_t fin = texte.find('\n');
    std::string_view ligne = texte.substr(0, fin);
    texte.remove_prefix(fin == std::string_view::npos ? texte.size() : fin + 1);
    if (ligne.ends_with('\r')) ligne.remove_suffix(1);
    if (ligne.empty() || ligne[0] == '#') continue;
    // Trailing spaces go, except one escaped by "\" (and what precedes it).
    size_t garde = 0;
    for (size_t k = 0; k < ligne.size(); ++k) {
      if (ligne[k] == '\\') {
        ++k;
        garde = std::min(k + 1, ligne.size());
      } else if (ligne[k] != ' ') {
        garde = k + 1;
      }
    }
    ligne = ligne.substr(0, garde);
    Motif m;
    if (ligne.starts_with('!')) {
      m.negation = true;
      ligne.remove_prefix(1);
    }
    if (ligne.ends_with('/')) {
      m.repertoireSeul = true;
      ligne.remove_suffix(1);
    }
    m.ancre = ligne.find('/') != std::string_view::npos;
    if (ligne.starts_with('/')) ligne.remove_prefix(1);
    if (ligne.empty()) continue;  // matches no name
    m.texte = ligne;
    if (SansJoker(ligne)) {
      m.forme = Forme::Litteral;
      m.litteral = ligne;
    } else if (!m.ancre && ligne[0] == '*' && SansJoker(ligne.substr(1))) {
      m.forme = Forme::Suffixe;
      m.litteral = ligne.substr(1);
    } else {
      m.debut = ligne.substr(0, ligne.find_first_of("*?[\\"));
      const size_t dernier = ligne.find_last_of("*?[]\\");  // found: the line has a joker
      m.fin = ligne.substr(dernier + 1);
      // "**/" also matches with no directory at all: its "/" is not required.
      if (m.fin.starts_with('/') && dernier >= 1 && ligne.substr(dernier - 1, 2) == "**") {
        m.fin.erase(0, 1);
      }
    }
    resultat.motifs_.push_back(std::move(m));
  }
  return resultat;
}

bool TMotifs::Correspond(const Motif& m, std::string_view chemin, std::string_view nom) {
  const std::string_view cible = m.ancre ? chemin : nom;
  switch (m.forme) {
    case Forme::Litteral:
      return cible == m.litteral;
    case Forme::Suffixe:
      return cible.ends_with(m.litteral);
    case Forme::General:
      break;
  }
  if (!cible.starts_with(m.debut) || !cible.ends_with(m.fin)) return false;
  return Filtrer(m.texte, 0, cible, 0) == Issue::Oui;
}

Verdict TMotifs::Juger(std::string_view chemin, bool repertoire) const {
  const size_t barre = chemin.rfind('/');
  const std::string_view nom = barre == std::string_view::npos ? chemin : chemin.substr(barre + 1);
  for (auto it = motifs_.rbegin(); it != motifs_.rend(); ++it) {
    if (it->repertoireSeul && !repertoire) continue;
    if (Correspond(*it, chemin, nom)) return it->negation ? Verdict::Inclus : Verdict::Exclu;
  }
  return Verdict::Aucun;
}

Verdict TExclusions::Juger(std::string_view cheminRelatif, bool repertoire) const {
  for (auto it = pile_.rbegin(); it != pile_.rend(); ++it) {
    const std::string& base = it->Base();
    std::string_view relatif = cheminRelatif;
    if (!base.empty()) {
      if (!relatif.starts_with(base) || relatif.size() <= base.size() ||
          relatif[base.size()] != '/') {
        continue;
      }
      relatif.remove_prefix(base.size() + 1);
    }
    const Verdict v = it->Juger(relatif, repertoire);
    if (v != Verdict::Aucun) return v;
  }
  return Verdict::Aucun;
}

}  // namespace jumelix
