// What the window remembers between sessions and that belongs to neither a list file nor
// the mail settings: the recently used list files. They live in the state directory
// ($XDG_STATE_HOME/jumelix, as the log does), one path a line, most recent first. A file
// that cannot be read is an empty history; a failed write loses the history silently (it
// never stops the program). GUI thread only.
#pragma once

#include <string>
#include <vector>

namespace jumelix {

// $XDG_STATE_HOME/jumelix (or ~/.local/state/jumelix); empty without a home directory, or
// when that directory belongs to another user or others may write it.
std::string RepertoireEtat();
// Creates it when missing, private to the user (it holds the log and locks too); false
// when it cannot be made.
bool CreerRepertoireEtat();

// A path typed or read as "~" or "~/..." with the home directory put in its place; any
// other text unchanged ("~user" included: not ours to guess).
std::string DevelopperTilde(const std::string& chemin, const std::string& maison);

class TListesRecentes {
 public:
  static constexpr size_t kNbMax = 8;

  // `fichier` holds the history; the empty path keeps it in memory only.
  explicit TListesRecentes(std::string fichier);

  const std::vector<std::string>& Chemins() const { return chemins_; }
  // `chemin` becomes the first one (absolute, at most once, kNbMax kept), and the file is
  // written again.
  void Ajouter(const std::string& chemin);
  void Retirer(const std::string& chemin);

 private:
  void Ecrire() const;

  std::string fichier_;
  std::vector<std::string> chemins_;
};

}  // namespace jumelix
