// Extended attributes and ACLs through whole walks on real trees, checked with the system's
// own tools: getfattr and getfacl show the same on both sides, rsync -HAX finds nothing
// left to do, a difference of attributes alone is fixed in place (same inode, no copy), a
// comparison reports it, and a destination that cannot hold them is noted once per pair.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "engine/MarqueAttributs.h"
#include "engine/UDelta.h"
#include "platform/SystemeFichiers.h"
#include "support/BilanParcours.h"
#include "support/OutilsAttributs.h"
#include "support/PaireSurDisque.h"
#include "support/ProcessusFils.h"
#include "support/SystemeFautif.h"
#include "support/TempTree.h"
#include "support/VolumeExfat.h"

namespace jumelix {
namespace {

using test::Cite;
using test::EcartsRsync;
using test::Executer;
using test::TempTree;
using test::Traiter;
using test::Xattrs;
using Lignes = std::vector<std::string>;

class Attributs : public test::PaireSurDisque {
 protected:
  void SetUp() override {
    PaireSurDisque::SetUp();
    if (!Executer("setfattr -n user.essai -v 1 " + Cite(S)) || !Executer("setfacl -b " + Cite(S))) {
      GTEST_SKIP() << "setfattr/setfacl missing, or no user xattrs here (packages attr, acl)";
    }
    Executer("setfattr -x user.essai " + Cite(S));
  }
  // Runs a setfattr, setfacl or setcap command on the entry `rel` of the tree.
  void Sur(const std::string& commande, const std::string& rel) {
    ASSERT_TRUE(Executer(commande + " " + Cite(t.Chemin(rel)))) << commande << " " << rel;
  }
  void Pareils(const std::string& rel) {
    SCOPED_TRACE(rel);
    EXPECT_EQ(Xattrs(S + "/" + rel), Xattrs(D + "/" + rel));
    EXPECT_EQ(test::Acl(S + "/" + rel), test::Acl(D + "/" + rel));
  }
  std::string Ecarts() { return EcartsRsync(S, D, "-HAX"); }
  // A walk of the pair that keeps its marks in `marques` (empty: none kept).
  test::Bilan Synchro(bool comparer = false, TEtatRun* etat = nullptr) {
    TEtatRun local;
    TEtatRun& e = etat != nullptr ? *etat : local;
    e.Marques = marques;
    return Traiter(S, D, comparer, {}, &e);
  }
  // Whether the walks may keep marks here: the tree is on a file system of this kernel.
  bool MarquesPossibles() {
    platform::TRepertoire r;
    platform::IdentiteRepertoire id;
    return r.OuvrirChemin(S) == 0 && r.Identifier(id) == 0 && id.HorlogeLocale;
  }
  // A source without extended attributes, mirrored twice with marks kept: the second walk
  // used the first one's mark and left its own.
  void MiroirMarque() {
    marques = t.Chemin("marques");
    Fichier("src/f", "contenu");
    t.Repertoire("src/rep");
    Fichier("src/rep/g", "g");
    ASSERT_TRUE(Synchro().lignes.empty());
    ASSERT_TRUE(Synchro().lignes.empty());
    ASSERT_EQ(TempTree::Noms(marques).size(), 1u) << "a complete run leaves its mark";
  }
  std::string marques;
  // A source with attributes and ACLs on files and directories, mirrored once.
  void ArbreMiroir() {
    Fichier("src/f", "contenu");
    Sur("setfattr -n user.a -v 1", "src/f");
    t.Repertoire("src/rep");
    Fichier("src/rep/g", "g");
    Sur("setfattr -n user.r -v 1", "src/rep");
    ASSERT_TRUE(Traiter(S, D, false).lignes.empty());
  }
};

TEST_F(Attributs, FirstRunCarriesAttributesAndAclsOfFilesAndDirectories) {
  Fichier("src/f", "contenu");
  Sur("setfattr -n user.a -v 1", "src/f");
  Sur("setfattr -n user.binaire -v 0x00ff10", "src/f");
  Sur("setfacl -m u:nobody:r", "src/f");
  Fichier("src/lecture-seule", "ro", 0444);
  Sur("setfattr -n user.ro -v oui", "src/lecture-seule");
  Fichier("src/sans", "rien");
  t.Repertoire("src/rep");
  Sur("setfattr -n user.r -v 1", "src/rep");
  Sur("setfacl -m u:nobody:rx -m d:u:nobody:rwx", "src/rep");
  Fichier("src/rep/herite", "h");  // has no ACL, though its mirror's directory has a default one
  t.Lien("src/lien", "f");
  t.DateModif("src/rep", kT);

  const test::Bilan b = Traiter(S, D, false);
  EXPECT_EQ(b.lignes, Lignes{});
  for (const char* rel : {"f", "lecture-seule", "sans", "rep", "rep/herite"}) Pareils(rel);
  EXPECT_NE(test::Acl(D + "/rep").find("default:user:nobody:rwx"), std::string::npos);
  EXPECT_EQ(Ecarts(), "");

  // Once mirrored, nothing is left to do: no copy, no change.
  const test::Bilan ensuite = Traiter(S, D, false);
  EXPECT_EQ(ensuite.lignes, Lignes{});
  EXPECT_EQ(ensuite.copies, 0);
  EXPECT_EQ(Traiter(S, D, true).lignes, Lignes{});
}

// Each kind of attribute-only difference: fixed in place (the same inode, no copy, told as
// an attributes change), and reported by a comparison before that.
TEST_F(Attributs, AttributeOnlyDifferencesAreFixedInPlace) {
  struct Cas {
    const char* quoi;
    const char* commande;
    const char* rel;  // in the tree
    bool fichier;     // the change concerns dst/f (else the directory dst/rep)
  } cas[] = {
      {"value changed in the source", "setfattr -n user.a -v 2", "src/f", true},
      {"added in the source", "setfattr -n user.neuf -v x", "src/f", true},
      {"removed from the source", "setfattr -x user.a", "src/f", true},
      {"ACL added in the source", "setfacl -m u:nobody:rw", "src/f", true},
      {"added to the mirror only", "setfattr -n user.intrus -v 1", "dst/f", true},
      {"ACL added to the mirror only", "setfacl -m u:nobody:r", "dst/f", true},
      {"directory's attribute changed", "setfattr -n user.r -v 2", "src/rep", false},
      {"directory's default ACL added", "setfacl -d -m u:nobody:r", "src/rep", false},
  };
  for (const Cas& c : cas) {
    SCOPED_TRACE(c.quoi);
    Executer("rm -rf " + Cite(S) + "/* " + Cite(D) + "/*");
    ArbreMiroir();
    Sur(c.commande, c.rel);
    const ino_t avant = test::Inode(D + "/f");
    const std::string vuAvant = Xattrs(D + "/f");
    if (c.fichier) {
      EXPECT_EQ(Traiter(S, D, true).lignes,
                Lignes{D + "/f ==> attributs différents du fichier source."});
      EXPECT_EQ(Xattrs(D + "/f"), vuAvant);  // a comparison changes nothing
    }
    std::vector<TAction> actions;
    TEtatRun etat;
    etat.SurAction = [&](const TAction& a) { actions.push_back(a); };
    const test::Bilan b = Traiter(S, D, false, {}, &etat);
    EXPECT_EQ(b.lignes, Lignes{});
    EXPECT_EQ(b.copies, 0);
    EXPECT_EQ(test::Inode(D + "/f"), avant);
    Pareils("f");
    Pareils("rep");
    EXPECT_EQ(Ecarts(), "");
    if (c.fichier) {
      ASSERT_EQ(actions.size(), 1u);
      EXPECT_EQ(actions[0].type, TypeAction::Attributs);
      EXPECT_EQ(actions[0].chemin, D + "/f");
    }
  }
}

// As root, trusted.* and file capabilities are mirrored, capabilities even where the copy
// changes owner (which clears them); other security.* names are neither copied nor removed.
TEST_F(Attributs, NamespacesFollowWhatTheUserMayWrite) {
  if (geteuid() != 0) GTEST_SKIP() << "trusted.* and capabilities need root";
  if (!Executer("command -v setcap")) GTEST_SKIP() << "no setcap (package libcap2-bin)";
  Fichier("src/outil", "binaire", 0755);
  Sur("setcap cap_net_raw+ep", "src/outil");
  Fichier("src/autre", "binaire", 0755);
  ASSERT_EQ(lchown(t.Chemin("src/autre").c_str(), test::kIdNobody, test::kIdNobody), 0);
  Sur("setcap cap_net_bind_service+ep", "src/autre");
  Fichier("src/confiance", "t");
  Sur("setfattr -n trusted.t -v 1", "src/confiance");
  Fichier("src/etiquette", "e");
  Sur("setfattr -n security.jumelix -v source", "src/etiquette");

  EXPECT_EQ(Traiter(S, D, false).lignes, Lignes{});
  EXPECT_EQ(test::Capacites(D + "/outil"), test::Capacites(S + "/outil"));
  EXPECT_NE(test::Capacites(D + "/outil").find("cap_net_raw"), std::string::npos);
  EXPECT_EQ(test::Capacites(D + "/autre"), test::Capacites(S + "/autre"));
  EXPECT_EQ(Xattrs(D + "/confiance"), Xattrs(S + "/confiance"));
  EXPECT_EQ(Xattrs(D + "/etiquette"), "");  // not copied

  // Someone's label on the mirror stays; a capability removed from the source goes.
  Sur("setfattr -n security.jumelix -v miroir", "dst/etiquette");
  Sur("setcap -r", "src/outil");
  EXPECT_EQ(Traiter(S, D, false).lignes, Lignes{});
  EXPECT_EQ(test::Capacites(D + "/outil"), "");
  EXPECT_NE(Xattrs(D + "/etiquette").find("security.jumelix"), std::string::npos);
  EXPECT_EQ(Traiter(S, D, false).lignes, Lignes{});
}

TEST_F(Attributs, AttributesThatCannotBeReadOrWrittenGiveTheUsualLine) {
  for (auto op : {platform::Operation::AttributsEtendus, platform::Operation::Attributs}) {
    SCOPED_TRACE(static_cast<int>(op));
    Executer("rm -rf " + Cite(S) + "/* " + Cite(D) + "/*");
    ArbreMiroir();
    Sur("setfattr -n user.a -v 2", "src/f");
    test::SystemeFautif fs;
    fs.Echouer(op, EIO, "f");
    EXPECT_EQ(Traiter(S, D, false, fs).lignes,
              Lignes{"Impossible de modifier les attributs de " + D + "/f"});
    EXPECT_NE(Ecarts(), "");
    EXPECT_EQ(Traiter(S, D, false).lignes, Lignes{});
    EXPECT_EQ(Ecarts(), "");
  }
}

// A USB disk formatted for Windows holds no extended attributes: the pair is mirrored
// without a report line, and the note comes once per pair, at each run.
TEST_F(Attributs, DestinationWithoutAttributesIsNotedOncePerPair) {
  test::VolumeExfat exfat;
  test::VolumeVfat vfat;
  struct Volume {
    const char* nom;
    bool monte;
    std::string raison, racine;
  } volumes[] = {{"exFAT", exfat.Monte(), exfat.Raison(), exfat.Racine()},
                 {"vfat", vfat.Monte(), vfat.Raison(), vfat.Racine()}};
  Fichier("src/a", "a");
  Fichier("src/b", "b");
  t.Repertoire("src/rep");
  Fichier("src/rep/c", "c");
  for (const char* rel : {"src/a", "src/b", "src/rep", "src/rep/c"}) {
    Sur("setfattr -n user.x -v 1", rel);
  }
  int essayes = 0;
  for (const Volume& v : volumes) {
    SCOPED_TRACE(v.nom);
    if (!v.monte) {
      std::printf("%s skipped: %s\n", v.nom, v.raison.c_str());
      continue;
    }
    ++essayes;
    const std::string cible = v.racine + "/miroir";
    for (bool comparer : {false, false, true}) {
      const test::Bilan b = Traiter(S, cible, comparer);
      EXPECT_EQ(b.lignes, Lignes{});
      ASSERT_EQ(b.remarques.size(), 1u);
      EXPECT_EQ(b.remarques[0].type, TypeRemarque::AttributsEtendusNonGardes);
      EXPECT_EQ(b.remarques[0].destination, cible);
    }
    EXPECT_EQ(TempTree::Lire(cible + "/rep/c"), "c");
  }
  if (essayes == 0) GTEST_SKIP() << "no exFAT nor vfat volume here";
}

// With marks kept, what a change of either side does to attributes is still seen: a walk
// that follows a marked one fixes each such difference (a comparison reports those of
// files, as without marks) and rsync -HAX finds nothing left.
TEST_F(Attributs, MarkedWalksStillSeeEveryChangeOfAttributes) {
  if (!MarquesPossibles()) GTEST_SKIP() << "the test tree is not on a file system of this kernel";
  struct Cas {
    const char* quoi;
    const char* commande;
    const char* rel;
    bool fichier;
  } cas[] = {
      {"added in the source", "setfattr -n user.neuf -v x", "src/f", true},
      {"ACL added in the source", "setfacl -m u:nobody:rw", "src/f", true},
      {"added to the mirror only", "setfattr -n user.intrus -v 1", "dst/f", true},
      {"ACL added to the mirror only", "setfacl -m u:nobody:r", "dst/rep/g", true},
      {"added to a directory of the source", "setfattr -n user.r -v 2", "src/rep", false},
      {"default ACL added to a mirrored directory", "setfacl -d -m u:nobody:r", "dst/rep", false},
  };
  for (const Cas& c : cas) {
    SCOPED_TRACE(c.quoi);
    Executer("rm -rf " + Cite(S) + "/* " + Cite(D) + "/* " + Cite(t.Chemin("marques")));
    MiroirMarque();
    Sur(c.commande, c.rel);
    if (c.fichier) {
      EXPECT_EQ(Synchro(true).lignes.size(), 1u);
    }
    EXPECT_EQ(Synchro().lignes, Lignes{});
    for (const char* rel : {"f", "rep", "rep/g"}) Pareils(rel);
    EXPECT_EQ(Ecarts(), "");
    EXPECT_EQ(Synchro(true).lignes, Lignes{});
  }
}

// A mark lets the walks leave unasked the destination entries unchanged since a walk that
// left the destination without attributes. A difference made behind a mark's back (the
// hook moves the clock on, so that the mark is later than the difference, as when someone
// sets an attribute with the clock set back) is left by the walks that use it; every case
// where the mark does not vouch for the destination makes them find and fix it.
TEST_F(Attributs, AMarkVouchesOnlyForWhatAWholeRunLeftWithoutAttributes) {
  if (!MarquesPossibles()) GTEST_SKIP() << "the test tree is not on a file system of this kernel";
  using Avant = void (*)(TempTree& t, TEtatRun& etat, test::SystemeFautif& fautif);
  using Apres = void (*)(TempTree& t);
  const Avant rien = [](TempTree&, TEtatRun&, test::SystemeFautif&) {};
  const Apres rienApres = [](TempTree&) {};
  struct Cas {
    const char* quoi;
    bool laissee;  // the planted difference stays
    Avant avant;   // before the marking run (A), with that run's state
    Apres apres;   // between A and the walks that use the mark (B)
    int64_t decalageB = 20;  // the clock of B, moved on as much
  } cas[] = {
      {"a complete run's mark", true, rien, rienApres},
      {"the marking run reported a line", false,
       [](TempTree&, TEtatRun& e, test::SystemeFautif& fautif) {
         fautif.Echouer(platform::Operation::Decrire, EIO, "g");
         e.Systeme = &fautif;
       },
       rienApres},
      {"a pattern left an entry out", false,
       [](TempTree& t, TEtatRun&, test::SystemeFautif&) {
         t.Fichier("src/.jumelixignore", "brouillon\n");
         t.Fichier("src/brouillon", "b");
       },
       rienApres},
      {"the preview left a change out", false,
       [](TempTree& t, TEtatRun& e, test::SystemeFautif&) {
         t.Fichier("src/nouveau", "n");
         e.SurChoix = [](const TAction&) { return TChoix::Laisser; };
       },
       rienApres},
      {"the source holds an attribute", false,
       [](TempTree& t, TEtatRun&, test::SystemeFautif&) {
         ASSERT_TRUE(Executer("setfattr -n user.s -v 1 " + Cite(t.Chemin("src/rep/g"))));
       },
       rienApres},
      {"an attribute set in the source since, with an older change time (a snapshot's)", false,
       rien,
       [](TempTree& t) {
         ASSERT_TRUE(Executer("setfattr -n user.s -v 1 " + Cite(t.Chemin("src/f"))));
       }},
      {"the source root is another directory since", false,
       [](TempTree& t, TEtatRun&, test::SystemeFautif&) {
         ASSERT_TRUE(Executer("cp -a " + Cite(t.Chemin("src")) + " " + Cite(t.Chemin("jumeau"))));
       },
       [](TempTree& t) {
         ASSERT_TRUE(Executer("mv " + Cite(t.Chemin("src")) + " " + Cite(t.Chemin("ancien")) +
                              " && mv " + Cite(t.Chemin("jumeau")) + " " + Cite(t.Chemin("src"))));
       }},
      {"the clock was set back", false, rien, rienApres, 0},
  };
  for (const Cas& c : cas) {
    SCOPED_TRACE(c.quoi);
    Executer("rm -rf " + Cite(S) + " " + Cite(D) + " " + Cite(t.Chemin("marques")) + " " +
             Cite(t.Chemin("ancien")));
    t.Repertoire("src");
    t.Repertoire("dst");
    MiroirMarque();
    test::SystemeFautif fautif;
    TEtatRun a;
    c.avant(t, a, fautif);
    DecalageHorlogeMarques = 10;
    Synchro(false, &a);
    DecalageHorlogeMarques = 0;
    c.apres(t);
    Sur("setfattr -n user.intrus -v plantee", "dst/f");
    const std::string plantes = Xattrs(D + "/f");
    DecalageHorlogeMarques = c.decalageB;
    const test::Bilan comparaison = Synchro(true);
    const test::Bilan b = Synchro();
    DecalageHorlogeMarques = 0;
    EXPECT_EQ(b.lignes, Lignes{});
    const Lignes& vues = comparaison.lignes;
    const bool vue = std::count(vues.begin(), vues.end(),
                                D + "/f ==> attributs différents du fichier source.") == 1;
    EXPECT_EQ(vue, !c.laissee);
    EXPECT_EQ(Xattrs(D + "/f"), c.laissee ? plantes : Xattrs(S + "/f"));
  }
}

}  // namespace
}  // namespace jumelix
