// The OAuth 2 access token of the report mail, printed by a command the user configures
// (a script that refreshes a token for the provider): the command runs without a shell,
// at most kDelaiJetonMs, and the first line of its standard output is the token; whatever
// it leaves running in its process group ends with it. The token stays in a wiped buffer;
// it is never logged nor written anywhere. GUI thread (the window keeps painting through
// the mail wait's event pump); failures are French texts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Secret.h"

namespace jumelix {

inline constexpr uint32_t kDelaiJetonMs = 10000;

// Runs `commande` and puts the token into `jeton`. Returns the empty text on success, else
// the error to show ("Commande du jeton d'accès : ..."). `arret`, when set and true,
// stops the command at once. `delaiMs` is for the tests.
std::string ObtenirJetonAcces(const std::string& commande, TSecret& jeton,
                              const std::function<bool()>& arret = {},
                              uint32_t delaiMs = kDelaiJetonMs);

// The standard error of a helper program as one short line for an error text: blanks
// and line breaks folded, cut to 300 characters; empty when it said nothing.
std::string ResumeErreurs(const std::string& erreurs);

// The first line of a helper program's standard error that is not blank, as ResumeErreurs
// gives it. For the token command: what follows that line (a provider's whole answer, a
// trace) would bury the reason, and may hold secrets that must not reach the log.
std::string PremiereLigneErreurs(const std::string& erreurs);

// Pumps the window system's events once (no-op without windows), input discarded: for
// the waits on another program.
void PomperEvenementsUneFois();

}  // namespace jumelix
