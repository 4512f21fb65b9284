#include "engine/Ouvriers.h"

namespace jumelix {

namespace {
// Measured on the benchmark's trees (bench/README.md): beyond 8 workers a cold walk gains
// nothing more, and a warm one only loses.
constexpr int kOuvriersParDefaut = 8;
std::atomic<int> nombreOuvriers{-1};
}  // namespace

int NombreOuvriers() {
  const int n = nombreOuvriers.load();
  return n >= 0 ? n : kOuvriersParDefaut;
}

void DefinirNombreOuvriers(int nombre) { nombreOuvriers.store(nombre); }

TOuvriers::TOuvriers(int nombre, TDemarreur demarreur)
    : max_(nombre < 0 ? 0 : nombre), demarreur_(std::move(demarreur)) {}

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
  if (max_ == 0) return t;  // run by whoever waits for it
  {
    std::lock_guard<std::mutex> l(m_);
    if (arret_) return t;  // cancelled with the others, or run by whoever waits for it
    file_.push_back(t);
    // A walk over a few entries starts no more workers than it has tasks waiting.
    if (inactifs_ < static_cast<int>(file_.size()) && static_cast<int>(fils_.size()) < max_) {
      fils_.push_back(demarreur_ ? demarreur_([this] { Boucle(); }) : std::thread([this] { Boucle(); }));
      return t;
    }
  }
  travail_.notify_one();
  return t;
}

void TOuvriers::Executer(TTache& t) {
  t.travail_();
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
    return 0;
  }
  std::unique_lock<std::mutex> l(m_);
  fini_.wait(l, [&] { return t->Finie(); });
  return 0;
}

void TOuvriers::Annuler(const PTache& t) {
  if (t->Prendre()) {
    t->travail_ = nullptr;
    t->etat_.store(TTache::kFinie, std::memory_order_release);
    return;
  }
  std::unique_lock<std::mutex> l(m_);
  fini_.wait(l, [&] { return t->Finie(); });
}

}  // namespace jumelix
