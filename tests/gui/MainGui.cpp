// The main of the window's test binary: its first argument names one of the QtTest
// programs of tests/gui (the name of its file, "MainWindow_test"); the arguments after it
// are that program's own (a test function, QtTest's options). No name, or an unknown
// one: the list of names, and status 2.
#include <cstdio>
#include <cstring>

#include "support/ProgrammesQTest.h"

int main(int argc, char** argv) {
  const auto& programmes = jumelix::test::ProgrammesQTest();
  const auto programme = argc >= 2 ? programmes.find(argv[1]) : programmes.end();
  if (programme == programmes.end()) {
    if (argc >= 2) std::fprintf(stderr, "%s : programme inconnu : %s\n", argv[0], argv[1]);
    std::fprintf(stderr, "utilisation : %s PROGRAMME [arguments de QtTest]\nprogrammes :\n",
                 argv[0]);
    for (const auto& p : programmes) std::fprintf(stderr, "  %s\n", p.first.c_str());
    return 2;
  }
  // The name leaves the arguments: the program sees its own after argv[0], as it would
  // alone, and argv[argc] stays null.
  std::memmove(argv + 1, argv + 2, sizeof(char*) * static_cast<unsigned>(argc - 1));
  return programme->second(argc - 1, argv);
}
