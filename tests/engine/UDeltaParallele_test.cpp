// The engine with its workers: whatever their number, a walk reports the same lines in the
// same order, moves the same counters and leaves the same tree as the one-thread walk; a
// full disk, a stop and a tree changing under the walk leave no temporary file and nothing
// written outside the destination.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "engine/Echecs.h"
#include "engine/Listage.h"
#include "engine/Ouvriers.h"
#include "engine/Publication.h"
#include "engine/UDelta.h"
#include "platform/FileSystem.h"
#include "shared/UMessErreurs.h"
#include "support/BilanParcours.h"
#include "support/SystemeFautif.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::Bilan;
using test::EcartsRsync;
using test::TempTree;
using test::Traiter;
using Lignes = std::vector<std::string>;

const time_t kTParallele = 1678874400;  // 2023-03-15 10:00:00 UTC

// Sets the number of workers for one test and puts the default back.
struct Ouvriers {
  explicit Ouvriers(int n) { DefinirNombreOuvriers(n); }
  ~Ouvriers() { DefinirNombreOuvriers(-1); }
};

// Sets the bound of the entries listed ahead for one test and puts the default back.
struct Budget {
  explicit Budget(size_t n) { DefinirBudgetAvance(n); }
  ~Budget() { DefinirBudgetAvance(0); }
};

// Temporary copies left in a tree (the engine's ".jumelix-…" names).
Lignes Temporaires(const std::string& racine) {
  Lignes r;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(racine, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string n = it->path().filename().string();
    if (n.rfind(".jumelix-", 0) == 0) r.push_back(it->path().string());
  }
  return r;
}

// A pair with something to report at every level: missing, different and surplus files,
// missing and surplus directories, a link, a FIFO, and files that change while they are
// copied.
void Construire(TempTree& t) {
  for (const char* n1 : {"a", "b", "c"}) {
    for (const char* n2 : {"", "/x", "/y", "/x/z"}) {
      const std::string r = std::string(n1) + n2;
      for (int i = 0; i < 12; ++i) {
        const std::string f = r + "/f" + std::to_string(i);
        t.Fichier("src/" + f, std::string(static_cast<size_t>(100 * i), 'a' + i));
        t.DateModif("src/" + f, kTParallele + i);
        if (i % 3 == 0) continue;  // missing from the destination
        t.Fichier("dst/" + f, i % 3 == 1 ? std::string(static_cast<size_t>(100 * i), 'a' + i)
                                         : std::string("autre contenu"));
        t.DateModif("dst/" + f, kTParallele + i);
      }
      t.Fichier("src/" + r + "/change-pendant-copie", "début");
      t.Fichier("dst/" + r + "/en-trop", "t");
      t.Fichier("dst/" + r + "/rep-en-trop/g", "g");
      t.Lien("src/" + r + "/lien", "f1");
      t.Fifo("src/" + r + "/tube");
    }
  }
  t.Fichier("src/nouveau/profond/h", "h");
}

// Appends to the source file being copied when its name says so, from whichever thread
// writes the copy.
std::string dossierChange;
void Changer(const std::string& nom) {
  if (nom != "change-pendant-copie") return;
  // Every copy of that name: the test only needs the line, not which file.
  for (const auto& e : std::filesystem::recursive_directory_iterator(dossierChange)) {
    if (e.path().filename() != nom) continue;
    FILE* f = fopen(e.path().c_str(), "a");
    if (f == nullptr) continue;
    fputs(" et suite", f);
    fclose(f);
  }
}

