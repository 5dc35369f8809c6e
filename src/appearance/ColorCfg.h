// The colour configuration dialog, TColorConfig: a working copy of one colour
// group shown on sample controls, thirteen buttons that each choose one of
// its colours, and twelve predefined combinations. "&Ok" hands the working
// copy back; where it goes is the caller's (StoreColorGroup). Created for one
// use and shown modally.
#pragma once

#include <array>

#include <QDialog>

#include "app/AppState.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace klv::appearance {

class TColorConfig : public QDialog {
  Q_OBJECT

 public:
  // start: the group the dialog starts from; target: 1 to 6 (ColorTarget).
  TColorConfig(const app::ColorGroup& start, int target, const app::AppState& state,
               QWidget* parent = nullptr);

  const app::ColorGroup& working() const { return working_; }
  int target() const { return target_; }

  // The preview: the samples painted from the working copy.
  void SetColors();
  // A colour button: the colour dialog on the working value of role.
  void ColorButtonClick(app::ColorRole role);
  // The chooser of predefined combinations (0 is its empty entry).
  void ColorSetsChange(int entry);
  void OkButtonClick();
  void CancelButtonClick();

  // The heading labels "Window", "Radio Button", "Check Box", "Edit Box",
  // "Combo Box", "List Box", and the label of the chooser.
  std::array<QLabel*, 6> Headings{};
  QLabel* PresetLabel = nullptr;
  QLineEdit* EditBox = nullptr;
  QListWidget* ListBox = nullptr;
  QComboBox* ComboBox = nullptr;
  QComboBox* ColorSets = nullptr;
  QCheckBox* CheckBox = nullptr;
  QRadioButton* RadioButton = nullptr;
  QPushButton* MainBack = nullptr;
  QPushButton* MajorTitles = nullptr;
  QPushButton* MinorTitles = nullptr;
  QPushButton* RadioText = nullptr;
  QPushButton* RadioBack = nullptr;
  QPushButton* CheckText = nullptr;
  QPushButton* CheckBack = nullptr;
  QPushButton* EditBoxText = nullptr;
  QPushButton* EditBoxBack = nullptr;
  QPushButton* ComboText = nullptr;
  QPushButton* ComboBack = nullptr;
  QPushButton* ListText = nullptr;
  QPushButton* ListBack = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();

  app::ColorGroup working_;
  int target_;
  const app::AppState& state_;
  bool shown_ = false;
};

// The Color menu's items and the Color Setup speed button: the dialog for
// target (1 Main, ..., 5 Configure, 6 all) starting from its group; on "&Ok"
// the group or groups take the working copy. True when the Main group changed
// and the main window must show its colours again.
bool DoColorConfig(app::AppState& state, int target, QWidget* owner);

}  // namespace klv::appearance
