// The file-system services of the synchronisation walk, on Linux. Everything inside a tree
// goes through an open directory (TRepertoire): entries are named relative to it, a link is
// never followed (O_NOFOLLOW, AT_SYMLINK_NOFOLLOW), so a directory swapped for a link while
// the walk runs cannot send a read, a write or a deletion elsewhere. Copies are written to
// a temporary entry and renamed over their destination only once complete. None of these
// functions throws: each returns 0 or the errno of the failure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace jumelix::platform {

// Attribute bits as the walk knows them.
constexpr int32_t kAttrLectureSeule = 1;  // the owner has no write permission
constexpr int32_t kAttrCache = 2;         // the name begins with "."
constexpr int32_t kAttrRepertoire = 16;   // a real directory, never a link to one

// What an entry is. A link is an entry of its own kind, never followed; "special" covers
// FIFOs, sockets and devices, which are never opened.
enum class GenreEntree { Fichier, Repertoire, Lien, Special };

// One directory entry as lstat describes it.
struct EntreeRepertoire {
  std::string Nom;
  GenreEntree Genre = GenreEntree::Fichier;
  int32_t Attr = 0;
  int64_t Taille = 0;    // the full size (a link: the length of its target)
  int64_t Secondes = 0;  // last-write time, seconds since the epoch (UTC)
  int32_t Nanos = 0;
  uint32_t Mode = 0;  // type and permission bits (st_mode)
  uint32_t Uid = 0, Gid = 0;
  uint64_t Rdev = 0;  // device number of a device file
  uint64_t Inode = 0;  // its inode number, so that what is changed later is what was listed
  // A file (not a directory) with more than one name: a hard link group.
  bool PlusieursNoms = false;
  // A file or directory holding extended attributes the mirror keeps (platform/
  // AttributsEtendus.h); only listings ask (DecrireEntree).
  bool AttributsEtendus = false;
};

// What EntreeRepertoire holds but the name, packed in 40 bytes for the listings of large
// directories (engine/ListeEntrees.h keeps one per entry). Genre and Attr follow from the
// mode and the name; a device keeps its number where the others keep their size (lstat
// gives a device the size 0). Nanoseconds need 30 bits: the two flags take the other two.
struct DescriptionEntree {
  int64_t TailleOuPeripherique = 0;
  int64_t Secondes = 0;
  uint32_t Nanos : 30 = 0;
  uint32_t PlusieursNoms : 1 = 0;
  uint32_t AttributsEtendus : 1 = 0;
  uint32_t Mode = 0;
  uint32_t Uid = 0, Gid = 0;
  uint64_t Inode = 0;
};

// The start of the last run that left a destination holding no extended attribute, in this
// kernel's clock (engine/MarqueAttributs.h): an entry of its device whose metadata has not
// changed since (st_ctime before `Secondes`: setting or removing an attribute or an ACL
// changes it) still holds none; it is not asked.
struct SeuilAttributs {
  uint64_t Peripherique = 0;
  int64_t Secondes = 0;
  bool Ancien(uint64_t peripherique, int64_t secondesChangement) const {
    return secondesChangement < Secondes && peripherique == Peripherique;
  }
};

// What names a directory's file system from one run to the next, and whether its times come
// from this kernel's clock.
struct IdentiteRepertoire {
  uint64_t SystemeFichiers = 0;  // statfs's f_fsid
  uint64_t Peripherique = 0, Inode = 0;
  int64_t SecondesChangement = 0;  // the directory's own st_ctime
  int32_t NanosChangement = 0;
  // A file system of this kernel (ext2/3/4, XFS, Btrfs, tmpfs, F2FS): its change times come
  // from this machine's clock, never from a server's.
  bool HorlogeLocale = false;
};

// Gives every field of `e` but Nom the values of the description `d` of the entry `nom`:
// what DecrireEntree would have given.
void Deplier(const DescriptionEntree& d, std::string_view nom, EntreeRepertoire& e);

// What the file system of a directory can hold, as the walk needs to know it.
struct ProprietesRepertoire {
  bool ReplieCasse = false;      // "a.txt" and "A.TXT" name one entry
  bool NomsWindows = false;      // read by Windows: reserved device names, no modes/owners
  bool DeuxSecondes = false;     // last-write times kept to 2 seconds only
  bool ReplieIncertain = false;  // a FUSE file system: only a probe can tell about case
  // ext4 and f2fs fold case per directory (a flag of each); on any other file system, what
  // one directory showed holds for every directory of its device.
  bool ParRepertoire = false;
  bool SansAttributsEtendus = false;  // holds no extended attributes (vfat, exFAT, ...)
};