TEST(Parallele, EveryWorkerCountReportsLikeTheOneThreadWalk) {
  struct Passe {
    Bilan comparer, synchroniser, ensuite;
    std::string ecarts;
  };
  auto passe = [](int ouvriers) {
    Ouvriers o(ouvriers);
    TempTree t;
    Construire(t);
    const std::string S = t.Chemin("src"), D = t.Chemin("dst");
    dossierChange = S;
    Passe p;
    p.comparer = Traiter(S, D, true);
    platform::CrochetApresContenu = &Changer;
    p.synchroniser = Traiter(S, D, false);
    platform::CrochetApresContenu = nullptr;
    p.ensuite = Traiter(S, D, false);
    p.ecarts = EcartsRsync(S, D);
    // Lines name the tree: make them comparable across trees.
    for (Bilan* b : {&p.comparer, &p.synchroniser, &p.ensuite}) {
      for (std::string& l : b->lignes) {
        for (size_t k; (k = l.find(t.Racine())) != std::string::npos;)
          l.replace(k, t.Racine().size(), "T");
      }
    }
    EXPECT_TRUE(Temporaires(D).empty()) << ouvriers;
    return p;
  };
  const Passe un = passe(0);
  ASSERT_GT(un.comparer.lignes.size(), 100u);
  ASSERT_EQ(
      std::count_if(un.synchroniser.lignes.begin(), un.synchroniser.lignes.end(),
                    [](const std::string& l) { return l.find("pendant la copie") != l.npos; }),
      12);
  EXPECT_EQ(un.ensuite.lignes, Lignes{});
  EXPECT_EQ(un.ecarts, "");
  for (int n : {1, 2, 8, 32}) {
    const Passe p = passe(n);
    EXPECT_EQ(p.comparer.lignes, un.comparer.lignes) << n << " workers";
    EXPECT_EQ(p.synchroniser.lignes, un.synchroniser.lignes) << n << " workers";
    EXPECT_EQ(p.synchroniser.numeros, un.synchroniser.numeros) << n << " workers";
    for (const auto& [a, b] : {std::pair{&p.comparer, &un.comparer},
                               {&p.synchroniser, &un.synchroniser},
                               {&p.ensuite, &un.ensuite}}) {
      EXPECT_EQ(a->resultat, b->resultat) << n;
      EXPECT_EQ(a->copies, b->copies) << n;
      EXPECT_EQ(a->supprimes, b->supprimes) << n;
      EXPECT_EQ(a->identiques, b->identiques) << n;
    }
    EXPECT_EQ(p.ecarts, "") << n << " workers";
  }
}

// Sibling directories larger than the budget of entries listed ahead: the listings made
// ahead never hold more than it, those that find it spent are dropped and the walk lists
// their directories itself, so that the report, the counters and the mirror are those of
// the one-thread walk whatever the budget.
TEST(Parallele, ListingsAheadStayWithinTheirBudgetOfEntries) {
  struct Passe {
    Bilan comparer, synchroniser;
    std::string ecarts;
    size_t pic = 0;
  };
  // A synchronisation ends with a flush of the whole file system: made by two passes only.
  auto passe = [](int ouvriers, size_t budget, bool synchroniser) {
    Ouvriers o(ouvriers);
    Budget b(budget);
    TempTree t;
    for (int d = 0; d < 6; ++d) {
      const std::string r = "r" + std::to_string(d) + "/";
      for (int f = 0; f < 300; ++f) {
        const std::string n = r + "fichier-" + std::to_string(f);
        t.Fichier("src/" + n, std::to_string(f));
        t.DateModif("src/" + n, kTParallele);
        if (f % 7 == 0) continue;  // missing from the destination
        t.Fichier("dst/" + n, f % 11 == 0 ? "autre" : std::to_string(f));
        t.DateModif("dst/" + n, kTParallele);
      }
      t.Fichier("dst/" + r + "en-trop", "t");
    }
    // With workers, a level acts only once a listing made ahead has taken its entries from
    // the budget, so that the budget is really put to use (bounded, should none start).
    if (ouvriers > 0) {
      CrochetAvantAction = [](const std::string&) {
        const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (PicAvance() == 0 && std::chrono::steady_clock::now() < fin) {
          std::this_thread::yield();
        }
      };
    }
    const std::string S = t.Chemin("src"), D = t.Chemin("dst");
    Passe p;
    p.comparer = Traiter(S, D, true);
    if (synchroniser) p.synchroniser = Traiter(S, D, false);
    CrochetAvantAction = nullptr;
    if (synchroniser) p.ecarts = EcartsRsync(S, D);
    p.pic = PicAvance();
    for (Bilan* x : {&p.comparer, &p.synchroniser}) {
      for (std::string& l : x->lignes) l.replace(0, t.Racine().size(), "T");
    }
    return p;
  };
  const Passe un = passe(0, 0, true);
  ASSERT_EQ(un.comparer.lignes.size(), 6u * (43 + 24 + 1));
  EXPECT_EQ(un.synchroniser.copies, 6 * (43 + 24));
  EXPECT_EQ(un.pic, 0u);
  for (size_t budget : {40, 700, 100000}) {
    const bool synchroniser = budget == 700;
    const Passe p = passe(8, budget, synchroniser);
    EXPECT_EQ(p.comparer.lignes, un.comparer.lignes) << budget;
    EXPECT_EQ(p.synchroniser.lignes, un.synchroniser.lignes) << budget;
    for (const auto& [a, b] :
         {std::pair{&p.comparer, &un.comparer}, {&p.synchroniser, &un.synchroniser}}) {
      if (a == &p.synchroniser && !synchroniser) continue;
      EXPECT_EQ(a->resultat, b->resultat) << budget;
      EXPECT_EQ(a->copies, b->copies) << budget;
      EXPECT_EQ(a->supprimes, b->supprimes) << budget;
      EXPECT_EQ(a->identiques, b->identiques) << budget;
    }
    EXPECT_EQ(p.ecarts, "") << budget;
    EXPECT_GT(p.pic, 0u) << budget;
    EXPECT_LE(p.pic, budget);
  }
}

