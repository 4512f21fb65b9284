// The main window as the program makes it at start without a list file, for the QtTest
// programs that drive it. Header only: the test program that includes it brings the window.
#pragma once

#include <QTest>
#include <memory>

#include "app/Programme.h"
#include "gui/MainWindow.h"

namespace jumelix::test {

// The window shown and active; nullptr when it never became active.
inline std::unique_ptr<TFormJumelix> NouvelleFenetre() {
  auto f = std::make_unique<TFormJumelix>();
  f->FormCreate(TLigneCommande{});
  f->show();
  f->activateWindow();
  if (!QTest::qWaitForWindowActive(f.get())) return nullptr;
  return f;
}

}  // namespace jumelix::test
