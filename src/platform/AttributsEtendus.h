// Extended attributes of files and directories as the mirror keeps them: the user.*
// namespace and the POSIX ACLs (system.posix_acl_access, system.posix_acl_default) always;
// trusted.* and file capabilities (security.capability) only as root, since nobody else may
// write them. Every other name (security.selinux, system.nfs4_acl, ...) is neither read,
// written nor removed. An entry is named by an open directory and a name, never followed,
// or by a descriptor alone (an empty name), which may be an O_PATH one. Nothing here throws:
// each function returns 0 or the errno of the failure (EOPNOTSUPP: the file system holds no
// extended attributes). Safe to call from several threads at once.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace jumelix::platform {

// (name, value) pairs, sorted by name.
using TAttributsEtendus = std::vector<std::pair<std::string, std::string>>;

// True for the names the mirror keeps, as the running user.
bool AttributMiroir(std::string_view nom);

// Whether the entry `nom` of `dirfd` (empty: `dirfd` itself) holds an attribute the mirror
// keeps, asked with one request, links never followed. False as well where it cannot be
// asked.
bool PorteAttributsEtendus(int dirfd, const char* nom);

// The kept attributes of the entry `nom` of `dirfd` (empty: `dirfd` itself), sorted.
int LireAttributsEtendus(int dirfd, const char* nom, TAttributsEtendus& attributs);

// Makes the kept attributes of the entry `nom` of `dirfd` (empty: `dirfd` itself) exactly
// `voulus`: what differs is written, what `voulus` lacks is removed, the other namespaces
// are left alone. A name the file system refuses to hold (EOPNOTSUPP) is skipped and
// `nonGardes` set; any other failure stops there with its errno.
int EcrireAttributsEtendus(int dirfd, const char* nom, const TAttributsEtendus& voulus,
                           bool& nonGardes);

// False when the file system of the open directory `dirfd` holds no extended attributes at
// all (vfat, exFAT, some FUSE file systems).
bool AttributsEtendusPossibles(int dirfd);

}  // namespace jumelix::platform
