// The want list's form, TWantForm ("Want List"): View previews the list,
// Print prints it, Print To PDF asks for a file and writes it there, as the
// report chooser does with a report. Shown modally; what each button runs
// is given by whoever shows it (the report forms are not ours to include).
#pragma once

#include <functional>

#include <QDialog>

#include "app/AppState.h"

class QLabel;
class QPushButton;

namespace klv::stats {

class TWantForm : public QDialog {
  Q_OBJECT

 public:
  // Run(mode, pdf): mode 2 view, 1 print; pdf the file chosen for a PDF.
  using Run = std::function<void(int mode, const QString& pdf)>;
  TWantForm(const app::AppState& state, Run run, QWidget* parent = nullptr);

  QLabel* IntroLabel = nullptr;
  QPushButton* ViewButton = nullptr;
  QPushButton* PrintButton = nullptr;
  QPushButton* PdfButton = nullptr;
  QPushButton* CloseButton = nullptr;

  void ViewButtonClick();
  void PrintButtonClick();
  void PdfButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  const app::AppState& state_;
  Run run_;
};

}  // namespace klv::stats
