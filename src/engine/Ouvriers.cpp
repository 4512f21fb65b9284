#include "engine/Ouvriers.h"

#include <cerrno>
#include <exception>
#include <new>
#include <system_error>

namespace jumelix {

namespace {
// Measured on the benchmark's trees (bench/README.md): beyond 8 workers a cold walk gains
// nothing more, and a warm one only loses.
constexpr int kOuvriersParDefaut = 8;
std::atomic<int> nombreOuvriers{-1};

// What a task threw, as the errno value its waiter reports. Only a code of the errno
// categories is one: another category's numbers would name the wrong failure.
int ErreurDe(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (const std::system_error& s) {
    const std::error_code& c = s.code();
    const bool systeme =
        c.category() == std::generic_category() || c.category() == std::system_category();
    return systeme && c.value() > 0 ? c.value() : EIO;
  } catch (...) {
    return EIO;
  }
}
}  // namespace

int NombreOuvriers() {
  const int n = nombreOuvriers.load();
  return n >= 0 ? n : kOuvriersParDefaut;
}

void DefinirNombreOuvriers(int nombre) { nombreOuvriers.store(nombre); }

TOuvriers::TOuvriers(int nombre, TDemarreur demarreur)
    : max_(nombre < 0 ? 0 : nombre), demarreur_(std::move(demarreur)) {
  if (!demarreur_) {
    demarreur_ = [](std::function<void()> boucle) { return std::thread(std::move(boucle)); };
  }
  // Room for every worker now: a started thread lost to a failed allocation would end the
  // process.
  fils_.reserve(static_cast<size_t>(max_.load()));
}

TOuvriers::~TOuvriers() {
  std::deque<PTache> reste;
  {
    std::lock_guard<std::mutex> l(m_);
    arret_ = true;
    reste.swap(file_);
  }
  travail_.notify_all();
  // No worker starts once the pool stops.
  for (std::thread& f : fils_) f.join();
  for (const PTache& t : reste) Annuler(t);
}

PTache TOuvriers::Soumettre(std::function<void()> travail) {
  auto t = std::make_shared<TTache>(std::move(travail));
  if (Nombre() == 0) return t;  // run by whoever waits for it
  {
    std::lock_guard<std::mutex> l(m_);
    // Stopped, or no worker could start: run by whoever waits for it, if anyone does.
    if (arret_ || Nombre() == 0) return t;
    file_.push_back(t);
    // A walk over a few entries starts no more workers than it has tasks waiting.
    if (inactifs_ < static_cast<int>(file_.size()) && static_cast<int>(fils_.size()) < Nombre()) {
      if (Demarrer()) return t;
      if (fils_.empty()) {
        file_.pop_back();  // no worker at all: run by whoever waits for it
        return t;
      }
    }
  }
  travail_.notify_one();
  return t;
}

// Under m_. A thread limit reached now is unlikely to lift during the walk: the pool goes
// on with the workers it has rather than try again for every task.
bool TOuvriers::Demarrer() {
  try {
    fils_.push_back(demarreur_([this] { Boucle(); }));
    return true;
  } catch (const std::exception&) {
    max_.store(static_cast<int>(fils_.size()), std::memory_order_relaxed);
    return false;
  }
}

void TOuvriers::Executer(TTache& t) {
  // Whatever the work throws, the task finishes: its waiters, here or on other threads,
  // must not wait for ever, and a worker must not end the process.
  try {
    t.travail_();
  } catch (...) {
    t.erreur_ = ErreurDe(std::current_exception());
  }
  t.travail_ = nullptr;
  t.etat_.store(TTache::kFinie, std::memory_order_release);
  // Under the lock, so that a waiter between its test and its wait cannot miss it.
  std::lock_guard<std::mutex> l(m_);
  fini_.notify_all();
}

void TOuvriers::Boucle() {
  for (;;) {
    PTache t;
    {
      std::unique_lock<std::mutex> l(m_);
      ++inactifs_;
      travail_.wait(l, [&] { return arret_ || !file_.empty(); });
      --inactifs_;
      if (file_.empty()) return;
      t = std::move(file_.back());
      file_.pop_back();
    }
    if (t->Prendre()) Executer(*t);
  }
}

int TOuvriers::Attendre(const PTache& t) {
  if (t->Prendre()) {
    Executer(*t);
  } else {
    std::unique_lock<std::mutex> l(m_);
    fini_.wait(l, [&] { return t->Finie(); });
  }
  return t->Erreur();
}

void TOuvriers::Annuler(const PTache& t) {
  if (t->Prendre()) {
    t->travail_ = nullptr;
    t->erreur_ = ECANCELED;
    t->etat_.store(TTache::kFinie, std::memory_order_release);
    return;
  }
  std::unique_lock<std::mutex> l(m_);
  fini_.wait(l, [&] { return t->Finie(); });
}

}  // namespace jumelix
