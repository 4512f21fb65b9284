// Two pairs of real trees for the tests of the preview, through the controller or through
// the window: the first pair with a file to create, one to replace, one to delete and a
// folder of two files to create; the second with one file to create. Header only: the test
// binary that includes it brings the app layer. Everything is removed with the object.
#pragma once

#include <string>

#include "app/GrilleLignes.h"
#include "support/TempTree.h"

namespace jumelix::test {

struct ArbresApercu {
  TempTree t;
  std::string S1, D1, S2, D2;

  ArbresApercu()
      : S1(t.Repertoire("s1")),
        D1(t.Repertoire("d1")),
        S2(t.Repertoire("s2")),
        D2(t.Repertoire("d2")) {
    t.Fichier("s1/neuf.txt", "neuf");
    t.Fichier("s1/change.txt", "version source, plus longue");  // 27 bytes, the largest
    t.Fichier("d1/change.txt", "ancienne");
    // Older than its source, whatever the clock's grain: no "newer destination" in the totals.
    t.DateModif("s1/change.txt", 1700000000);
    t.DateModif("d1/change.txt", 1700000000 - 60);
    t.Fichier("d1/trop.txt", "en trop");
    t.Fichier("s1/dossier/a", "a");
    t.Fichier("s1/dossier/b", "bb");
    t.Fichier("s2/x", "x");
  }
  // Rows 1 and 2 of the grid: the two pairs.
  void Remplir(TGrilleLignes& g) const {
    g.DefinirCellule(kColSource, 1, S1);
    g.DefinirCellule(kColCible, 1, D1);
    g.AjouterLigneVide();
    g.DefinirCellule(kColSource, 2, S2);
    g.DefinirCellule(kColCible, 2, D2);
  }
};

}  // namespace jumelix::test
