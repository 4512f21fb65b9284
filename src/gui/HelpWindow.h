// The help window: a non-modal window that shows the built-in user guide and prints it on
// the default printer. It is created once at start and lives until the program ends;
// closing it only hides it. The guide is loaded at the first showing and kept. GUI thread
// only; printing failures are silent, a missing printer is said in a message box.
#pragma once

#include <QPushButton>
#include <QTextBrowser>
#include <QToolButton>
#include <QWidget>

namespace jumelix {

class TFormAide : public QWidget {
  Q_OBJECT

 public:
  explicit TFormAide(QWidget* parent = nullptr);
  ~TFormAide() override;

  // Loads the guide into the view when the view is empty; later calls leave it as it is.
  void ChargerAide();

  // The controls, for the tests and for the main window's screenshots.
  QTextBrowser* RichEditAide() { return &RichEditAide_; }
  QWidget* Panel1() { return &Panel1_; }
  QPushButton* ButtonOk() { return &ButtonOk_; }
  QToolButton* SpeedButtonImpr() { return &SpeedButtonImpr_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FormResize();
  void ButtonOkClick();
  void SpeedButtonImprClick();

  // Members rather than heap children: each one leaves its parent when destroyed, and
  // the buttons go before the panel that holds them.
  QTextBrowser RichEditAide_;
  QWidget Panel1_;
  QPushButton ButtonOk_;
  QToolButton SpeedButtonImpr_;
};

}  // namespace jumelix
