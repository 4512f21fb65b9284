// The main of every GoogleTest binary. The tests run with a temporary HOME and XDG
// directories of their own, so that nothing they write (log, settings, locks) ever lands in
// the home of whoever runs them; the directory goes when the tests end. A forked child that
// ends with _exit leaves it to its parent.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/TempTree.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  jumelix::test::TempTree maison;
  const std::string racine = maison.Racine();
  const struct {
    const char* variable;
    const char* sous_repertoire;
  } kVariables[] = {
      {"HOME", ""},
      {"XDG_CONFIG_HOME", "/.config"},
      {"XDG_STATE_HOME", "/.local/state"},
      {"XDG_DATA_HOME", "/.local/share"},
      {"XDG_CACHE_HOME", "/.cache"},
      {"XDG_RUNTIME_DIR", ""},  // a 0700 directory, as the runtime directory must be
  };
  for (const auto& v : kVariables) setenv(v.variable, (racine + v.sous_repertoire).c_str(), 1);
  return RUN_ALL_TESTS();
}
