// A small pool of worker threads for the file-system requests of one walk (listings,
// descriptions, copies), so that the disk has several requests to serve at once. The walk
// itself, its report lines and its callbacks stay on the calling thread. Any thread may
// queue, wait for or cancel a task. A worker that cannot be started (a limit on threads)
// leaves the pool with those it has, or none: every task still runs, on the thread that
// waits for it. A task that throws still finishes; what it threw is kept as an errno value.
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
  // Once finished: 0 when the work returned, ECANCELED when it was cancelled before it ran,
  // else what it threw as an errno value: ENOMEM for std::bad_alloc, the code of a
  // std::system_error that carries an errno value, EIO for anything else. 0 until then.
  int Erreur() const { return Finie() ? erreur_ : 0; }

 private:
  friend class TOuvriers;
  static constexpr int kEnAttente = 0, kEnCours = 1, kFinie = 2;
  bool Prendre() {
    int e = kEnAttente;
    return etat_.compare_exchange_strong(e, kEnCours, std::memory_order_acq_rel);
  }
  std::function<void()> travail_;
  int erreur_ = 0;  // written before the task is marked finished, never after
  std::atomic<int> etat_{kEnAttente};
};

using PTache = std::shared_ptr<TTache>;

class TOuvriers {
 public:
  // Starts one worker running `boucle`, or throws (std::system_error, as std::thread does).
  using TDemarreur = std::function<std::thread(std::function<void()> boucle)>;

  // At most `nombre` workers, started by `demarreur` (empty: std::thread) as tasks come;
  // 0: every task runs on the thread that waits for it, in order. Once a worker fails to
  // start, the pool starts no other.
  explicit TOuvriers(int nombre, TDemarreur demarreur = {});
  ~TOuvriers();  // cancels what nobody took, waits for what runs
  TOuvriers(const TOuvriers&) = delete;
  TOuvriers& operator=(const TOuvriers&) = delete;

  // The workers the pool may have: `nombre`, or those it had when one failed to start.
  // 0: every task runs on a thread that waits for it.
  int Nombre() const { return max_.load(std::memory_order_relaxed); }
  // Queues a task; the most recently queued one is taken first (the walk goes depth
  // first: what it needs next was queued last).
  PTache Soumettre(std::function<void()> travail);
  // A task for the calling thread, which waits for it at once: nothing is queued, so a
  // walk over a small tree starts no worker at all.
  static PTache Creer(std::function<void()> travail) {
    return std::make_shared<TTache>(std::move(travail));
  }
  // Returns once `t` has finished, running it here when no worker has taken it yet;
  // returns its Erreur(). Whatever the task throws stays in the task.
  int Attendre(const PTache& t);
  // Makes sure `t` will not run: returns at once when it had not started (it never will),
  // or once it has finished.
  void Annuler(const PTache& t);

 private:
  bool Demarrer();
  void Boucle();
  void Executer(TTache& t);

  std::mutex m_;
  std::condition_variable travail_;  // a task was queued, or the pool stops
  std::condition_variable fini_;     // a task finished
  std::deque<PTache> file_;
  bool arret_ = false;
  std::atomic<int> max_;  // lowered, under m_, when a worker fails to start
  int inactifs_ = 0;      // workers waiting for a task
  TDemarreur demarreur_;
  std::vector<std::thread> fils_;
};

// The number of workers a walk uses: set by DefinirNombreOuvriers (tests, benchmark), or
// else the default measured best (bench/README.md). 0 keeps every request on the walk's
// thread.
int NombreOuvriers();
void DefinirNombreOuvriers(int nombre);

}  // namespace jumelix