// An open directory (a descriptor opened O_DIRECTORY); owns it, closes it at destruction.
// Movable, not copyable.
class TRepertoire {
 public:
  TRepertoire() = default;
  ~TRepertoire();
  TRepertoire(TRepertoire&& autre) noexcept;
  TRepertoire& operator=(TRepertoire&& autre) noexcept;
  TRepertoire(const TRepertoire&) = delete;
  TRepertoire& operator=(const TRepertoire&) = delete;

  // Opens a directory the user named: a final link is followed.
  int OuvrirChemin(const std::string& chemin);
  // Opens the subdirectory `nom` of `parent`, never through a link.
  int OuvrirSous(const TRepertoire& parent, const std::string& nom);
  // The same, under the directory open as `parentFd` (a descriptor another object owns).
  int OuvrirSous(int parentFd, const std::string& nom);
  bool Ouvert() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Fermer();
  // Opens this object on the directory `autre` has open (a second descriptor).
  int Dupliquer(const TRepertoire& autre);
  // The device number of the file system holding the directory (0 when unknown).
  uint64_t Peripherique() const;

  // Lists the directory in file-system order, "." and ".." included, handing each entry to
  // `surEntree` as it is read (the object is reused). An entry gone since it was read is
  // skipped; one that cannot be described fails the listing. 0, or the errno of the first
  // failure with the entries read before it handed over.
  int Lister(const std::function<void(EntreeRepertoire&)>& surEntree) const;
  // The two halves of Lister, for a listing whose entries are described in slices by
  // several threads: the names in file-system order ("." and ".." included), then each
  // entry described on its own (ENOENT: gone since it was read, to be skipped). `surNom`
  // receives each name as it is read, with its inode number (described in that order, a
  // cold disk reads its inode table forwards); it returns false to stop the reading there,
  // and LireNoms then returns ECANCELED.
  int LireNoms(const std::function<bool(std::string_view nom, uint64_t inode)>& surNom) const;
  int DecrireEntree(const std::string& nom, EntreeRepertoire& e) const;
  // `seuil` (may be null): a file or directory it calls old is not asked for its
  // extended attributes.
  int DecrireEntree(const char* nom, DescriptionEntree& d,
                    const SeuilAttributs* seuil = nullptr) const;
  // The directory's device and inode numbers (0 and 0 when it cannot be described): two
  // descriptors with the same identity are open on the same directory.
  std::pair<uint64_t, uint64_t> Identite() const;
  // True when we may create and delete entries in the directory as it stands.
  bool Inscriptible() const;
  // Describes the directory itself (AttributsEtendus is not asked here).
  int Decrire(EntreeRepertoire& e) const;
  int Identifier(IdentiteRepertoire& id) const;
  // The target text of the link `nom`.
  int LireLien(const std::string& nom, std::string& cible) const;
  // The whole content of the regular file `nom`, never through a link; a link, a
  // directory or a special file (never opened) gives kPasFichierOrdinaire.
  int LireFichier(const std::string& nom, std::string& contenu) const;
  // The first `n` bytes of the regular file `nom` (all of it when shorter), as LireFichier.
  int LireDebut(const std::string& nom, size_t n, std::string& debut) const;
  ProprietesRepertoire Proprietes() const;
  // True when `nom` names an entry (a link itself counts). Looking up a listed name with
  // its letter case changed tells whether the directory folds case (inode numbers cannot:
  // a FUSE file system may give each spelling its own).
  bool ExisteEntree(const std::string& nom) const;
  // Creates a temporary file and looks it up with its letter case inverted: 1 when the
  // directory folds case, 0 when it does not, -1 when nothing can be created there.
  int SonderCasse() const;

 private:
  int fd_ = -1;
};

// Creates the directory `nom` in `parent` with the mode 0700 (the walk gives it its final
// mode once its contents are done). When the parent forbids it and belongs to us, it is
// made writable for this operation only.
int CreerRepertoire(const TRepertoire& parent, const std::string& nom);

