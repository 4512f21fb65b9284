// Exclusion patterns: each element of the .gitignore syntax on hand-picked paths, then
// generated trees and pattern files judged both by TExclusions (as the walk uses it) and by
// git itself.
#include "engine/Exclusions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/TempTree.h"

namespace jumelix {
namespace {

constexpr auto A = Verdict::Aucun;
constexpr auto X = Verdict::Exclu;
constexpr auto I = Verdict::Inclus;

struct Cas {
  const char* motifs;
  const char* chemin;
  bool repertoire;
  Verdict attendu;
};

const Cas kCas[] = {
    // Comments, blank lines, escapes, spaces, line ends.
    {"# a\n\nb\n", "# a", false, A},
    {"\\#a\n", "#a", false, X},
    {"\\!a\n", "!a", false, X},
    {"a  \n", "a", false, X},
    {"a\\ \n", "a ", false, X},
    {"a\\ \n", "a", false, A},
    {"a\t\n", "a", false, A},
    {"a\r\n", "a", false, X},
    {"\xEF\xBB\xBF"
     "a",
     "a", false, X},
    {"a\\\n", "a", false, A},
    {" a\n", "a", false, A},
    // Negation, last line wins.
    {"*.o\n!k.o\n", "k.o", false, I},
    {"!k.o\n*.o\n", "k.o", false, X},
    {"*.o\n!k.o\n", "d/j.o", false, X},
    // Names match at any depth, anchored patterns from the base only.
    {"a\n", "x/y/a", true, X},
    {"/a\n", "x/a", false, A},
    {"/a\n", "a", false, X},
    {"x/a\n", "x/a", false, X},
    {"x/a\n", "y/x/a", false, A},
    {"x/\n", "y/x", true, X},
    {"x/\n", "y/x", false, A},
    {"/x/\n", "x", true, X},
    // "*", "?" and sets stop at "/".
    {"x*\n", "xyz", false, X},
    {"x/*\n", "x/y/z", false, A},
    {"x/*\n", "x/y", true, X},
    {"x?z\n", "x/z", false, A},
    {"x?z\n", "xyz", false, X},
    {"?\n", "\xC3\xA9", false, A},  // bytes, not characters, as git
    {"x[/]z\n", "x/z", false, A},
    {"[a-c]x\n", "bx", false, X},
    {"[a-c]x\n", "dx", false, A},
    {"[!a-c]x\n", "dx", false, X},
    {"[^a-c]x\n", "ax", false, A},
    {"[]]\n", "]", false, X},
    {"[a-]\n", "-", false, X},
    {"[\\]]\n", "]", false, X},
    {"[[:digit:]]*\n", "7z", false, X},
    {"[[:alpha:]]*\n", "7z", false, A},
    {"[[:nom:]]\n", "n", false, A},
    {"[ab\n", "[ab", false, A},
    {"\\[ab]\n", "[ab]", false, X},
    // The three forms of "**".
    {"**/a\n", "a", false, X},
    {"**/a\n", "x/y/a", false, X},
    {"**/x/a\n", "y/x/a", false, X},
    {"**/x/a\n", "y/xx/a", false, A},
    {"x/**\n", "x/y/z", false, X},
    {"x/**\n", "x", true, A},
    {"x/**/a\n", "x/a", false, X},
    {"x/**/a\n", "x/p/q/a", false, X},
    {"x/**/a\n", "xp/a", false, A},
    {"x**a\n", "x/a", false, A},
    {"x/**a\n", "x/ba", false, X},
    {"x/**a\n", "x/b/a", false, A},
    {"**\n", "x/y", false, X},
};

TEST(Exclusions, ChaqueElementDeSyntaxe) {
  for (const Cas& c : kCas) {
    EXPECT_EQ(TMotifs::Compiler(c.motifs, "").Juger(c.chemin, c.repertoire), c.attendu)
        << "motifs « " << c.motifs << " », chemin « " << c.chemin << " »";
  }
}

TEST(Exclusions, LeFichierLePlusProfondQuiSePrononceDecide) {
  TExclusions e;
  e.Empiler(TMotifs::Compiler("*.log\nbuild/\n", ""));  // global
  e.Empiler(TMotifs::Compiler("!garde.log\n", ""));
  e.Empiler(TMotifs::Compiler("*.log\n/local\n", "d"));
  EXPECT_EQ(e.Juger("garde.log", false), I);
  EXPECT_EQ(e.Juger("d/garde.log", false), X);  // the deeper file wins over "!garde.log"
  EXPECT_EQ(e.Juger("d/build", true), X);       // none of the sources files speaks: global
  EXPECT_EQ(e.Juger("d/local", false), X);      // anchored to d/
  EXPECT_EQ(e.Juger("local", false), A);
  EXPECT_EQ(e.Juger("dd/x.txt", false), A);
  e.Depiler();
  EXPECT_EQ(e.Juger("d/garde.log", false), I);
}

// --- Against git --------------------------------------------------------------------------

// A generated tree: its directories and files (relative paths), and the pattern files by
// the directory they sit in ("" is the root).
struct Arbre {
  std::set<std::string> repertoires, fichiers;
  std::map<std::string, std::string> motifs;
  std::string global;
};

const std::vector<std::string> kNoms = {
    "a",   "b",        "ab",           "a b", "#c", "!d",  "[e]",   ".f",    "g.swp",        "h.o",
    "k.o", "\xC3\xA9", "\xE6\x97\xA5", "x",   "t ", "n-1", "a.b.c", "build", "node_modules", "AB"};

const std::vector<std::string> kGlobs = {
    "*",    "?",    "*.swp", "*.o",       "[ab]*",   "[!a]*", "[a-f]", "[[:alpha:]]*",
    "\\#c", "\\!d", "\\[e]", ".*",        "*b*",     "a?",    "**",    "[^.]*.o",
    "t\\ ", "t",    "a b",   "*\xC3\xA9", "n-[0-9]", "a.*.c", "build", "?B"};

std::string Tirer(std::mt19937& alea, const std::vector<std::string>& v) {
  return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(alea)];
}

bool Pile(std::mt19937& alea, int pourcent) {
  return std::uniform_int_distribution<int>(0, 99)(alea) < pourcent;
}

std::string Composant(std::mt19937& alea) {
  return Pile(alea, 50) ? Tirer(alea, kNoms) : Tirer(alea, kGlobs);
}

std::string LigneMotif(std::mt19937& alea, const std::vector<std::string>& sousReps) {
  std::string m;
  switch (std::uniform_int_distribution<int>(0, 9)(alea)) {
    case 0:
      m = "/" + Composant(alea);
      break;
    case 1:
      m = "**/" + Composant(alea);
      break;
    case 2:
      m = Composant(alea) + "/**";
      break;
    case 3:
      m = Composant(alea) + "/**/" + Composant(alea);
      break;
    case 4:
      m = Composant(alea) + "/" + Composant(alea);
      break;
    case 5:
      m = sousReps.empty() ? Composant(alea) : Tirer(alea, sousReps) + "/" + Composant(alea);
      break;
    default:
      m = Composant(alea);
  }
  if (Pile(alea, 25)) m += "/";
  if (Pile(alea, 30)) m = "!" + m;
  if (Pile(alea, 10)) m += "  ";
  if (Pile(alea, 5)) m = "# " + m;
  return m + "\n";
}

Arbre Generer(std::mt19937& alea) {
  Arbre a;
  std::function<void(const std::string&, int)> remplir = [&](const std::string& rep, int prof) {
    std::set<std::string> pris;
    const int n = std::uniform_int_distribution<int>(3, 7)(alea);
    std::vector<std::string> sousReps;
    // Many subtrees under one root, so that one git process judges them all.
    for (int k = 0; k < (prof == 0 ? 12 : n); ++k) {
      const std::string nom = prof == 0 ? "s" + std::to_string(k) : Tirer(alea, kNoms);
      if (!pris.insert(nom).second) continue;
      const std::string chemin = rep.empty() ? nom : rep + "/" + nom;
      if (prof == 0 || (prof < 4 && Pile(alea, 45))) {
        a.repertoires.insert(chemin);
        sousReps.push_back(nom);
        remplir(chemin, prof + 1);
      } else {
        a.fichiers.insert(chemin);
      }
    }
    if (prof <= 1 || Pile(alea, 40)) {
      std::string texte;
      for (int k = std::uniform_int_distribution<int>(1, prof == 0 ? 8 : 5)(alea); k > 0; --k) {
        texte += LigneMotif(alea, sousReps);
      }
      a.motifs[rep] = texte;
    }
  };
  remplir("", 0);
  for (int k = std::uniform_int_distribution<int>(0, 3)(alea); k > 0; --k) {
    a.global += LigneMotif(alea, {});
  }
  return a;
}

// The paths left out as the walk sees them: an excluded directory is not entered.
std::set<std::string> SelonExclusions(const Arbre& a) {
  std::set<std::string> exclus;
  TExclusions e;
  e.Empiler(TMotifs::Compiler(a.global, ""));
  std::function<void(const std::string&)> parcourir = [&](const std::string& rep) {
    const auto m = a.motifs.find(rep);
    if (m != a.motifs.end()) e.Empiler(TMotifs::Compiler(m->second, rep));
    const std::string prefixe = rep.empty() ? "" : rep + "/";
    auto enfants = [&](const std::set<std::string>& s, bool repertoire) {
      for (const std::string& c : s) {
        if (!c.starts_with(prefixe) || c.find('/', prefixe.size()) != std::string::npos) {
          continue;
        }
        if (e.Exclu(c, repertoire)) {
          exclus.insert(c);
          for (const auto* tout : {&a.repertoires, &a.fichiers}) {
            for (const std::string& d : *tout) {
              if (d.starts_with(c + "/")) exclus.insert(d);
            }
          }
        } else if (repertoire) {
          parcourir(c);
        }
      }
    };
    enfants(a.fichiers, false);
    enfants(a.repertoires, true);
    if (m != a.motifs.end()) e.Depiler();
  };
  parcourir("");
  return exclus;
}

// The paths git ignores, or that lie in a directory git ignores.
std::set<std::string> SelonGit(const Arbre& a) {
  test::TempTree t;
  const std::string depot = t.Repertoire("depot");
  for (const std::string& r : a.repertoires) t.Repertoire("depot/" + r);
  for (const std::string& f : a.fichiers) t.Fichier("depot/" + f);
  std::string entree;
  for (const auto& [rep, texte] : a.motifs) {
    const std::string chemin = rep.empty() ? ".gitignore" : rep + "/.gitignore";
    t.Fichier("depot/" + chemin, texte);
  }
  for (const auto* tout : {&a.repertoires, &a.fichiers}) {
    for (const std::string& c : *tout) entree += c + '\0';
  }
  t.Fichier("chemins", entree);
  t.Fichier("global", a.global);
  const std::string commande = "cd '" + depot +
                               "' && git init -q --template= && GIT_CONFIG_NOSYSTEM=1 git " +
                               "-c core.excludesFile='" + t / "global" +
                               "' check-ignore --no-index --stdin -z < '" + t / "chemins" + "'";
  std::set<std::string> ignores;
  FILE* f = popen(commande.c_str(), "r");
  if (f == nullptr) {
    ADD_FAILURE() << "popen";
    return ignores;
  }
  std::string sortie;
  char tampon[4096];
  for (size_t n; (n = fread(tampon, 1, sizeof tampon, f)) > 0;) sortie.append(tampon, n);
  const int statut = pclose(f);
  EXPECT_TRUE(WIFEXITED(statut) && WEXITSTATUS(statut) <= 1) << commande;
  for (size_t debut = 0, fin; (fin = sortie.find('\0', debut)) != std::string::npos;
       debut = fin + 1) {
    ignores.insert(sortie.substr(debut, fin - debut));
  }
  std::set<std::string> exclus;
  for (const auto* tout : {&a.repertoires, &a.fichiers}) {
    for (const std::string& c : *tout) {
      bool dedans = ignores.count(c) > 0;
      for (size_t k = c.find('/'); !dedans && k != std::string::npos; k = c.find('/', k + 1)) {
        dedans = ignores.count(c.substr(0, k)) > 0;
      }
      if (dedans) exclus.insert(c);
    }
  }
  return exclus;
}

TEST(Exclusions, MemesVerdictsQueGitSurDesArbresGeneres) {
  if (system("git --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "git absent";
  std::mt19937 alea(20240611);
  size_t chemins = 0, exclus = 0;
  for (int essai = 0; essai < 8 && !HasFailure(); ++essai) {
    const Arbre a = Generer(alea);
    const std::set<std::string> attendu = SelonGit(a), obtenu = SelonExclusions(a);
    chemins += a.repertoires.size() + a.fichiers.size();
    exclus += attendu.size();
    if (attendu == obtenu) continue;
    std::string recit = "global:\n" + a.global;
    for (const auto& [rep, texte] : a.motifs) recit += "[" + rep + "/.gitignore]\n" + texte;
    for (const auto* tout : {&a.repertoires, &a.fichiers}) {
      for (const std::string& c : *tout) {
        if (attendu.count(c) != obtenu.count(c)) {
          recit += "« " + c + " » : git " + (attendu.count(c) ? "l'ignore" : "le garde") + "\n";
        }
      }
    }
    ADD_FAILURE() << "essai " << essai << "\n" << recit;
  }
  // The generator must keep producing both outcomes in quantity for the test to mean much.
  EXPECT_GT(chemins, 3000u);
  EXPECT_GT(exclus, chemins / 5);
  EXPECT_LT(exclus, chemins * 4 / 5);
}

}  // namespace
}  // namespace jumelix
