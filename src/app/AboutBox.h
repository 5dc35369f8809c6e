// The about box (TAboutBox): the program's name, icon and version, and what
// kind of files it keeps. Created for one showing from the Help menu.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace klv::app {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  // version: the program's version text; factor: the dialog scale factor.
  TAboutBox(QWidget* parent, const QString& version, double factor);

  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Version = nullptr;
  QLabel* Comments = nullptr;
  QPushButton* OKButton = nullptr;
};

}  // namespace klv::app
