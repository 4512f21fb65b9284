// Test helper for the Qt windows: answers the modal message boxes a window opens, in
// order, with the buttons queued by the test, and records what each box said. A box that
// finds no queued answer is rejected (Escape), so a test never hangs on an unexpected box.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <deque>

namespace jumelix {

class TRepondeurBoites {
 public:
  TRepondeurBoites() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Examiner(); });
    timer_.start();
  }

  void Repondre(QMessageBox::StandardButton bouton) { reponses_.push_back(bouton); }

  QStringList textes;                           // text of every box answered, in order
  QStringList titres;                           // title of every box answered
  QList<QMessageBox::StandardButtons> boutons;  // buttons each box offered

 private:
  void Examiner() {
    auto* boite = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (boite == nullptr || !boite->isVisible()) return;
    textes << boite->text();
    titres << boite->windowTitle();
    boutons << boite->standardButtons();
    if (reponses_.empty()) {
      boite->reject();
      return;
    }
    QAbstractButton* b = boite->button(reponses_.front());
    reponses_.pop_front();
    if (b != nullptr) {
      b->click();
    } else {
      boite->reject();
    }
  }

  QTimer timer_;
  std::deque<QMessageBox::StandardButton> reponses_;
};

}  // namespace jumelix
