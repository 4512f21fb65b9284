// Exclusion patterns with the syntax and meaning of .gitignore files. A TMotifs is one
// pattern file compiled once, bound to the directory it applies to (relative to the source
// root); a TExclusions is the stack of those files that apply where the walk stands, the
// global file at the bottom, the deepest .jumelixignore on top. Both are plain values,
// used by one thread; matching reads the compiled patterns only and allocates nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jumelix {

// The name of the pattern file the walk looks for in each source directory.
inline constexpr std::string_view kNomFichierExclusions = ".jumelixignore";

// What the patterns say of one entry: nothing, left out, or taken back by a "!" line.
enum class Verdict { Aucun, Exclu, Inclus };

class TMotifs {
 public:
  TMotifs() = default;

  // Compiles the text of a pattern file (UTF-8 or any bytes: names are matched byte for
  // byte) that applies to the directory `base` ("" for the source root, else "a/b").
  // Lines that cannot match anything (an unclosed "[", a trailing "\") are kept and never
  // match, as git does.
  static TMotifs Compiler(std::string_view texte, std::string base);

  const std::string& Base() const { return base_; }
  bool Vide() const { return motifs_.empty(); }

  // The verdict of the last line that matches `chemin`, a path relative to Base() (no
  // leading or trailing "/"); `repertoire` says whether it names a directory.
  Verdict Juger(std::string_view chemin, bool repertoire) const;

 private:
  enum class Forme : std::uint8_t {
    Litteral,  // no wildcard: compared as it is
    Suffixe,   // "*" followed by a literal ("*.swp"), on a name
    General,   // anything else
  };
  struct Motif {
    std::string texte;     // the pattern, "!", leading and trailing "/" taken off
    std::string litteral;  // Litteral: the name or path; Suffixe: the literal after "*"
    // General: the literal text every match begins and ends with, checked before the
    // pattern itself (most names fail there, at the price of two comparisons).
    std::string debut, fin;
    Forme forme = Forme::General;
    bool negation = false;
    bool repertoireSeul = false;  // written with a trailing "/"
    bool ancre = false;           // holds a "/": matched against the whole relative path
  };
  static bool Correspond(const Motif& m, std::string_view chemin, std::string_view nom);

  std::string base_;
  std::vector<Motif> motifs_;
};

class TExclusions {
 public:
  // Pushes the patterns of a directory the walk enters (or of the global file, first, with
  // base ""); each pushed file must apply to an ancestor of, or the same directory as, the
  // one pushed before it.
  void Empiler(TMotifs motifs) { pile_.push_back(std::move(motifs)); }
  void Depiler() { pile_.pop_back(); }
  bool Vide() const { return pile_.empty(); }
  size_t Taille() const { return pile_.size(); }

  // The deepest file with a matching line decides; within it, the last matching line.
  // `cheminRelatif` is relative to the source root and must lie below the base of every
  // file on the stack. Only the entry itself is judged: the walk never enters an excluded
  // directory, so what lies below one is left out without asking.
  Verdict Juger(std::string_view cheminRelatif, bool repertoire) const;
  bool Exclu(std::string_view cheminRelatif, bool repertoire) const {
    return Juger(cheminRelatif, repertoire) == Verdict::Exclu;
  }

 private:
  std::vector<TMotifs> pile_;
};

}  // namespace jumelix
