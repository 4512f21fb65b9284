// A directory listed by the workers (TOuvriers): its names read in one request, then its
// entries described in slices, several at a time, so that a cold disk has many requests
// to serve and a warm cache spreads over the cores. Made, waited for and destroyed by one
// thread (the walk's); a listing or slice that throws fails the listing with that errno,
// as a directory that cannot be read does.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/Ouvriers.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix {

class TListage {
 public:
  struct Resultat {
    platform::TRepertoire rep;  // the directory listed (open while the result is kept)
    int errOuverture = 0;       // also when the listing threw before the directory was open
    // The first failure in file-system order; the entries before it stay. A listing that
    // threw once the directory was open keeps none.
    int errListe = 0;
    std::vector<platform::EntreeRepertoire> entrees;  // "." and ".." included
  };

  // Lists the subdirectory `nom` of `parent`, opened by the task, never through a link.
  // `parent` must stay open until this object is destroyed.
  TListage(TOuvriers& ouvriers, platform::TSystemeFichiers& fs, const platform::TRepertoire& parent,
           std::string nom);
  // Lists the open directory `rep` (through a second descriptor), on the thread that
  // waits for it; only the descriptions of a large directory go to the workers.
  TListage(TOuvriers& ouvriers, platform::TSystemeFichiers& fs, const platform::TRepertoire& rep);
  // Cancels what has not started and waits for what runs.
  ~TListage();
  TListage(const TListage&) = delete;
  TListage& operator=(const TListage&) = delete;

  // Waits for the listing (running it here when no worker has taken it yet).
  Resultat& Attendre();

 private:
  void Lister();
  void Decrire(size_t debut, size_t fin);

  TOuvriers& ouvriers_;
  platform::TSystemeFichiers& fs_;
  const int parent_ = -1;
  const std::string nom_;
  Resultat res_;
  std::vector<std::string> noms_;
  std::vector<int> erreurs_;   // per entry: 0, ENOENT (gone: skipped) or the failure
  std::vector<size_t> ordre_;  // the entries by inode number, the order they are described in
  std::vector<PTache> tranches_;
  PTache tache_;
  bool attendu_ = false;
};


}  // namespace jumelix
