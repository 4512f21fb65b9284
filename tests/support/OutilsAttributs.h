// Extended attributes, ACLs, capabilities and hard links of real entries as the system's own
// tools show them (getfattr, getfacl, getcap from the attr, acl and libcap2-bin packages),
// for the tests that check a mirror against its source with those tools as the oracle.
// Header only; a command that cannot run gives "?".
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "support/SortieCommande.h"

namespace jumelix::test {

// The standard output of a shell command (stderr dropped), "?" and the output when it fails.
inline std::string Sortie(const std::string& commande) {
  std::string sortie;
  return LireSortie(commande + " 2>/dev/null", sortie) ? sortie : "?" + sortie;
}

// True when the shell command succeeds.
inline bool Executer(const std::string& commande) {
  return std::system((commande + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string Cite(const std::string& chemin) { return "'" + chemin + "'"; }

// Every extended attribute of the entry itself (a link not followed), names and values,
// without the "# file:" line, so that two entries compare.
inline std::string Xattrs(const std::string& chemin) {
  std::string s = Sortie("getfattr -h -d -m - --absolute-names -e hex " + Cite(chemin));
  const size_t fin = s.find('\n');
  return s.rfind("# file:", 0) == 0 && fin != std::string::npos ? s.substr(fin + 1) : s;
}

// The ACL of the entry, without its header.
inline std::string Acl(const std::string& chemin) {
  return Sortie("getfacl -p -c " + Cite(chemin));
}

// The file capabilities of the entry, without its path ("" when it has none).
inline std::string Capacites(const std::string& chemin) {
  std::string s = Sortie("getcap " + Cite(chemin));
  return s.rfind(chemin, 0) == 0 ? s.substr(chemin.size()) : s;
}

// The inode identity of the entry itself and its link count.
inline ino_t Inode(const std::string& chemin) {
  struct stat st {};
  return lstat(chemin.c_str(), &st) == 0 ? st.st_ino : 0;
}
inline nlink_t NbLiens(const std::string& chemin) {
  struct stat st {};
  return lstat(chemin.c_str(), &st) == 0 ? st.st_nlink : 0;
}

}  // namespace jumelix::test
