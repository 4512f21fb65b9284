// Advisory locks that keep two runs of the program off the same destination. A lock is an
// exclusive flock on a small file under the state directory, held by one TVerrouFichier
// for its life: the descriptor is close-on-exec, so the lock never outlives the process
// nor passes to a program it starts. Not thread-safe; failures come back as errno values.
#pragma once

#include <string>

namespace jumelix::platform {

class TVerrouFichier {
 public:
  TVerrouFichier() = default;
  ~TVerrouFichier() { Liberer(); }
  TVerrouFichier(const TVerrouFichier&) = delete;
  TVerrouFichier& operator=(const TVerrouFichier&) = delete;
  TVerrouFichier(TVerrouFichier&& autre) noexcept;
  TVerrouFichier& operator=(TVerrouFichier&& autre) noexcept;

  // Takes the lock on the file `chemin` without waiting, creating the file (mode 0600) and
  // its missing directories (mode 0700). Returns 0, EWOULDBLOCK when another holder has it
  // (another process, or another TVerrouFichier of this one), or the errno of the failure.
  // A lock already held by this object is released first.
  int Prendre(const std::string& chemin);
  bool Tenu() const { return fd_ >= 0; }
  // Removes the lock file and releases the lock; nothing when none is held.
  void Liberer();

 private:
  int fd_ = -1;
  std::string chemin_;
};

// The directory of the destination locks: $XDG_STATE_HOME/jumelix/verrous, or
// ~/.local/state/jumelix/verrous when XDG_STATE_HOME is unset, empty or relative (the home
// directory from HOME, else from the password database). Empty when there is no home.
std::string RepertoireVerrous();

// The rule above as a pure function of its inputs (nullptr for an unset variable).
std::string CalculerRepertoireVerrous(const char* xdg_state_home, const char* home);

// The lock file of a destination directory: RepertoireVerrous() + "/" + a name derived from
// the destination's real path (links resolved as far as it exists), so that two spellings
// of one directory share a lock. Empty when the state directory is unknown.
std::string CheminVerrouDestination(const std::string& destination);

}  // namespace jumelix::platform
