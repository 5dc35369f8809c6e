// The printer selection form, TPrintSelect ("Printer Selection"): the
// default printer or one of the system's printers, kept in the settings
// "Default Printer" and "Printer Index". Lives as long as the main window.
#pragma once

#include <QDialog>

#include "app/AppState.h"

class QComboBox;
class QPushButton;
class QRadioButton;

namespace klv::report {

class TPrintSelect : public QDialog {
  Q_OBJECT

 public:
  explicit TPrintSelect(app::AppState& state, QWidget* parent = nullptr);

  QRadioButton* DefaultButton = nullptr;
  QRadioButton* OtherButton = nullptr;
  QComboBox* PrinterBox = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

  // The printer a run uses: -1 for the default printer, else the index.
  static int PrinterOf(const app::Settings& settings) {
    return settings.default_printer ? -1 : settings.printer_index;
  }

  void OkButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void SetColors();

  app::AppState& state_;
};

}  // namespace klv::report
