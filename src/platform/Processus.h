// Runs another program to its end without a shell: its arguments as given, its own process
// group (so that a program that forks cannot outlive a time-out, nor, when asked, its own
// end), the given text on its standard input, its standard output kept in a wiped buffer
// (it may be a credential) and its standard error as text, both bounded. The caller's
// thread waits, calling `pendant` between polls so that a window can keep painting. Never
// throws except std::bad_alloc; every failure is in the result. Any thread; the child is
// always reaped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Secret.h"

namespace jumelix::platform {

struct TOptionsProcessus {
  std::string entree;        // written to the standard input, which is then closed
  uint32_t delaiMs = 10000;  // the whole run; past it the process group is killed
  // Polled between waits: true kills the process group at once (a stop asked by the user).
  std::function<bool()> arret;
  // Called between waits (at most every 20 ms), e.g. to pump the window system's events.
  std::function<void()> pendant;
  size_t maxSortie = 64 * 1024;  // bytes kept of each output; the rest is read and dropped
  // True: when the program ends by itself, whatever it left running in its process group is
  // killed too, before the program is reaped (so the group's id cannot have been reused).
  // Only a process that left the group (setsid, setpgid), as a daemon does, survives. False
  // for a program whose background child is normal work, as a mailer's delivery.
  bool terminerGroupe = false;
};

struct TResultatProcessus {
  int erreurLancement = 0;    // errno when the program could not be started (0: it ran)
  bool delaiDepasse = false;  // killed at the end of the delay
  bool arrete = false;        // killed because `arret` returned true
  int statut = -1;            // exit status when it exited by itself, else -1
  int signal = 0;             // the signal that ended it, if one did
  TSecret sortie;             // standard output
  std::string erreurs;        // standard error

  // It ran and exited with status 0.
  bool Reussi() const { return erreurLancement == 0 && !delaiDepasse && !arrete && statut == 0; }
};

// Runs argv[0] (searched in PATH when it holds no "/") with argv as its arguments.
TResultatProcessus ExecuterProcessus(const std::vector<std::string>& argv,
                                     const TOptionsProcessus& options);

// Splits a command line into arguments as a POSIX shell splits words, without any
// expansion: blanks separate, single quotes keep everything, double quotes keep
// everything but a backslash before " \ $ `, and a backslash outside quotes keeps the
// next character. False (with `erreur` in French) for an unterminated quote.
bool DecouperLigneCommande(const std::string& ligne, std::vector<std::string>& arguments,
                           std::string& erreur);

}  // namespace jumelix::platform