// Deletes the non-directory entry `nom` (a link itself, never its target), with the
// parent made writable for the operation only when needed and ours.
int SupprimerFichier(const TRepertoire& parent, const std::string& nom);

// Deletes the directory `nom` of `parent` and everything in it, adding 1 to `nbFichiers`
// for each non-directory entry deleted. Holds at most three descriptors whatever the
// depth. Links are deleted, never followed; a directory on another file system (or a
// mount root) is never entered: EXDEV. An entry that is no longer a directory is deleted
// as a file. Stops at the first subdirectory that cannot be deleted; what was deleted
// before stays deleted. 0 or the errno of the failure.
int SupprimerArborescence(const TRepertoire& parent, const std::string& nom, int32_t& nbFichiers);

// Renames `ancien` to `nouveau` inside one directory (a case-only rename included).
int Renommer(const TRepertoire& dir, const std::string& ancien, const std::string& nouveau);

// Moves the entry `nom` of `de` to `nouveau` in `vers` with one rename (both on one file
// system, else EXDEV), never over an existing entry (EEXIST). A directory keeps its mode
// and times: it is given the owner's write right for the move only (its ".." changes).
// The parent is made writable for the operation only when needed and ours.
int Deplacer(const TRepertoire& de, const std::string& nom, const TRepertoire& vers,
             const std::string& nouveau);
// Gives the non-directory entry `nom` of `de` one more name, `nouveau` in `vers` (a hard
// link: a link entry itself, never its target), never over an existing entry (EEXIST).
// EXDEV across mounts; EPERM, EOPNOTSUPP or EMLINK where the file system or the entry
// cannot have another name.
int Lier(const TRepertoire& de, const std::string& nom, const TRepertoire& vers,
         const std::string& nouveau);
// Reads the tree of the directory `nom` of `parent`, links never followed, and adds to
// `nbFichiers` its non-directory entries and to `*octets` (when given) their sizes. EXDEV
// when a directory of it lies on another file system or is a mount root (it must then not
// move as a whole). A directory of ours that refuses us reading or searching gets those
// rights while it is read and its own mode back after; nothing else changes. Holds at most
// three descriptors whatever the depth, going back up through ".." checked by device and
// inode. 0 or the errno of the first failure.
int ExaminerArborescence(const TRepertoire& parent, const std::string& nom, int32_t& nbFichiers,
                         int64_t* octets = nullptr);

// The source entry of a copy changed while it was being copied: the copy was dropped.
constexpr int kModifiePendantCopie = -2;
// The entry is a special file the file system or our rights do not allow to create.
constexpr int kPasFichierOrdinaire = -1;

// How copies and fixes in place treat ownership and modes.
struct OptionsCopie {
  bool GarderDroits = true;     // false: a file system read by Windows: no mode, owner, link
                                // nor special file (kPasFichierOrdinaire)
  bool SynchroDonnees = false;  // fdatasync each file before it takes its final name
  bool AttributsEtendus = true;  // a file's kept extended attributes and ACLs are copied
};

// A copy written under a temporary name, waiting for its final name.
struct CopieEnAttente {
  std::string Temporaire;
  std::string Nom;
  // The destination's file system refused some extended attribute of the source.
  bool AttributsNonGardes = false;
};

// Writes a copy of the entry `nomSource` of `source` (a regular file, a link, a FIFO, a
// socket or a device) into `cible` under a fresh temporary name, with the source's mode,
// nanosecond times, a regular file's kept extended attributes and ACLs (platform/
// AttributsEtendus.h; those the destination cannot hold are skipped and said in
// `attente.AttributsNonGardes`) and, as root, owner and group; set-user-ID and set-group-ID
// bits are dropped when the owner (or group) is not kept. The open source is described again after
// its data is copied: a change meanwhile drops the temporary entry (kModifiePendantCopie).
// On success `attente.Temporaire` names the entry to Publier or Abandonner.
int EcrireCopie(const TRepertoire& source, const std::string& nomSource, const TRepertoire& cible,
                const OptionsCopie& options, CopieEnAttente& attente);
