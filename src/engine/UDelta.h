// The synchronisation engine: compares or synchronises one source tree with one
// destination tree. Compare mode reports, synchronise mode acts; the source is only read.
// The walk runs on the caller's thread, which alone reports, counts and calls back, in
// the order of a one-thread walk; a few workers (engine/Ouvriers.h) list directories and
// write copies ahead of it, and flush full batches to disk. Failures never throw: each
// becomes a report line given to SurMessage, and the walk goes on with the next entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/Exclusions.h"

namespace jumelix {

namespace platform {
class TSystemeFichiers;
}

// Called once for every report line, in the order the lines arise, with the number of
// lines reported so far for this pair (1 for the first) and the system error behind the
// line (an errno value; 0 when it has none), for whoever has room to show that cause.
using TSurMessage = std::function<void(const std::string& texte, int nombre, int erreur)>;
// Called at the walk's check points; the caller refreshes its display, processes pending
// events and sets the flag to true to stop the walk at this check point.
using TSurAvancement = std::function<void(bool& abandon)>;

// One change of the destination: made, in synchronise mode, once it is on disk; to be
// made, in compare mode, as the walk finds it. Told in the order of the walk, each entry
// once (a directory deleted or created counts as one, whatever it holds; a created
// directory's content follows it one entry at a time). Changes of a directory's own
// time or mode once its content is done are not told.
enum class TypeAction : uint8_t { Creation, Remplacement, Attributs, Suppression };
struct TAction {
  TypeAction type = TypeAction::Creation;
  bool repertoire = false;
  std::string chemin;  // the destination entry
  int64_t octets = 0;  // a file created or replaced: its size
  // The entry's old version goes (or, in compare mode, would go) to the archive; `archive`
  // names where it went (in synchronise mode only).
  bool archivee = false;
  std::string archive;
  // A file created, replaced or given its attributes: its source's last-write time; a
  // file replaced whose destination is newer than its source (someone changed the mirror).
  int64_t secondes = 0;
  int32_t nanos = 0;
  bool cibleRecente = false;
  // The destination entry a change replaces, fixes or deletes, as it stands before the
  // change: its size (0 for a directory) and last-write time. Given to the listeners of a
  // comparison and to SurChoix, not to what a synchronisation tells once done.
  int64_t octetsCible = 0;
  int64_t secondesCible = 0;
};
using TSurAction = std::function<void(const TAction&)>;

// What a pair keeps less of than its source holds without that being a fault (a USB disk
// formatted for Windows holds no extended attributes, ACLs nor hard links): told once per
// pair, never as a report line, so that such a nightly run still ends without error.
enum class TypeRemarque : uint8_t {
  AttributsEtendusNonGardes,  // extended attributes or ACLs the destination cannot hold
  LiensDursNonGardes,         // names of one file copied apart: no hard link there
};
struct TRemarque {
  TypeRemarque type = TypeRemarque::AttributsEtendusNonGardes;
  std::string destination;  // the pair's destination directory
};
using TSurRemarque = std::function<void(const TRemarque&)>;

// In synchronise mode, asked before each change (the TAction it would tell, without its
// archive): Faire makes it; Laisser leaves the entry as it is, without a word (the user
// left it out of a previewed plan); Imprevu leaves it too, with a report line (the entry
// changed since the plan was made, and is never acted on blindly).
enum class TChoix : uint8_t { Faire, Laisser, Imprevu };
using TSurChoix = std::function<TChoix(const TAction&)>;

// What a run gives every walk to read: its settings and the listeners of its changes. Set
// by the run controller before the first pair; a walk never writes them.
struct TReglagesRun {
  // Days the destination's archive keeps what a synchronisation replaces or deletes
  // (engine/Archive.h); 0, the default here, deletes at once. The run controller sets it
  // from the settings. DebutRun (seconds since the epoch) names the run's archive folders;
  // 0: the start of each pair.
  int JoursArchive = 0;
  int64_t DebutRun = 0;
  // The global exclusion patterns, read once per run (ChargerExclusionsGlobales). When that
  // file exists but cannot be read, ErreurExclusions holds why (an errno, or platform::
  // kPasFichierOrdinaire) and no pair is walked.
  TMotifs ExclusionsGlobales;
  std::string FichierExclusions;
  int ErreurExclusions = 0;
  // Leave out every source directory tagged as a cache (a CACHEDIR.TAG file opening with
  // parcours::kSignatureCache) as an excluded one; the run controller sets it from the settings.
  bool IgnorerCaches = false;
  // The private directory where each pair's mark is kept (engine/MarqueAttributs.h), so
  // that later walks ask only the destination entries changed since for their extended
  // attributes; empty: no mark, every entry is asked. The run controller sets it from the
  // user's state.
  std::string Marques;
  // Told each change of the destinations (may be empty).
  TSurAction SurAction;
  // Asked before each change of a synchronisation (may be empty: every change is made).
  TSurChoix SurChoix;
  // Told what a pair keeps less of than its source holds, once per pair (may be empty).
  TSurRemarque SurRemarque;
  // The file-system seam the walks go through (platform/SystemeFichiers.h); null: the real
  // file system. Tests give one that fails on demand.
  platform::TSystemeFichiers* Systeme = nullptr;
};

// What the walks of a run report as they go: counters, only incremented by the walks and
// reset by the run controller at the start of a run, and the window's progress display.
struct TSuiviRun {
  int32_t NbCopies = 0;
  int32_t NbSupprimes = 0;
  int32_t NbIdentiques = 0;
  // For the window's progress display only, written by the walk: the source directory it
  // is in, and the bytes of the files copied so far.
  std::string RepertoireCourant;
  uint64_t OctetsCopies = 0;
};

// Run-wide state, owned by the run controller and handed to every walk of a run: what the
// walks read, what they report, and the stop. Abandon is reset at the start of every pair
// and set only through SurAvancement.
struct TEtatRun : TReglagesRun, TSuiviRun {
  bool Abandon = false;
};

// Test only: when set, called at each level of a walk once both sides are listed and
// before anything is changed or reported, with the destination directory's path.
extern void (*CrochetAvantAction)(const std::string& destination);

// Walks one pair and returns the number of report lines produced (0: identical in compare
// mode, done without error in synchronise mode). Either callback may be empty. The paths
// are "/"-separated, trimmed and without a trailing "/" (the root "/" excepted). Only the
// last component of a missing destination is created. Every change inside the destination
// goes through open directories, never through a link; a synchronised pair ends with its
// destination's file system written to disk.
// In synchronise mode the destination's archive folder (engine/Archive.h; made for the
// walk when missing, and removed at its end when it stayed empty) is locked (platform::
// TVerrouRepertoire) for the whole walk, once the destination exists, and the pair is not
// walked, with one report line, when another run holds that lock, or when the source root
// is empty while the destination root is not (an unmounted disk must not empty its copy).
// Entries the exclusion patterns leave out (the global ones, then each source directory's
// .jumelixignore) are neither walked nor reported, and kept as they are in the destination;
// a patterns file that cannot be read stops the pair where it is found, with one line.
// With Etat.IgnorerCaches, so is every source directory tagged as a cache, whose content
// is never listed.
int TraiterCouple(const std::string& source, const std::string& destination, bool ComparerSeulement,
                  const TSurMessage& SurMessage, const TSurAvancement& SurAvancement,
                  TEtatRun& Etat);

// The global exclusion patterns file: $XDG_CONFIG_HOME/jumelix/exclusions (by default
// ~/.config/jumelix/exclusions); empty when there is no settings directory.
std::string CheminExclusionsGlobales();

// Reads and compiles the file at `chemin` into Etat; an absent file (or an empty path)
// gives no pattern.
void ChargerExclusionsGlobales(const std::string& chemin, TReglagesRun& Etat);

// A walk with TraiterCouple's contract: what the run controller calls for each pair, so
// that tests can give it a scripted one.
using TParcoursCouple = std::function<int(
    const std::string& source, const std::string& destination, bool ComparerSeulement,
    const TSurMessage& SurMessage, const TSurAvancement& SurAvancement, TEtatRun& Etat)>;

}  // namespace jumelix
