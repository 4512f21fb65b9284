// A small pool of worker threads for the file-system requests of one walk (listings,
// descriptions, copies), so that the disk has several requests to serve at once. The walk
// itself, its report lines and its callbacks stay on the calling thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace jumelix {

// One unit of work, run exactly once: by a worker, or by the thread that waits for it when
// no worker has taken it yet. A task may also be cancelled while no one runs it.
class TTache {
 public:
  explicit TTache(std::function<void()> travail) : travail_(std::move(travail)) {}
  bool Finie() const { return etat_.load(std::memory_order_acquire) == kFinie; }

 private:
  friend class TOuvriers;
  static constexpr int kEnAttente = 0, kEnCours = 1, kFinie = 2;
  bool Prendre() {
    int e = kEnAttente;
    return etat_.compare_exchange_strong(e, kEnCours, std::memory_order_acq_rel);
  }
  std::function<void()> travail_;
  std::atomic<int> etat_{kEnAttente};
};

using PTache = std::shared_ptr<TTache>;

// Starts a worker thread; empty: std::thread.
using TDemarreur = std::function<std::thread(std::function<void()>)>;

class TOuvriers {
 public:
  // At most `nombre` workers, started as tasks come; 0: every task runs on the thread
  // that waits for it, in order.
  explicit TOuvriers(int nombre, TDemarreur demarreur = {});
  ~TOuvriers();  // cancels what nobody took, waits for what runs
  TOuvriers(const TOuvriers&) = delete;
  TOuvriers& operator=(const TOuvriers&) = delete;

  int Nombre() const { return max_; }
  // Queues a task; the most recently queued one is taken first (the walk goes depth
  // first: what it needs next was queued last).
  PTache Soumettre(std::function<void()> travail);
  // A task for the calling thread, which waits for it at once: nothing is queued, so a
  // walk over a small tree starts no worker at all.
  static PTache Creer(std::function<void()> travail) {
    return std::make_shared<TTache>(std::move(travail));
  }
  // Returns once `t` has run: runs it here when no worker has taken it yet.
  int Attendre(const PTache& t);
  // Makes sure `t` will not run: returns at once when it had not started (it never will),
  // or once it has finished.
  void Annuler(const PTache& t);

 private:
  void Boucle();
  void Executer(TTache& t);

  std::mutex m_;
  std::condition_variable travail_;  // a task was queued, or the pool stops
  std::condition_variable fini_;     // a task finished
  std::deque<PTache> file_;
  bool arret_ = false;
  const int max_;
  TDemarreur demarreur_;
  int inactifs_ = 0;  // workers waiting for a task
  std::vector<std::thread> fils_;
};

// The number of workers a walk uses: set by DefinirNombreOuvriers (tests, benchmark), or
// else the default measured best (bench/README.md). 0 keeps every request on the walk's
// thread.
int NombreOuvriers();
void DefinirNombreOuvriers(int nombre);

}  // namespace jumelix