// Gives a written copy its final name, replacing an existing non-directory entry.
int Publier(const TRepertoire& cible, const CopieEnAttente& attente);
// Removes a written copy that will not be published.
void Abandonner(const TRepertoire& cible, const CopieEnAttente& attente);
// Gives the regular file `nom` of `de`, checked to be the inode `inode` (else
// kModifiePendantCopie, and nothing stays), one more name in `vers`: a fresh temporary name,
// set in `attente.Temporaire`, to Publier or Abandonner as a copy (a hard link: no data is
// written). EXDEV, EPERM, EOPNOTSUPP or EMLINK where the file system or the file cannot have
// another name.
int LierCopie(const TRepertoire& de, const std::string& nom, uint64_t inode,
              const TRepertoire& vers, CopieEnAttente& attente);

// The mode a copy of an entry of mode `mode` gets, given whether its owner and group
// could be kept: the set-ID bits go with the owner or group they refer to.
uint32_t ModeAttendu(uint32_t mode, bool memeProprietaire, bool memeGroupe);

// Gives the existing entry `nom` of `dir` the mode and, as root, the owner of `source`
// (a link gets its owner and last-write time, never a mode). Nothing is followed, and the
// change goes through a descriptor of the entry, made only once that entry is checked to
// be the one listed as `actuelle` (same device as `dir`, same inode, same kind): a name
// swapped since the listing (for a hard link to a file elsewhere) gives kModifiePendantCopie
// and changes nothing.
int AppliquerAttributs(const TRepertoire& dir, const std::string& nom,
                       const EntreeRepertoire& source, const EntreeRepertoire& actuelle,
                       const OptionsCopie& options);
// Gives the existing file or directory `nom` of `dir`, checked as AppliquerAttributs checks
// it (an empty `nom`: `dir` itself, unchecked), exactly the kept extended attributes
// `voulus` (platform/AttributsEtendus.h), through a descriptor of the entry. Names its file
// system refuses are skipped and set `nonGardes`.
int AppliquerAttributsEtendus(const TRepertoire& dir, const std::string& nom,
                              const std::vector<std::pair<std::string, std::string>>& voulus,
                              const EntreeRepertoire& actuelle, bool& nonGardes);
// Gives the directory `dir` the mode, owner (as root) and last-write time of `source`.
int AppliquerAttributsRepertoire(const TRepertoire& dir, const EntreeRepertoire& source,
                                 const OptionsCopie& options);
// True when the destination time `d`.`dn` is the source time `s`.`sn` as a file system of
// coarser precision keeps it (whole seconds on sshfs or ext4 with small inodes, 10 ms on
// exFAT, 100 ns on NTFS): the same second, and the source's nanoseconds cut down to the
// precision the destination's show. A directory so dated is not dated again every night.
bool MemeDateAPrecision(int64_t s, int32_t sn, int64_t d, int32_t dn);

// Gives the open directory `dir` the last-write time `secondes`.`nanos`, nothing else.
int DaterRepertoire(const TRepertoire& dir, int64_t secondes, int32_t nanos);

// Writes to disk everything of the file system holding `dir` (syncfs).
int Synchroniser(const TRepertoire& dir);

// Test only: when set, called by EcrireCopie once a regular file's data is copied and
// before the source is described again, with the source entry's name.
extern void (*CrochetApresContenu)(const std::string& nomSource);

// Raises the soft limit of open descriptors to the hard limit (a deep walk holds two per
// level).
void ElargirLimiteDescripteurs();

// The soft limit of open descriptors (UINT64_MAX: none).
uint64_t LimiteDescripteurs();

// True when the open directory is the root of a mount (another file system, a bind mount
// or a subvolume mounted there).
bool EstRacineMontage(const TRepertoire& dir);

// Reads the directory `chemin` (a final link followed) only until its first entry other
// than ".", ".." and `ignore` that still exists: `trouvee` tells whether there is one.
// Returns 0, or the errno of the first failure (opening, reading, or describing that
// entry), with `trouvee` false.
int ChercherUneEntree(const std::string& chemin, bool& trouvee, const std::string& ignore = {});

// True when `chemin` names an existing directory (a link to one counts).
bool EstRepertoire(const std::string& chemin);

// True when the directory `exterieur` exists and is `interieur` itself or one of its
// existing ancestors, by device and inode: this sees through links and bind mounts.
bool EstDansRepertoire(const std::string& interieur, const std::string& exterieur);

// The absolute form of `chemin` with links resolved as far as the path exists, and the
// rest normalised; empty when it cannot be computed.
std::string CheminCanonique(const std::string& chemin);

}  // namespace jumelix::platform
