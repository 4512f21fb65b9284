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

TOuvriers::TOuvriers(int nombre) {
  for (int i = 0; i < nombre; ++i) fils_.emplace_back([this] { Boucle(); });
}

TOuvriers::~TOuvriers() {
  std::deque<PTache> reste;
  {
    std::lock_guard<std::mutex> l(m_);
    arret_ = true;
    reste.swap(file_);
  }
  travail_.notify_all();
  for (std::thread& f : fils_) f.join();
  for (const PTache& t : reste) Annuler(t);
}

PTache TOuvriers::Soumettre(std::function<void()> travail) {
  auto t = std::make_shared<TTache>(std::move(travail));
  if (fils_.empty()) return t;  // run by whoever waits for it
  {
    std::lock_guard<std::mutex> l(m_);
    file_.push_back(t);
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
      travail_.wait(l, [&] { return arret_ || !file_.empty(); });
      if (file_.empty()) return;
      t = std::move(file_.back());
      file_.pop_back();
    }
    if (t->Prendre()) Executer(*t);
  }
}

void TOuvriers::Attendre(const PTache& t) {
  if (t->Prendre()) {
    Executer(*t);
    return;
  }
  std::unique_lock<std::mutex> l(m_);
  fini_.wait(l, [&] { return t->Finie(); });
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
