// A pair on disk for the engine's tests that walk real trees: a temporary tree holding the
// source S ("src") and the destination D ("dst"), and the files made in it with one mode
// and one time, so that only what a test changes differs between the two sides. Header
// only; everything is removed with the fixture.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <string>

#include "support/TempTree.h"

namespace jumelix::test {

class PaireSurDisque : public ::testing::Test {
 protected:
  static constexpr time_t kT = 1678874400;  // 2023-03-15 10:00:00 UTC

  void SetUp() override {
    S = t.Repertoire("src");
    D = t.Repertoire("dst");
  }
  // The file `rel` of the tree with that content and mode, last written at kT.
  std::string Fichier(const std::string& rel, const std::string& contenu, mode_t mode = 0644) {
    std::string c = t.Fichier(rel, contenu);
    chmod(c.c_str(), mode);
    t.DateModif(rel, kT);
    return c;
  }

  TempTree t;
  std::string S, D;
};

}  // namespace jumelix::test
