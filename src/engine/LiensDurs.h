// The hard link groups of one walk's source: for each file with several names whose first
// name was mirrored in this run, where its destination file is (directory relative to the
// destination root, name, temporary name while its copy waits for its batch, inode), so
// that its other names are made links to it rather than copies. Only files with more than
// one name cost memory here. Used on the walk's thread only (engine/UDelta.cpp); nothing
// throws but memory exhaustion, and failures are errno values.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>

#include "engine/UDelta.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix {

class TLiensDurs {
 public:
  // `fs` and `etat` must outlive the object.
  TLiensDurs(platform::TSystemeFichiers& fs, const TReglagesRun& etat) : fs_(fs), etat_(etat) {}
  // The pair's destination directory, named in the note.
  void Destination(const std::string& destination) { destination_ = destination; }

  // A name `lien.Nom` in `dst` (the directory `dossier`, relative to the destination root
  // `racine`) of the source file (`peripherique`, `inode`), to be written (`copier`) or else
  // standing there as the inode `inodeDst`. The first name mirrored in this run is
  // remembered (a copy's once written: RetenirCopie). Each other one, unless it is a link to
  // it already (or, `convertir` false, exists at all), gets a fresh temporary name in `dst`
  // linked to the first one's destination file, checked by its inode, set in
  // `lien.Temporaire`, to be published or abandoned as a copy: true. False: mirror it as any
  // file. Where the destination can have no hard links (`possible` false, or its file
  // system refuses), that is noted once per pair (TReglagesRun::SurRemarque).
  bool Lien(const platform::TRepertoire& racine, const platform::TRepertoire& dst,
            const std::string& dossier, uint64_t peripherique, uint64_t inode, bool copier,
            uint64_t inodeDst, bool convertir, bool possible, platform::CopieEnAttente& lien);
  // The first name of the source file (`peripherique`, `inode`) is the copy `copie`, just
  // written in `dst` (the directory `dossier`), unless one of its names was mirrored already.
  void RetenirCopie(const platform::TRepertoire& dst, uint64_t peripherique, uint64_t inode,
                    std::string dossier, const platform::CopieEnAttente& copie);

 private:
  struct Groupe {
    std::string dossier;     // relative to the destination root, "" for the root itself
    std::string nom;         // its final name there
    std::string temporaire;  // its temporary name while its copy waits (may be gone since)
    uint64_t inode = 0;      // of the destination file
  };
  struct Hachage {
    size_t operator()(const std::pair<uint64_t, uint64_t>& c) const {
      return std::hash<uint64_t>()(c.first * 0x9E3779B97F4A7C15ull ^ c.second);
    }
  };
  const Groupe* Trouver(uint64_t peripherique, uint64_t inode) const;
  void Retenir(uint64_t peripherique, uint64_t inode, Groupe g);
  int Lier(const Groupe& g, const platform::TRepertoire& racine, const platform::TRepertoire& dst,
           const std::string& dossier, platform::CopieEnAttente& attente);

  platform::TSystemeFichiers& fs_;
  const TReglagesRun& etat_;
  std::string destination_;
  bool remarque_ = false;
  std::unordered_map<std::pair<uint64_t, uint64_t>, Groupe, Hachage> groupes_;
};

}  // namespace jumelix
