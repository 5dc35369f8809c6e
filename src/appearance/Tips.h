// The tip of the day, TTipOfDay: one of the 24 tips, the next one on
// request, and the switch for showing the dialog at start-up. Created for one
// use and shown modally; every closing sets the "Show Tips" setting from the
// switch (written with the program settings).
#pragma once

#include <QDialog>

#include "app/AppState.h"

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;

namespace klv::appearance {

class TTipOfDay : public QDialog {
  Q_OBJECT

 public:
  explicit TTipOfDay(app::AppState& state, QWidget* parent = nullptr);

  // The tip shown, 1 to 24 (0 before the dialog is first shown).
  int current() const { return current_; }

  void NextTipButtonClick();
  void CloseButtonClick();
  void done(int result) override;

  QFrame* TipPanel = nullptr;
  QLabel* Picture = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* TipComment = nullptr;
  QCheckBox* ShowTips = nullptr;
  QPushButton* NextTipButton = nullptr;
  QPushButton* CloseButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void ShowTip(int number);

  app::AppState& state_;
  int current_ = 0;
  bool shown_ = false;
};

// Help > Review "Tips of the Day", and the start-up showing.
void ShowTipOfDay(app::AppState& state, QWidget* owner);

}  // namespace klv::appearance
