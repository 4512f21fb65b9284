// The "Exclusions..." dialog: the global patterns file in an editor, the source's own
// .jumelixignore read-only beside it, and a count of what all those patterns leave out of
// the source, refreshed a moment after the user stops typing (app/ApercuExclusions.h does
// the counting). "Enregistrer" writes the file, "Annuler" leaves it as it was. Built for one
// showing, for the grid's current source; GUI thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <utility>

#include "app/ApercuExclusions.h"

namespace jumelix {

class TFormExclusions : public QDialog {
  Q_OBJECT

 public:
  // `source`: the current row's source ("" when there is none); `chemin`: the global
  // patterns file, read here.
  explicit TFormExclusions(QWidget* parent, std::string source,
                           std::string chemin = CheminFichierExclusions());
  ~TFormExclusions() override;

  // A failure to save goes through this function, so that the tests can read it instead
  // of answering a modal box. Default: a modal QMessageBox.
  using TAfficheur = std::function<void(const QString& texte)>;
  void DefinirAfficheur(TAfficheur afficheur) { afficheur_ = std::move(afficheur); }

  // The controls, for the tests.
  QPlainTextEdit* EditGlobal() { return &EditGlobal_; }
  QPlainTextEdit* VueSource() { return &VueSource_; }
  QLabel* LabelApercu() { return &LabelApercu_; }
  QLabel* LabelAutres() { return &LabelAutres_; }
  QPushButton* ButtonEnregistrer() { return &ButtonEnregistrer_; }
  QPushButton* ButtonAnnuler() { return &ButtonAnnuler_; }

 private:
  void Actualiser();
  void ButtonEnregistrerClick();

  const std::string source_;
  const std::string chemin_;
  TAfficheur afficheur_;
  QLabel LabelGlobal_;
  QPlainTextEdit EditGlobal_;
  QLabel LabelSource_;
  QPlainTextEdit VueSource_;
  QLabel LabelAutres_;
  QLabel LabelNote_;
  QLabel LabelApercu_;
  QPushButton ButtonEnregistrer_;
  QPushButton ButtonAnnuler_;
  QTimer Minuterie_;
};

}  // namespace jumelix
