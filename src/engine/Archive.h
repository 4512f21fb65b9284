// The archive of one destination: what a synchronisation replaces or deletes there is moved,
// one rename each (never a copy), into <destination>/.jumelix-archive/<YYYY-MM-DD HHMMSS>/
// followed by its path relative to the destination, one folder per run and pair, created at
// the first entry it receives. One object per synchronised pair, owned by its walk, on the
// walk's thread. Failures are errno values; the walk turns them into its usual lines.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix {

// The name of the archive at the root of a destination: never walked, compared, reported
// nor deleted there, and never copied from a source root.
inline constexpr const char* kNomArchive = ".jumelix-archive";

// The time a folder name of the archive gives ("YYYY-MM-DD HHMMSS", local time, with an
// optional "-n" after it), or -1 for any other name (such a folder is never removed).
time_t DateDossierArchive(const std::string& nom);
// The folder name for the time `t` (local time).
std::string NomDossierArchive(time_t t);

class TArchive {
 public:
  // `jours`: retention in days, 0 switches the archive off. `debut`: the run's start, which
  // names this run's folder and against which ages are measured (0: now). Every operation
  // goes through `fs`, which must outlive the object.
  TArchive(platform::TSystemeFichiers& fs, int jours, int64_t debut);
  TArchive(const TArchive&) = delete;
  TArchive& operator=(const TArchive&) = delete;

  bool Actif() const { return jours_ > 0; }

  // At the start of a synchronised pair, the destination root `racine` (path `destination`)
  // open: removes the archive folders older than the retention, oldest first. Each folder
  // that cannot be removed is given to `echec` with its path.
  void Commencer(const platform::TRepertoire& racine, const std::string& destination,
                 const std::function<void(const std::string&)>& echec);

  // Moves the entry `nom` of `dir` into this run's folder, as the destination entry whose
  // path is `chemin`, adding to `nbFichiers` the non-directory entries moved (a directory
  // holding a mount point is not moved: EXDEV).
  int Archiver(const platform::TRepertoire& dir, const std::string& nom, const std::string& chemin,
               int32_t& nbFichiers);

  // Gives a written copy its final name; the entry it replaces, if any, goes to the archive
  // first (swapped out in one step where the file system can). `chemin` is the final
  // path. On failure the copy is dropped and the replaced entry is where it was.
  int Publier(const platform::TRepertoire& dir, const platform::CopieEnAttente& copie,
              const std::string& chemin);

  // A file system mounted inside the destination at `chemin`, open as `racine`: what is
  // archived under it goes to an archive folder at its own root.
  void AjouterMontage(const platform::TRepertoire& racine, const std::string& chemin);

  // Removes the oldest folder of the archive, this run's excepted: true when one went.
  bool LibererPlace();
  // Makes room on the file system of the destination entry `chemin`: its oldest archive
  // folder goes first; when only this run's is left, what this run archived is let go,
  // one entry at a time, each given to `perdu` with its destination path. True when
  // something went.
  bool LibererPlace(const std::string& chemin, const std::function<void(const std::string&)>& perdu);

 private:
  int OuvrirRacineArchive(bool creer);
  int OuvrirDossierRun();
  // Opens (creating it) the folder of the archive that mirrors the destination directory
  // of `relatif`, a path relative to the destination.
  int OuvrirParent(const std::string& relatif, platform::TRepertoire*& parent);
  int ArchiverUneFois(const platform::TRepertoire& dir, const std::string& nom,
                      const std::string& chemin, int32_t& nbFichiers);

  platform::TSystemeFichiers& fs_;
  const int jours_;
  const time_t debut_;
  std::string destination_;
  platform::TRepertoire racine_;   // the destination root
  platform::TRepertoire archive_;  // its .jumelix-archive, once opened
  platform::TRepertoire run_;      // this run's folder, once created
  std::string nomRun_;
  std::string relatifCourant_;  // what `courant_` mirrors
  platform::TRepertoire courant_;
};

}  // namespace jumelix
