// The QtTest programs of the one window test binary, by name. Each test file registers its
// program with JUMELIX_PROGRAMME_QTEST while static objects are built; the binary's main
// looks the name up once they all are, and runs that one program only.
#pragma once

#include <map>
#include <string>

namespace jumelix::test {

// A program's main, given the arguments that follow its name.
using ProgrammeQTest = int (*)(int argc, char** argv);

// A function's static, so that it exists before the first registration whatever the order
// in which the files' static objects are built. Sorted by name, for the list of programs.
inline std::map<std::string, ProgrammeQTest>& ProgrammesQTest() {
  static std::map<std::string, ProgrammeQTest> programmes;
  return programmes;
}

struct TEnregistrementQTest {
  TEnregistrementQTest(const char* nom, ProgrammeQTest programme) {
    ProgrammesQTest().emplace(nom, programme);
  }
};

}  // namespace jumelix::test

// The variable's name carries the program's, so that two files compiled in one batch do
// not define the same one.
#define JUMELIX_PROGRAMME_QTEST(nom, programme) \
  static const jumelix::test::TEnregistrementQTest jumelix_programme_##nom{#nom, programme}
