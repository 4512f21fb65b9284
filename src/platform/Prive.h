// Settings, state and log that another user of the machine could have written are never
// used, as ssh's StrictModes refuses a key file: a root run started with another user's
// HOME (sudo keeps it) or XDG directories under /tmp must not run that user's mail
// program, take that user's exclusions, or append its log through that user's link. A
// private entry belongs to the effective user and neither its group nor others may write
// it. Stateless functions, any thread; nothing throws.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace jumelix::platform {

// The failure of a check: not private (TRefusPrive tells what was found).
constexpr int kNonPrive = -4;

// What made an entry fail the check.
struct TRefusPrive {
  std::string chemin;  // the directory or file refused
  uint32_t uid = 0;    // its owner
  uint32_t mode = 0;   // its permission bits
  bool repertoire = false;
};

// True for an entry the effective user owns and that neither its group nor others may write.
bool EstPrive(const struct stat& st);

// Checks the directory or file `chemin` (links followed: what they lead to is what is
// checked). 0: private; ENOENT: absent; kNonPrive with `refus` filled; else an errno.
int ControlerPrive(const std::string& chemin, TRefusPrive& refus);

// Reads the whole regular file `chemin` once its directory and itself are checked private
// through the descriptors then read, so that no rename between the check and the reading
// can slip another user's file in. The codes of ControlerPrive; kPasFichierOrdinaire
// (platform/FileSystem.h) for anything but a regular file, which is never opened.
int LireFichierPrive(const std::string& chemin, std::string& contenu, TRefusPrive& refus);

// Opens the log `chemin` for appending (created 0600 when absent), never through a link,
// in a directory that must be private, and checked to be a regular file of the effective
// user. Returns the descriptor (to close), or -1 with `err` set: an errno, ELOOP for a
// link, kPasFichierOrdinaire, or kNonPrive with `refus` filled.
int OuvrirJournalPrive(const std::string& chemin, int& err, TRefusPrive& refus);

}  // namespace jumelix::platform
