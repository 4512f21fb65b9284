// The "Options..." dialog: a modal view of the settings that are not the mail's, the
// archive's retention (TConfigMail::JoursArchive) and whether tagged caches are left out
// (TConfigMail::IgnorerCaches), edited in place and saved to the
// settings file with OK. The file is read again each time the dialog is shown. GUI thread
// only. The settings object must outlive the dialog.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <functional>
#include <utility>

#include "mail/ConfigMail.h"

namespace jumelix {

class TFormOptions : public QDialog {
  Q_OBJECT

 public:
  explicit TFormOptions(QWidget* parent = nullptr, TConfigMail& parametres = ParametresMail());
  ~TFormOptions() override;

  // A failure to save goes through this function, so that the tests can read it instead
  // of answering a modal box. Default: a modal QMessageBox.
  using TAfficheur = std::function<void(const QString& texte)>;
  void DefinirAfficheur(TAfficheur afficheur) { afficheur_ = std::move(afficheur); }

  // The controls, for the tests.
  QSpinBox* SpinJoursArchive() { return &SpinJoursArchive_; }
  QCheckBox* CheckIgnorerCaches() { return &CheckIgnorerCaches_; }
  QPushButton* ButtonOK() { return &ButtonOK_; }
  QPushButton* ButtonAnnuler() { return &ButtonAnnuler_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ButtonOKClick();

  TConfigMail& parametres_;
  TAfficheur afficheur_;
  QLabel LabelAvant_;
  QSpinBox SpinJoursArchive_;
  QLabel LabelApres_;
  QLabel LabelOu_;
  QCheckBox CheckIgnorerCaches_;
  QPushButton ButtonOK_;
  QPushButton ButtonAnnuler_;
};

}  // namespace jumelix
