// The log file of service mode. Each call appends one line, "texte" + " " + the local date
// and time, with a single write on a descriptor opened in append mode and closed at once,
// so that concurrent runs never interleave inside a line. A failure loses the line: logging
// never stops a run. The log is never opened through a link, nor in a directory or as a
// file that another user owns (or, for the directory, may write): such a log is not
// written, and the first line lost that way says so on standard error. Single-threaded
// (the path is computed once).
#pragma once

#include <string>

#include "platform/Prive.h"

namespace jumelix {

// Sets the program name the log file is named after (main passes argv[0]; only the part
// after the last "/" is kept). Must come before the first Journaliser; "jumelix" otherwise.
void DefinirNomProgramme(const std::string& argv0);
// That name, which also starts the program's messages on standard error.
const std::string& NomProgramme();

// $XDG_STATE_HOME/jumelix/<program name>.log, or ~/.local/state/jumelix/<program name>.log
// when XDG_STATE_HOME is unset, empty or relative. Computed at the first call and kept for
// the life of the process; empty when no home directory can be found.
const std::string& CheminJournal();

// The log of the runs started from the window: beside CheminJournal(), named
// <program name>-fenetre.log.
std::string CheminJournalFenetre();

// The rule above as a pure function of its inputs (nullptr for an unset variable).
std::string CalculerCheminJournal(const std::string& nom_programme, const char* xdg_state_home,
                                  const char* home);

// Appends texte + " " + date and time + line end to CheminJournal(), creating the file and
// its directory when missing. Control characters of texte are escaped (EchapperControles),
// except one final line end, kept so that the date of the counters line stands alone.
void Journaliser(const std::string& texte);

// The same for a given path; returns 0 or the errno of the failure (for the tests), ELOOP
// for a link, platform::kPasFichierOrdinaire or platform::kNonPrive (`refus` then says what
// was refused).
int JournaliserDans(const std::string& chemin, const std::string& texte,
                    platform::TRefusPrive* refus = nullptr);

// The line standard error gets for a log refused with `err` (one of the three codes above;
// "" for another failure).
std::string TexteJournalRefuse(const std::string& chemin, int err,
                               const platform::TRefusPrive& refus);

}  // namespace jumelix
