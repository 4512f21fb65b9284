// The archive of one destination: what a synchronisation replaces or deletes there is moved,
// one rename each (never a copy), into <destination>/.jumelix-archive/<YYYY-MM-DD HHMMSS>/
// followed by its path relative to the destination, one folder per run and pair, created at
// the first entry it receives. Under a file system mounted inside the destination, the same
// happens at that mount's root. On a full disk the archive yields to the mirror. One object
// per synchronised pair, owned by its walk, on the walk's thread. Failures are errno values;
// the walk turns them into its usual lines.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <queue>
#include <string>
#include <vector>

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
  // that cannot be removed, there or later in the archive of a mount (AjouterMontage), is
  // given to `echec` with its path; `echec` is kept for the pair. `neuve`: the root's
  // archive folder was made just now (it holds nothing to remove).
  void Commencer(const platform::TRepertoire& racine, const std::string& destination,
                 const std::function<void(const std::string&)>& echec, bool neuve = false);

  // Moves the entry `nom` of `dir` into this run's folder, as the destination entry whose
  // path is `chemin`, adding to `nbFichiers` the non-directory entries moved (a directory
  // holding a mount point is not moved: EXDEV). On a full disk (ENOSPC, EDQUOT) the oldest
  // folders of that archive give way first.
  int Archiver(const platform::TRepertoire& dir, const std::string& nom, const std::string& chemin,
               int32_t& nbFichiers);

  // Gives a written copy its final name; the entry it replaces, if any, goes to the archive
  // under its own path: at every instant the old version is either at its place or there.
  // `chemin` is the final path. On failure the replaced entry is where it was and the copy
  // is dropped, except on ENOSPC or EDQUOT while the archive was making room: the copy is
  // then kept, for the caller to try again once room is made (LibererPlace), or to drop.
  int Publier(const platform::TRepertoire& dir, const platform::CopieEnAttente& copie,
              const std::string& chemin);

  // Publier for a copy whose final name held nothing when the walk listed it, callable on a
  // worker (it changes nothing of the archive): the copy takes its name when that name still
  // holds nothing, or at once when the archive is off; kAArchiver, the copy kept, when an
  // entry has come there since (Publier, on the walk's thread, then keeps that entry).
  static constexpr int kAArchiver = -1;
  int PublierNeuve(const platform::TRepertoire& dir, const platform::CopieEnAttente& copie) const;

  // Where the last Archiver or Publier put the old version it kept ("" when it kept none).
  const std::string& DernierArchive() const { return dernier_; }
  // A copy published by PublierNeuve: no old version kept.
  void SansArchive() { dernier_.clear(); }

  // A file system mounted inside the destination at `chemin`, open as `racine`: what is
  // archived under it goes to an archive folder at its own root (folders past the retention
  // there go now). One that is not a directory of ours refuses what would go into it.
  void AjouterMontage(const platform::TRepertoire& racine, const std::string& chemin);

  // Makes room on the file system of the destination entry `chemin`: the oldest folder of
  // its archives goes first; when only this run's are left, what this run archived there is
  // let go, one entry at a time, the largest first, each given to `perdu` with its
  // destination path. False when nothing is left to let go.
  bool LibererPlace(const std::string& chemin, const std::function<void(const std::string&)>& perdu);

 private:
  // An entry this run archived: its path relative to its zone's root, and its size.
  struct Trace {
    int64_t octets;
    std::string relatif;
    bool operator<(const Trace& autre) const { return octets < autre.octets; }
  };
  // The part of the archive on one mount: the destination's own (first) or that of a file
  // system mounted inside it, each in its own root's .jumelix-archive.
  struct Zone {
    std::string chemin;  // its root's path
    uint64_t peripherique = 0;
    platform::TRepertoire racine;
    platform::TRepertoire archive;  // its .jumelix-archive, once opened
    platform::TRepertoire run;      // this run's folder, once created
    std::string nomRun;
    std::string relatifCourant;  // what `courant` mirrors
    platform::TRepertoire courant;
    std::priority_queue<Trace> traces;  // the largest on top
  };

  // The zone of the destination entry `chemin` (the longest root holding it) and its path
  // relative to that root; npos when it lies outside the destination.
  size_t Situer(const std::string& chemin, std::string& relatif) const;
  // Whether zone `i` shares the file system of zone `z`.
  bool MemeDisque(size_t i, size_t z) const;
  void Elaguer(Zone& z);
  int OuvrirRacineArchive(Zone& z, bool creer);
  int OuvrirDossierRun(Zone& z);
  // Opens (creating it) the folder of the zone's run folder that mirrors the directory
  // `dossier`, a path relative to the zone's root.
  int OuvrirParent(Zone& z, const std::string& dossier, platform::TRepertoire*& parent);
  // Opens as `rep` the folder `dossier` (a relative path) under `depuis`, each missing
  // folder on the way created when `creer`.
  int Descendre(const platform::TRepertoire& depuis, const std::string& dossier, bool creer,
                platform::TRepertoire& rep);
  int ArchiverUneFois(size_t z, const std::string& relatif, const platform::TRepertoire& dir,
                      const std::string& nom, int32_t& nbFichiers);
  // Removes the oldest folder of the archives on the file system of zone `z`, this run's
  // excepted: true when one went.
  bool LibererDossier(size_t z);
  // Lets go of the largest entry this run archived on that file system: true when one went.
  bool LibererTrace(size_t z, const std::function<void(const std::string&)>& perdu);

  platform::TSystemeFichiers& fs_;
  const int jours_;
  const time_t debut_;
  std::function<void(const std::string&)> echec_;
  std::vector<Zone> zones_;
  std::string dernier_;
};

}  // namespace jumelix
