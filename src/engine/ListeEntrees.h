// The entries of one directory as the walk keeps them, packed: a directory of 200 000
// entries is held at once on both sides of a pair, so each entry costs its name once, in
// blocks of text that never move, and a 32-byte description (platform::DescriptionEntree),
// about 60 bytes where a vector of EntreeRepertoire needs 110. Both classes own their
// storage; they are filled by one thread, then read by any (TListeEntrees: each description
// may be written by its own thread while nothing is added). Movable, not copyable; nothing
// here fails but an addition past 4 GiB of names (false).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace jumelix {

// Names in the order they were added. A name stays at the same address until Vider.
class TNoms {
 public:
  TNoms() = default;
  TNoms(TNoms&&) noexcept = default;
  TNoms& operator=(TNoms&&) noexcept = default;
  TNoms(const TNoms&) = delete;
  TNoms& operator=(const TNoms&) = delete;

  bool Ajouter(std::string_view nom);
  size_t size() const { return refs_.size(); }
  bool empty() const { return refs_.empty(); }
  // Ends with a NUL byte.
  const char* Texte(size_t i) const {
    return blocs_[refs_[i] >> kBitsDecalage].get() + (refs_[i] & kMasqueDecalage);
  }
  std::string_view operator[](size_t i) const { return Texte(i); }
  // Keeps, in order, the names whose index `garder` accepts (their text is not reclaimed).
  void Garder(const std::function<bool(size_t)>& garder);
  // Gives the room of the index back once the last name is added.
  void Ajuster() { refs_.shrink_to_fit(); }
  void Vider() { *this = TNoms(); }

  // Walks the names as std::string, for the callers that join them into paths.
  class const_iterator {
   public:
    const_iterator(const TNoms* n, size_t i) : n_(n), i_(i) {}
    std::string operator*() const { return std::string((*n_)[i_]); }
    const_iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

   private:
    const TNoms* n_;
    size_t i_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

 private:
  // A reference is the block's number and the name's offset in it: blocks hold 64 KiB at
  // most, and a name (255 bytes at most on Linux) never straddles two.
  static constexpr unsigned kBitsDecalage = 16;
  static constexpr uint32_t kMasqueDecalage = (1u << kBitsDecalage) - 1;

  std::vector<std::unique_ptr<char[]>> blocs_;
  size_t tailleBloc_ = 0;  // of the last block
  size_t libre_ = 0;       // its first free byte
  std::vector<uint32_t> refs_;
};

// The entries of one directory in listing order: a name and a description each.
class TListeEntrees {
 public:
  // Appends a name alone: its description is written later, through Description, once
  // Dimensionner has made room for it.
  bool AjouterNom(std::string_view nom) { return noms_.Ajouter(nom); }
  void Dimensionner();
  // Appends a whole entry.
  bool Ajouter(const platform::EntreeRepertoire& e);

  size_t size() const { return noms_.size(); }
  bool empty() const { return noms_.empty(); }
  const char* Nom(size_t i) const { return noms_.Texte(i); }
  std::string_view NomVue(size_t i) const { return noms_[i]; }
  platform::DescriptionEntree& Description(size_t i) { return descriptions_[i]; }
  const platform::DescriptionEntree& Description(size_t i) const { return descriptions_[i]; }
  platform::GenreEntree Genre(size_t i) const;
  // The entry `i` unpacked, with its name, or without it (Nom left empty) for the
  // comparisons that do not need it.
  platform::EntreeRepertoire Entree(size_t i) const;
  platform::EntreeRepertoire Attributs(size_t i) const;

  // Keeps, in order, the entries whose index `garder` accepts; `garder` is asked about each
  // entry in order, and may read it: none has moved yet.
  void Garder(const std::function<bool(size_t)>& garder);
  void Vider() { *this = TListeEntrees(); }

 private:
  TNoms noms_;
  std::vector<platform::DescriptionEntree> descriptions_;
};

}  // namespace jumelix
