#include "support/TempTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace jumelix::test {
namespace {

void Echec(const std::string& quoi, const std::string& chemin) {
  ADD_FAILURE() << quoi << " " << chemin << ": " << strerror(errno);
}

void CreerParents(const std::string& chemin) {
  for (size_t fin = 1; (fin = chemin.find('/', fin)) != std::string::npos; ++fin) {
    std::string p = chemin.substr(0, fin);
    if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) Echec("mkdir", p);
  }
}

// Removes the entry `nom` of directory `pfd`, giving directories back the rights that
// emptying them needs; links are removed, never followed.
void Effacer(int pfd, const char* nom) {
  struct stat st;
  if (fstatat(pfd, nom, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlinkat(pfd, nom, 0);
    return;
  }
  // A failure shows at the removal below, which reports nothing either: best effort.
  if (fchmodat(pfd, nom, 0700, 0) != 0) {
  }
  int fd = openat(pfd, nom, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    if (DIR* d = fdopendir(fd)) {
      std::vector<std::string> noms;
      while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
          noms.emplace_back(e->d_name);
      }
      for (const std::string& n : noms) Effacer(dirfd(d), n.c_str());
      closedir(d);
    } else {
      close(fd);
    }
  }
  unlinkat(pfd, nom, AT_REMOVEDIR);
}

}  // namespace

TempTree::TempTree() {
  const char* tmp = getenv("TMPDIR");
  std::string modele =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/jumelix-test-XXXXXX";
  if (mkdtemp(modele.data()) == nullptr) Echec("mkdtemp", modele);
  racine_ = modele;
}

TempTree::~TempTree() {
  if (racine_.empty()) return;
  Effacer(AT_FDCWD, racine_.c_str());
}

std::string TempTree::Chemin(const std::string& rel) const {
  return rel.empty() ? racine_ : racine_ + "/" + rel;
}

std::string TempTree::Repertoire(const std::string& rel) {
  std::string c = Chemin(rel);
  CreerParents(c + "/");
  return c;
}

std::string TempTree::Fichier(const std::string& rel, const std::string& contenu) {
  std::string c = Chemin(rel);
  CreerParents(c);
  std::ofstream f(c, std::ios::binary | std::ios::trunc);
  f << contenu;
  if (!f) Echec("write", c);
  return c;
}

std::string TempTree::FichierCreux(const std::string& rel, off_t taille) {
  std::string c = Chemin(rel);
  CreerParents(c);
  int fd = open(c.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ftruncate(fd, taille) != 0) Echec("ftruncate", c);
  if (fd >= 0) close(fd);
  return c;
}

std::string TempTree::Lien(const std::string& rel, const std::string& cible) {
  std::string c = Chemin(rel);
  CreerParents(c);
  if (symlink(cible.c_str(), c.c_str()) != 0) Echec("symlink", c);
  return c;
}

std::string TempTree::Fifo(const std::string& rel) {
  std::string c = Chemin(rel);
  CreerParents(c);
  if (mkfifo(c.c_str(), 0644) != 0) Echec("mkfifo", c);
  return c;
}

void TempTree::DateModif(const std::string& rel, time_t secondes, long nanosecondes) {
  std::string c = Chemin(rel);
  struct timespec t[2] = {{secondes, nanosecondes}, {secondes, nanosecondes}};
  if (utimensat(AT_FDCWD, c.c_str(), t, AT_SYMLINK_NOFOLLOW) != 0) Echec("utimensat", c);
}

std::string TempTree::Lire(const std::string& chemin) {
  std::ifstream f(chemin, std::ios::binary);
  std::ostringstream o;
  o << f.rdbuf();
  return o.str();
}

bool TempTree::Existe(const std::string& chemin) {
  struct stat st;
  return lstat(chemin.c_str(), &st) == 0;
}

std::vector<std::string> TempTree::Noms(const std::string& chemin) {
  std::vector<std::string> noms;
  if (DIR* d = opendir(chemin.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) noms.emplace_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(noms.begin(), noms.end());
  return noms;
}

time_t TempTree::HeureLocale(int annee, int mois, int jour, int heure, int minute, int seconde) {
  struct tm t {};
  t.tm_year = annee - 1900;
  t.tm_mon = mois - 1;
  t.tm_mday = jour;
  t.tm_hour = heure;
  t.tm_min = minute;
  t.tm_sec = seconde;
  t.tm_isdst = -1;
  return mktime(&t);
}

}  // namespace jumelix::test
