// The worker pool when its threads cannot all start and when its tasks throw: every task
// waited for runs exactly once and finishes, what it threw kept as an errno value that the
// pool's users turn into a failure of their own (for listings: UDeltaParallele_test.cpp).
#include "engine/Ouvriers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <future>
#include <latch>
#include <stdexcept>
#include <system_error>

#include "engine/Anticipation.h"
#include "support/SystemeFautif.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

// Starts `permis` threads, then fails as a limit on threads does.
TOuvriers::TDemarreur Limite(int permis) {
  auto reste = std::make_shared<std::atomic<int>>(permis);
  return [reste](std::function<void()> boucle) {
    if (reste->fetch_sub(1) <= 0) throw std::system_error(EAGAIN, std::generic_category());
    return std::thread(std::move(boucle));
  };
}

TEST(Ouvriers, EveryTaskRunsOnceWithTheWorkersThatCouldStart) {
  constexpr int kTaches = 60;
  const std::thread::id principal = std::this_thread::get_id();
  for (int permis : {0, 1, 3, 8}) {
    std::vector<std::atomic<int>> fois(2 * kTaches);
    std::vector<PTache> taches(2 * kTaches);
    std::atomic<int> ailleurs = 0;
    std::latch depart(1);
    TOuvriers o(4, Limite(permis));
    // Each task queues another from whichever thread runs it, as a listing its slices.
    for (int i = 0; i < kTaches; ++i) {
      taches[i] = o.Soumettre([&, i] {
        depart.wait();
        if (std::this_thread::get_id() != principal) ++ailleurs;
        taches[kTaches + i] = o.Soumettre([&, i] { ++fois[kTaches + i]; });
        ++fois[i];
      });
    }
    // Every worker started is busy: each task queued asked for one more.
    EXPECT_EQ(o.Nombre(), std::min(permis, 4)) << permis;
    depart.count_down();
    for (int i = kTaches; i-- > 10;) {
      EXPECT_EQ(o.Attendre(taches[i]), 0);
      EXPECT_EQ(o.Attendre(taches[kTaches + i]), 0);
      EXPECT_EQ(fois[i] + fois[kTaches + i], 2) << permis << " " << i;
    }
    // Cancelled: each has run once or never will.
    for (int i = 0; i < 10; ++i) {
      o.Annuler(taches[i]);
      EXPECT_EQ(fois[i], taches[i]->Erreur() == ECANCELED ? 0 : 1) << permis << " " << i;
    }
    EXPECT_TRUE(permis > 0 || ailleurs == 0) << "no worker, yet a task ran elsewhere";
  }
}

TEST(Ouvriers, ATaskThatThrowsFinishesForEveryWaiterWithAnErrno) {
  const std::vector<std::pair<std::function<void()>, int>> cas = {
      {[] {}, 0},
      {[] { throw std::bad_alloc(); }, ENOMEM},
      {[] { throw std::system_error(EMFILE, std::system_category()); }, EMFILE},
      {[] { throw std::system_error(std::error_code()); }, EIO},
      {[] { throw std::future_error(std::future_errc::broken_promise); }, EIO},
      {[] { throw std::runtime_error("?"); }, EIO},
      {[] { throw 1; }, EIO},
  };
  // No worker: one of the waiters runs it; two workers: one of them does.
  for (int nombre : {0, 2}) {
    for (const auto& [fonction, attendu] : cas) {
      const std::function<void()>& lancer = fonction;  // a lambda cannot take a binding
      TOuvriers o(nombre);
      std::latch depart(1);
      const PTache t = o.Soumettre([&] {
        depart.wait();
        lancer();
      });
      std::vector<std::future<int>> attentes;
      for (int k = 0; k < 3; ++k) {
        attentes.push_back(std::async(std::launch::async, [&] { return o.Attendre(t); }));
      }
      depart.count_down();
      for (auto& a : attentes) EXPECT_EQ(a.get(), attendu) << nombre;
      EXPECT_EQ(t->Erreur(), attendu);
    }
  }
}

// Fails the copy of "piege" as an exhausted memory would.
TEST(Ouvriers, ACopyWrittenAheadThatThrowsFailsAlone) {
  const std::vector<std::string> noms = {"a", "piege", "b"};
  test::TempTree t;
  for (const std::string& n : noms) t.Fichier("src/" + n, n);
  platform::TRepertoire src, dst;
  ASSERT_EQ(src.OuvrirChemin(t.Chemin("src")), 0);
  ASSERT_EQ(dst.OuvrirChemin(t.Repertoire("dst")), 0);
  TOuvriers o(2);
  test::SystemeFautif fs;
  fs.Jeter(platform::Operation::EcrireCopie, "piege");
  {
    TListeEntrees entrees;
    for (const std::string& n : noms) {
      platform::EntreeRepertoire e;
      e.Nom = n;
      e.Mode = S_IFREG | 0644;
      e.Taille = 1;
      entrees.Ajouter(e);
    }
    TCopiesAvance copies(o, fs, src, dst, platform::OptionsCopie{}, 16, entrees);
    for (size_t i = 0; i < noms.size(); ++i) copies.Ajouter(i);
    copies.Lancer();
    for (size_t i = 0; i < noms.size(); ++i) {
      int err = -1;
      platform::CopieEnAttente copie;
      ASSERT_TRUE(copies.Prendre(i, err, copie));
      EXPECT_EQ(err, noms[i] == "piege" ? ENOMEM : 0) << noms[i];
      if (err == 0) {
        copie.Nom = noms[i];
        EXPECT_EQ(platform::Publier(dst, copie), 0);
      }
    }
  }
  EXPECT_EQ(test::TempTree::Noms(t.Chemin("dst")), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace jumelix
