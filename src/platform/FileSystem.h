// The file-system services of the synchronisation walk, on POSIX. Listing never follows a
// link (lstat), copying goes through a temporary file renamed over the destination, and
// deletion never follows a link nor crosses into another file system. Stateless free
// functions; none throws: each returns 0 or the errno of the failure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace jumelix::platform {

// Attribute bits as the walk knows them.
constexpr int32_t kAttrLectureSeule = 1;  // the owner has no write permission
constexpr int32_t kAttrCache = 2;         // the name begins with "."
constexpr int32_t kAttrRepertoire = 16;   // a real directory, never a link to one

// What an entry is. A link is an entry of its own kind, never followed; "special" covers
// FIFOs, sockets and devices, which are never opened.
enum class GenreEntree { Fichier, Repertoire, Lien, Special };

// A last-write time in packed MS-DOS local form (date in the high 16 bits, time in the low
// 16 bits, 2-second step). Times the packed form cannot hold (before 1980, after 2107) are
// flagged HorsPlage and keep their seconds since the epoch instead.
struct DateDos {
  int32_t Valeur = 0;
  bool HorsPlage = false;
  int64_t Secondes = 0;
};

// Converts seconds since the epoch to the packed local form of the current time zone.
DateDos VersDateDos(int64_t secondes);

// One directory entry as lstat describes it.
struct EntreeRepertoire {
  std::string Nom;
  GenreEntree Genre = GenreEntree::Fichier;
  int32_t Attr = 0;
  DateDos Date;
  int64_t Taille = 0;  // the full size
};

// Lists `chemin` in the order the file system returns entries, "." and ".." included.
// The final component is followed only when `suivreLien` is true (the roots the user named);
// below them a link is never entered. Returns 0, or the errno of the first failure (opening,
// reading, or describing an entry) with `entrees` holding what was read before it.
int ListerRepertoire(const std::string& chemin, bool suivreLien,
                     std::vector<EntreeRepertoire>& entrees);

// Lists `chemin` like ListerRepertoire but hands each entry to `surEntree` as it is read
// (the object is reused from one entry to the next), without keeping them; on failure the
// entries read before it have been handed over.
int ParcourirRepertoire(const std::string& chemin, bool suivreLien,
                        const std::function<void(EntreeRepertoire&)>& surEntree);

// Reads the directory `chemin` (a final link followed) only until its first entry other
// than "." and ".." that still exists: `trouvee` tells whether there is one. Returns 0, or
// the errno of the first failure (opening, reading, or describing that entry), with
// `trouvee` false. Costs one description at most, whatever the size of the directory.
int ChercherUneEntree(const std::string& chemin, bool& trouvee);

// True when `chemin` names an existing directory (a link to one counts).
bool EstRepertoire(const std::string& chemin);

// Creates one directory; 0 or errno.
int CreerRepertoire(const std::string& chemin);
// Creates a directory and every missing ancestor, from the top; "/" counts as present.
int CreerRepertoires(const std::string& chemin);

// Returned by CopierFichier when the source is neither a regular file nor a link.
constexpr int kPasFichierOrdinaire = -1;

// Copies the regular file or link `source` onto `destination`, replacing an existing
// non-directory entry there. The copy is written to a temporary file beside the
// destination and renamed over it only once complete, with the source's mode and
// nanosecond times (and owner and group when running as root); a link is copied as a link
// with the same target text. On failure the old destination is intact and no temporary
// file remains. A FIFO, socket or device is never opened: kPasFichierOrdinaire.
int CopierFichier(const std::string& source, const std::string& destination);

// A destination directory held open while files are copied into it one after another, so
// that each copy saves opening it. It is opened at the first copy; not copyable.
class TRepertoireCible {
 public:
  explicit TRepertoireCible(std::string chemin);
  ~TRepertoireCible();
  TRepertoireCible(const TRepertoireCible&) = delete;
  TRepertoireCible& operator=(const TRepertoireCible&) = delete;
  // CopierFichier(source, the directory + "/" + nom), with the same promises.
  int Copier(const std::string& source, const std::string& nom);

 private:
  std::string chemin_;
  int fd_ = -1;
};

// Deletes a non-directory entry (a link itself, never its target); 0 or errno. When the
// parent directory forbids it and belongs to us, it is made writable for the operation.
int SupprimerFichier(const std::string& chemin);

// Deletes the directory `chemin` and everything in it, adding 1 to `nbFichiers` for each
// non-directory entry deleted. Links are deleted, never followed; a directory on another
// file system than the parent of `chemin` is never entered (EXDEV). Stops at the first
// subdirectory that cannot be deleted; what was deleted before stays deleted. Returns 0,
// ENOTDIR when `chemin` is not a real directory, or the errno of the failure.
int SupprimerArborescence(const std::string& chemin, int32_t& nbFichiers);

// True when the directory `exterieur` exists and is `interieur` itself or one of its
// existing ancestors, by device and inode: this sees through links and bind mounts.
bool EstDansRepertoire(const std::string& interieur, const std::string& exterieur);

// The absolute form of `chemin` with links resolved as far as the path exists, and the
// rest normalised; empty when it cannot be computed.
std::string CheminCanonique(const std::string& chemin);

}  // namespace jumelix::platform
