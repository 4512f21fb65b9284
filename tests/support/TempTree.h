// A temporary directory tree for tests that need real files on disk. The root is created
// under $TMPDIR (or /tmp) by the constructor and removed with everything in it by the
// destructor, even where permissions were taken away and without following links.
// Helpers create directories (with parents), files with content, size and time, links
// and FIFOs, all by paths relative to the root. Failures abort the test (ADD_FAILURE).
#pragma once

#include <sys/types.h>
#include <time.h>

#include <string>
#include <vector>

namespace jumelix::test {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& Racine() const { return racine_; }
  // Absolute path of `rel` ("" gives the root).
  std::string Chemin(const std::string& rel) const;
  std::string operator/(const std::string& rel) const { return Chemin(rel); }

  // Each returns the absolute path of what it made; missing parents are created.
  std::string Repertoire(const std::string& rel);
  std::string Fichier(const std::string& rel, const std::string& contenu = "");
  // A file of `taille` bytes without data blocks (a sparse file).
  std::string FichierCreux(const std::string& rel, off_t taille);
  std::string Lien(const std::string& rel, const std::string& cible);
  std::string Fifo(const std::string& rel);

  // Sets the last-write time of `rel` itself (a link is not followed).
  void DateModif(const std::string& rel, time_t secondes, long nanosecondes = 0);

  // The content of a file (absolute path); empty when it cannot be read.
  static std::string Lire(const std::string& chemin);
  // True when something (a dangling link included) exists at the absolute path.
  static bool Existe(const std::string& chemin);
  // The sorted names in a directory (absolute path), "." and ".." left out.
  static std::vector<std::string> Noms(const std::string& chemin);
  // Seconds since the epoch of a local date and time.
  static time_t HeureLocale(int annee, int mois, int jour, int heure, int minute, int seconde);

 private:
  std::string racine_;
};

}  // namespace jumelix::test
