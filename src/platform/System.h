// Process-level services of the system: error texts, host name, monotonic tick count and
// the locale's date and time. Stateless free functions, safe to call from any thread;
// none of them throws, failures are reported through their return values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace jumelix::platform {

// The system's text for errno value `err` in the user's language (LC_MESSAGES), or the
// empty text when the system has none for it.
std::string SystemErrorText(int err);
// The symbolic name of errno value `err` ("EACCES"), the same in every language; empty
// when the system knows none.
std::string SystemErrorName(int err);

// The node name of this machine; false (and `name` untouched) when it cannot be read.
bool HostName(std::string& name);

// Milliseconds of CLOCK_MONOTONIC, wrapping at 2^32 like a 32-bit tick count.
uint32_t TickCount();

// This kernel's clock as it stamps the file systems' change times (CLOCK_REALTIME_COARSE),
// with what tells, later, that it was set back since: the boot it belongs to and its gap to
// the time since that boot.
struct InstantNoyau {
  int64_t Secondes = 0;
  int64_t Ecart = 0;       // CLOCK_REALTIME minus CLOCK_BOOTTIME, in seconds
  std::string Demarrage;   // /proc/sys/kernel/random/boot_id; empty when unknown
};
InstantNoyau MaintenantNoyau();

// The current local date and time as the locale writes them: "%x %X" (LC_TIME).
std::string LocalDateTimeText();

// Whether descriptor `fd` is a terminal, and its width in columns (0 when unknown).
bool EstTerminal(int fd);
int LargeurTerminal(int fd);

// `secondes` since the epoch as a local ISO 8601 date and time with its offset:
// "2024-05-01T22:30:05+02:00".
std::string DateIso8601(int64_t secondes);

// The user's home directory: $HOME when it is absolute, else the password database (cron
// and systemd may start us without HOME); empty when neither gives an absolute path.
std::string RepertoirePersonnel();

// An XDG base directory: `xdg` when it is an absolute path, else `home` + "/" +
// `defaut_sous_home` (".config", ".local/state"), without trailing slashes, so that the
// root comes back as the empty text and callers append "/jumelix". Nothing when neither
// is absolute. Pure text: the caller passes the environment, so tests can give any value.
std::optional<std::string> CalculerRepertoireXdg(const char* xdg, const char* home,
                                                 const char* defaut_sous_home);

// The same for this process: the variable `variable` and RepertoirePersonnel().
std::optional<std::string> RepertoireXdg(const char* variable, const char* defaut_sous_home);

// Creates every missing directory of the absolute path `chemin`, private to the user
// (mode 0700: the state and settings directories hold logs, locks and a password).
// Returns 0 or the errno of the failure.
int CreerRepertoiresPrives(const std::string& chemin);

// The absolute path of the running program (/proc/self/exe); empty when it cannot be read.
std::string CheminExecutable();

// Deletes the file `chemin` (a link itself, never its target); 0 when it is gone, also when
// it was not there, else the errno of the failure.
int SupprimerFichierChemin(const std::string& chemin);
// Deletes the directory `chemin` when it is empty; 0 when it is gone (or was not there),
// ENOTEMPTY when something else lives in it, else the errno of the failure.
int SupprimerRepertoireVide(const std::string& chemin);

}  // namespace jumelix::platform
