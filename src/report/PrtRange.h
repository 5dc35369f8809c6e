// The page range dialog, TPrintRange ("Page Printing"): the first and last
// page to print of the stored pages, checked against their count.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace klv::report {

class TPrintRange : public QDialog {
  Q_OBJECT

 public:
  TPrintRange(int page_count, double scale_factor, QWidget* parent = nullptr);

  QLabel* StartLabel = nullptr;
  QLabel* EndLabel = nullptr;
  QLineEdit* StartEdit = nullptr;
  QLineEdit* EndEdit = nullptr;
  QPushButton* PrintButton = nullptr;
  QPushButton* CancelButton = nullptr;

  // The range chosen, once Print accepted it.
  int first() const { return first_; }
  int last() const { return last_; }

  void PrintButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetColors();
  void Refuse(const char* text, QLineEdit* edit);

  int page_count_;
  double scale_factor_;
  int first_ = 0, last_ = 0;
};

}  // namespace klv::report
