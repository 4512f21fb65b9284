#include "gui/PompeQt.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

#include "net/AttenteMessages.h"

namespace jumelix {

namespace {

// Eats keyboard and mouse input for the lifetime of one pump: the mail wait keeps the
// windows painting, but what the user types or clicks meanwhile is discarded, not
// delivered late.
class TFiltreSaisie : public QObject {
 public:
  TFiltreSaisie(bool clavier, bool souris) : clavier_(clavier), souris_(souris) {}

 protected:
  bool eventFilter(QObject* cible, QEvent* e) override {
    // The window system hands input to a window, which passes it on to the widget under
    // the pointer or with the focus: judged there, where the cancel button can be told
    // apart. Eaten at the window, it would never reach that button.
    if (cible->isWindowType() || Permise(cible, e)) return false;
    switch (e->type()) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
        return clavier_;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::NonClientAreaMouseButtonPress:
      case QEvent::NonClientAreaMouseButtonRelease:
      case QEvent::NonClientAreaMouseButtonDblClick:
        return souris_;
      default:
        return false;
    }
  }

 private:
  // The cancel button of the wait: its clicks, and its space bar (no other key: Escape
  // would close the dialog in the middle of the send).
  static bool Permise(QObject* cible, QEvent* e) {
    auto* w = qobject_cast<QWidget*>(cible);
    if (w == nullptr || !w->property(kSaisiePendantAttente).toBool() || !w->isEnabled()) return false;
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseMove:
        return true;
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
        return static_cast<QKeyEvent*>(e)->key() == Qt::Key_Space;
      default:
        return false;
    }
  }

  bool clavier_;
  bool souris_;
};

}  // namespace

void InstallerPompeQt() {
  DefinirPompeEvenements([](bool ignorerClavier, bool ignorerSouris) {
    if (QCoreApplication::instance() == nullptr) return;
    TFiltreSaisie filtre(ignorerClavier, ignorerSouris);
    QCoreApplication::instance()->installEventFilter(&filtre);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(&filtre);
  });
}

}  // namespace jumelix
