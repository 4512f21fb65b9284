// A file-system seam that fails on demand, for the walk's tests: each rule makes one
// operation fail with an errno, for one name or any, a given number of times, after
// letting a given number through. Safe to use from the walk's workers. Header only.
#pragma once

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/SystemeFichiers.h"

namespace jumelix::test {

class SystemeFautif : public platform::TSystemeFichiers {
 public:
  // `op` fails with `err` for the name `nom` (empty: any name): `fois` times (-1: always),
  // once `apres` calls matching the rule have gone through.
  void Echouer(platform::Operation op, int err, std::string nom = {}, int fois = -1,
               int apres = 0) {
    std::lock_guard<std::mutex> l(m_);
    regles_.push_back({op, err, std::move(nom), fois, apres});
  }
  // `op` throws std::bad_alloc for the name `nom`, as an exhausted memory would.
  void Jeter(platform::Operation op, std::string nom) { Echouer(op, kJeter, std::move(nom)); }
  // Faults given so far.
  int Fautes() const {
    std::lock_guard<std::mutex> l(m_);
    return fautes_;
  }

 protected:
  int Faute(platform::Operation op, const std::string& nom) override {
    std::lock_guard<std::mutex> l(m_);
    for (Regle& r : regles_) {
      if (r.op != op || (!r.nom.empty() && r.nom != nom) || r.fois == 0) continue;
      if (r.apres > 0) {
        --r.apres;
        continue;
      }
      if (r.fois > 0) --r.fois;
      ++fautes_;
      if (r.err == kJeter) throw std::bad_alloc();
      return r.err;
    }
    return 0;
  }

 private:
  static constexpr int kJeter = -1000;
  struct Regle {
    platform::Operation op;
    int err;
    std::string nom;
    int fois;
    int apres;
  };
  mutable std::mutex m_;
  std::vector<Regle> regles_;
  int fautes_ = 0;
};

}  // namespace jumelix::test
