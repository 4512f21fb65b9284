// The main of every QtTest program: like the GoogleTest binaries, the tests run with a
// temporary HOME and XDG directories of their own, so nothing the windows read or write
// (settings, log, locks) ever touches the home of whoever runs them, and on the offscreen
// platform unless another is asked for. The programs share one binary (tests/gui/MainGui.cpp
// picks one by name); each runs alone in its process, so there is one QApplication at a time.
#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include "support/ProgrammesQTest.h"

namespace jumelix::test {

template <class TTest>
int LancerQTest(int argc, char** argv) {
  QTemporaryDir maison;
  qputenv("HOME", maison.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (maison.path() + "/config").toLocal8Bit());
  qputenv("XDG_STATE_HOME", (maison.path() + "/state").toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", maison.path().toLocal8Bit());  // a 0700 directory
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace jumelix::test

// Registers the QtTest class `Classe` as the program `nom` (its file's name).
#define JUMELIX_QTEST(nom, Classe) \
  JUMELIX_PROGRAMME_QTEST(nom, &jumelix::test::LancerQTest<Classe>)