// Copies written ahead take room the one-thread walk would not: on a full disk they are
// removed and the level goes on one copy at a time, with no line the one-thread walk
// would not give.
TEST(Parallele, CopiesWrittenAheadGiveWayOnAFullDisk) {
  // Five files in one directory, and six in three: the copies the walk went past, in the
  // directories it left, give their room back too and are written again one by one.
  struct Disposition {
    int dossiers, fichiers;
    size_t octets;
  };
  for (const Disposition& d : {Disposition{1, 5, 150 * 1024}, Disposition{3, 2, 120 * 1024}}) {
    for (int n : {0, 8}) {
      Ouvriers o(n);
      TempTree t;
      const std::string S = t.Repertoire("src"), D = t.Repertoire("dst");
      if (mount("jumelix-test", D.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
      }
      for (int r = 0; r < d.dossiers; ++r) {
        for (int i = 0; i < d.fichiers; ++i) {
          const std::string f = "d" + std::to_string(r) + "/f" + std::to_string(i);
          t.Fichier("src/" + f, std::string(d.octets, 'n'));
          t.Fichier("dst/" + f, std::string(d.octets + 1, 'a'));
        }
      }
      const Bilan b = Traiter(S, D, false);
      EXPECT_EQ(b.lignes, Lignes{}) << n << " workers, " << d.dossiers;
      EXPECT_EQ(b.copies, d.dossiers * d.fichiers) << n << ", " << d.dossiers;
      EXPECT_EQ(EcartsRsync(S, D), "") << n << ", " << d.dossiers;
      EXPECT_TRUE(Temporaires(D).empty()) << n << ", " << d.dossiers;
      umount(D.c_str());
    }
  }
}

// The walk goes past copies written ahead and on into the next directories while they
// finish: what it reports meanwhile (here a directory it cannot create) and the changes it
// tells (a directory it creates) wait behind the line of a failed copy, so that every
// worker count gives the one-thread walk's report and changes, interleaved alike. The next
// run, without the faults, leaves a mirror.
TEST(Parallele, WhatLaterDirectoriesSayWaitsBehindTheCopiesTheWalkWentPast) {
  Lignes un;
  for (int n : {0, 2, 8}) {
    Ouvriers o(n);
    TempTree t;
    for (int d = 0; d < 6; ++d) {
      const std::string r = "src/d" + std::to_string(d) + "/";
      for (int i = 0; i < 5; ++i) t.Fichier(r + "f" + std::to_string(i), std::string(100, 'a'));
      t.Fichier(r + "s/g", "g");
      t.Fichier(r + "t/h", "h");
    }
    const std::string S = t.Chemin("src"), D = t.Repertoire("dst");
    test::SystemeFautif fs;
    fs.Echouer(platform::Operation::EcrireCopie, EIO, "f2");
    fs.Echouer(platform::Operation::CreerRepertoire, EROFS, "s");
    Lignes suite;  // report lines with their causes and changes told, in the order they came
    TEtatRun etat;
    etat.Systeme = &fs;
    etat.SurAction = [&](const TAction& a) { suite.push_back("A " + a.chemin); };
    TraiterCouple(
        S, D, false,
        [&](const std::string& l, int, int cause) {
          suite.push_back("L " + l + " / " + std::to_string(cause));
        },
        {}, etat);
    for (std::string& l : suite) {
      for (size_t k; (k = l.find(t.Racine())) != std::string::npos;) {
        l.replace(k, t.Racine().size(), "T");
      }
    }
    if (n == 0) {
      un = suite;
      // Per directory: the copy, the creation and its reading; its creation, its 5 copies.
      ASSERT_EQ(un.size(), 6u * (3 + 1 + 5) + 6);
    }
    EXPECT_EQ(suite, un) << n << " workers";
    EXPECT_EQ(etat.NbCopies, 30) << n;
    EXPECT_TRUE(Temporaires(D).empty()) << n;
    EXPECT_EQ(Traiter(S, D, false).lignes, Lignes{}) << n;
    EXPECT_EQ(EcartsRsync(S, D), "") << n;
  }
}

// A directory the walk has just made holds nothing: it is not listed.
TEST(Parallele, ADirectoryTheWalkMadeIsNotListed) {
  struct Listages : test::SystemeFautif {
    std::atomic<int> n = 0;
    int Faute(platform::Operation op, const std::string& nom) override {
      if (op == platform::Operation::Lire && nom.empty()) ++n;
      return test::SystemeFautif::Faute(op, nom);
    }
  };
  auto listages = [](bool cibleFaite) {
    TempTree t;
    for (int d = 0; d < 5; ++d) {
      t.Fichier("src/d" + std::to_string(d) + "/f", "f");
      if (cibleFaite) t.Repertoire("dst/d" + std::to_string(d));
    }
    const std::string S = t.Chemin("src"), D = t.Repertoire("dst");
    Listages fs;
    EXPECT_EQ(Traiter(S, D, false, fs).lignes, Lignes{});
    EXPECT_EQ(EcartsRsync(S, D), "");
    return fs.n.load();
  };
  EXPECT_EQ(listages(true) - listages(false), 5);
}

// Copies that replace nothing take their names on the workers; what each gave is reported
// in the walk's order all the same. An entry that came at a copy's name after the listing
// (here: during the batch's flush) is not lost under the copy: it goes to the archive.
TEST(Parallele, CopiesThatReplaceNothingArePublishedTogetherAndLoseNothingThatCameSince) {
  struct Intrus : test::SystemeFautif {
    TempTree* arbre = nullptr;
    std::string chemin;  // in `arbre`
    int Faute(platform::Operation op, const std::string& nom) override {
      if (op == platform::Operation::Synchroniser && !chemin.empty()) {
        arbre->Fichier(chemin, "intrus");
        chemin.clear();
      }
      return SystemeFautif::Faute(op, nom);
    }
  };
  Lignes reference;  // the one-thread walk's lines, its root paths cut off
  for (int n : {0, 4}) {
    Ouvriers o(n);
    TempTree t;
    const std::string S = t.Repertoire("src"), D = t.Repertoire("dst/d");
    for (int i = 10; i < 50; ++i) t.Fichier("src/d/f" + std::to_string(i), std::to_string(i));
    Intrus fs;
    fs.arbre = &t;
    fs.chemin = "dst/d/f17";
    for (const char* nom : {"f44", "f21"}) fs.Echouer(platform::Operation::Publier, EIO, nom, 1);
    TEtatRun etat;
    etat.Systeme = &fs;
    etat.JoursArchive = 30;
    const Bilan b = Traiter(S, t.Chemin("dst"), false, {}, &etat);
    Lignes lignes = b.lignes;
    for (std::string& l : lignes) {
      for (size_t p; (p = l.find(t.Racine())) != std::string::npos;) l.erase(p, t.Racine().size());
    }
    if (n == 0) reference = lignes;
    EXPECT_EQ(lignes, reference) << n << " workers";
    std::sort(lignes.begin(), lignes.end());
    EXPECT_EQ(lignes, (Lignes{TexteEchec({TEchec::Quoi::Copier, EIO, "/src/d/f21", "/dst/d/f21"}),
                              TexteEchec({TEchec::Quoi::Copier, EIO, "/src/d/f44", "/dst/d/f44"})}));
    EXPECT_EQ(b.copies, 38) << n;
    EXPECT_EQ(TempTree::Lire(D + "/f17"), "17") << n;
    Lignes archivees;
    const std::string archive = t.Chemin("dst/.jumelix-archive");
    for (const auto& e : std::filesystem::recursive_directory_iterator(archive)) {
      if (e.is_regular_file()) archivees.push_back(TempTree::Lire(e.path().string()));
    }
    EXPECT_EQ(archivees, Lignes{"intrus"}) << n;
  }
}

// A listing that throws, made ahead by a worker or by the walk itself, whole or in one of
// its slices, fails its directory alone, as one that cannot be read.
TEST(Parallele, AListingThatThrowsFailsItsDirectoryAlone) {
  for (int n : {0, 4}) {
    Ouvriers o(n);
    TempTree t;
    const std::string S = t.Chemin("src"), D = t.Chemin("dst");
    for (const std::string r : {"a", "b", "c"}) t.Fichier("src/" + r + "/f", "f");
    for (int i = 0; i < 200; ++i) t.Fichier("src/b/f" + std::to_string(i));
    t.Fichier("src/b/piege");
    t.Fichier("dst/c/piege");
    test::SystemeFautif fs;
    fs.Jeter(platform::Operation::Decrire, "piege");
    TEtatRun etat;
    etat.Systeme = &fs;
    const Bilan b = Traiter(S, D, false, {}, &etat);
    EXPECT_EQ(b.Tries(), (Lignes{"Erreur " + TexteErreurSysteme(ENOMEM) + " " + S + "/b",
                                 "Erreur en lisant le répertoire " + D + "/c"}))
        << n << " workers";
    EXPECT_EQ(TempTree::Lire(D + "/a/f"), "f") << n;
  }
}

// Many walks over trees that another thread keeps changing, some of them stopped halfway:
// no crash, nothing written outside the destination (even when a destination directory is
// swapped for a link to outside), no temporary file left, and once the changes stop one
// walk makes an exact mirror. Run under ThreadSanitizer in CI.
TEST(Parallele, WalksOverAChangingTreeStaySafe) {
  Ouvriers o(8);
  TempTree t;
  const std::string S = t.Repertoire("src"), D = t.Repertoire("dst");
  const std::string dehors = t.Repertoire("dehors");
  t.Fichier("dehors/garde", "a garder");
  for (int d = 0; d < 12; ++d) {
    for (int f = 0; f < 15; ++f) {
      t.Fichier("src/r" + std::to_string(d) + "/s/f" + std::to_string(f), std::string(f * 50, 'x'));
    }
  }
  std::atomic<bool> fin{false};
  std::thread changeur([&] {
    std::mt19937 alea(42);
    while (!fin.load()) {
      const std::string r = "/r" + std::to_string(alea() % 12);
      const std::string f = r + "/s/f" + std::to_string(alea() % 15);
      switch (alea() % 6) {
        case 0: {  // rewrite a source file
          FILE* x = fopen((S + f).c_str(), "w");
          if (x != nullptr) {
            fputs("nouveau", x);
            fclose(x);
          }
          break;
        }
        case 1:  // remove a source file
          unlink((S + f).c_str());
          break;
        case 2:  // rename a source directory back and forth
          rename((S + r + "/s").c_str(), (S + r + "/t").c_str());
          rename((S + r + "/t").c_str(), (S + r + "/s").c_str());
          break;
        case 3: {  // swap a destination directory for a link to outside, then back
          const std::string c = D + r;
          if (rename(c.c_str(), (c + ".vrai").c_str()) == 0) {
            if (symlink(dehors.c_str(), c.c_str()) == 0) {
              std::this_thread::yield();
              unlink(c.c_str());
            }
            rename((c + ".vrai").c_str(), c.c_str());
          }
          break;
        }
        case 4:  // a destination file that should not be there
          if (FILE* x = fopen((D + r + "/s/etranger").c_str(), "w")) fclose(x);
          break;
        default:  // a new source file
          if (FILE* x = fopen((S + r + "/s/n" + std::to_string(alea() % 5)).c_str(), "w"))
            fclose(x);
          break;
      }
    }
  });
  for (int i = 0; i < 30; ++i) {
    int points = 0;
    const int arret = i % 3 == 0 ? 5 + i : -1;  // every third walk is stopped
    Traiter(S, D, i % 5 == 4, [&](bool& abandon) {
      if (++points == arret) abandon = true;
    });
  }
  fin = true;
  changeur.join();
  EXPECT_EQ(TempTree::Noms(dehors), Lignes{"garde"});
  EXPECT_EQ(TempTree::Lire(dehors + "/garde"), "a garder");
  const Bilan b = Traiter(S, D, false);
  EXPECT_EQ(b.resultat, 0) << (b.lignes.empty() ? "" : b.lignes.front());
  EXPECT_EQ(EcartsRsync(S, D), "");
  EXPECT_TRUE(Temporaires(D).empty());
}

}  // namespace
}  // namespace jumelix
