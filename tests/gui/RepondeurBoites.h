// Test helper for the Qt windows: answers the modal message boxes and file dialogs a window
// opens, in order, with the answers queued by the test, and records what each one showed.
// A box or dialog that finds no queued answer is rejected (Escape), so a test never hangs
// on an unexpected one.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
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
  // The next file dialog chooses `chemin` (a file, or a directory for a folder chooser);
  // an empty path cancels it.
  void RepondreFichier(const QString& chemin) { fichiers_.push_back(chemin); }

  QStringList textes;                           // text of every box answered, in order
  QStringList titres;                           // title of every box answered
  QList<QMessageBox::StandardButtons> boutons;  // buttons each box offered
  QList<int> largeurs;                          // width of every box answered
  QStringList filtres_dialogues;                // name filters of every file dialog
  QStringList titres_dialogues;                 // title of every file dialog
  QStringList fichiers_proposes;                // file each dialog proposed at opening
  QStringList dossiers_dialogues;               // folder each dialog opened in
  QStringList noms_dialogues;                   // name field of each dialog at opening

 private:
  void Examiner() {
    if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      if (d->isVisible()) RepondreDialogue(d);
      return;
    }
    auto* boite = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (boite == nullptr || !boite->isVisible()) return;
    textes << boite->text();
    titres << boite->windowTitle();
    boutons << boite->standardButtons();
    largeurs << boite->width();
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

  void RepondreDialogue(QFileDialog* d) {
    filtres_dialogues << d->nameFilters().join(QStringLiteral(";;"));
    titres_dialogues << d->windowTitle();
    fichiers_proposes << d->selectedFiles().value(0);
    dossiers_dialogues << d->directory().absolutePath();
    auto* nom = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    noms_dialogues << (nom != nullptr ? nom->text() : QString());
    if (fichiers_.empty() || fichiers_.front().isEmpty()) {
      if (!fichiers_.empty()) fichiers_.pop_front();
      d->reject();
      return;
    }
    const QString chemin = fichiers_.front();
    fichiers_.pop_front();
    // Typed into the name field and accepted at once: the dialog's directory listing,
    // which loads in the background, gets no chance to change the selection meanwhile.
    if (d->fileMode() == QFileDialog::Directory) {
      d->setDirectory(chemin);
      if (nom != nullptr) nom->clear();
    } else if (nom != nullptr) {
      nom->setText(chemin);
    } else {
      d->selectFile(chemin);
    }
    static_cast<QDialog*>(d)->accept();  // QFileDialog::accept is protected
  }

  QTimer timer_;
  std::deque<QMessageBox::StandardButton> reponses_;
  std::deque<QString> fichiers_;
};

}  // namespace jumelix
