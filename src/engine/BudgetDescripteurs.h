// What one walk may hold open at once, sized from the process's descriptor limit. Plain
// values, computed once per walk on its thread.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace jumelix {

// Directories whose copies wait for their batch hold a descriptor each: at most this many.
inline constexpr size_t kLotRepertoires = 256;

// How much a walk may hold open at once, from the process's descriptor limit: the levels
// it is in (two each), the subdirectories listed ahead, the copies written ahead and the
// directories whose copies wait for their batch. A run at a low limit does less ahead of
// itself, and still completes.
struct TBudget {
  size_t niveauxOuverts = 1024;  // deeper levels are closed and opened again on the way back
  size_t listagesAvance = 64;
  size_t copiesAvance = 16;
  // Copies (and directory finishes behind them) the walk has gone past while they finish:
  // each holds up to three descriptors. 0: the walk waits for each copy.
  size_t copiesDifferees = 64;
  size_t lotRepertoires = kLotRepertoires;

  static TBudget Pour(uint64_t limite) {
    // What the rest of the process may hold: log, lock, archive, standard streams, mail.
    constexpr uint64_t kReserve = 64;
    const uint64_t libre = limite > kReserve + 64 ? limite - kReserve : 64;
    TBudget b;
    auto borne = [&](size_t& v, uint64_t part, size_t min) {
      v = static_cast<size_t>(std::max<uint64_t>(min, std::min<uint64_t>(v, libre / part)));
    };
    borne(b.niveauxOuverts, 8, 4);
    borne(b.listagesAvance, 8, 2);
    borne(b.copiesAvance, 32, 1);
    borne(b.copiesDifferees, 32, 0);
    borne(b.lotRepertoires, 4, 4);
    return b;
  }
};

inline bool TropDeDescripteurs(int err) { return err == EMFILE || err == ENFILE; }

}  // namespace jumelix
