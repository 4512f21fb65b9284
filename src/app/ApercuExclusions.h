// What the exclusion patterns would leave out of one source, for the window that edits the
// global patterns file, and that file's reading and saving. The preview walks the source
// read-only, links never followed: a left-out directory counts as one entry and is not
// entered, and the walk stops after a given number of entries so that a huge source cannot
// hold the caller for long. Plain functions, any thread; nothing throws, failures come back
// as errno values or French texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jumelix {

class TGrilleLignes;

// How many entries the window's preview looks at before it stops.
inline constexpr uint64_t kLimiteApercu = 200000;

struct TApercu {
  uint64_t exclues = 0;  // entries left out (a directory, with all it holds: one)
  std::string premiere;  // the first of them, relative to the source (names in byte order)
  bool borne = false;    // the walk stopped at the limit: at least `exclues`
  int erreur = 0;        // errno of the source's opening; nothing else is filled then
  // The source's own pattern files the walk read, relative to the source, the root's first.
  std::vector<std::string> fichiersSource;
  // The first of them that exists but cannot be read, where a synchronisation would stop.
  std::string illisible;
};

// Walks `source` with the global patterns `motifsGlobaux` (the text of a patterns file)
// under the .jumelixignore files met on the way, as a synchronisation would, looking at
// no more than `limite` entries. A pattern file that cannot be read is named and passed
// over.
TApercu CompterExclusions(const std::string& source, std::string_view motifsGlobaux,
                          uint64_t limite);

// The source of the grid's current row, trimmed, "~/" expanded; "" on the titles' row or a
// blank cell.
std::string SourceLigneCourante(const TGrilleLignes& grille);

// The preview's sentence for the source `source` ("" when the grid's row has none).
std::string TexteApercu(const std::string& source, const TApercu& apercu);

// The content of the source root's .jumelixignore; empty when it has none or it cannot be
// read.
std::string LireMotifsSource(const std::string& source);

// What a source cell's tooltip adds when the source directory the cell names ("~/"
// expanded) holds patterns of its own (a .jumelixignore at its root): "" when it holds
// none, or for a blank or relative path. Looks the name up only, on the calling thread:
// cheap enough for a tooltip.
std::string NoteMotifsSource(const std::string& cellule);

// The global patterns file (engine/UDelta.h's CheminExclusionsGlobales).
std::string CheminFichierExclusions();
// Reads it into `texte` (an absent file: empty). "" or the French text of the failure.
std::string LireExclusionsGlobales(const std::string& chemin, std::string& texte);
// Writes it whole, in place of the old one only once complete, mode 0600, its directory
// created private when missing. "" or the French text of the failure.
std::string EnregistrerExclusionsGlobales(const std::string& chemin, std::string_view texte);

}  // namespace jumelix
