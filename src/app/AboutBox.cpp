#include "app/AboutBox.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppTexts.h"
#include "forms/DialogRoutines.h"

namespace klv::app {

TAboutBox::TAboutBox(QWidget* parent, const QString& version, double factor) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QString::fromLatin1(texts::kAboutCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

  auto* panel = new QFrame(this);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  ProgramIcon = new QLabel(panel);
  ProgramIcon->setPixmap(QApplication::windowIcon().pixmap(48, 48));
  ProductName = new QLabel(QString::fromLatin1(klv::db::texts::kTitle), panel);
  QFont title = ProductName->font();
  title.setPointSizeF(title.pointSizeF() * 1.5);
  title.setBold(true);
  ProductName->setFont(title);
  Version = new QLabel(QString::fromLatin1(texts::kAboutVersion).arg(version), panel);
  Comments = new QLabel(QString::fromLatin1(texts::kAboutComments), panel);
  Comments->setWordWrap(true);

  auto* heading = new QHBoxLayout;
  heading->addWidget(ProgramIcon, 0, Qt::AlignTop);
  auto* names = new QVBoxLayout;
  names->addWidget(ProductName);
  names->addWidget(Version);
  names->addStretch();
  heading->addLayout(names, 1);
  auto* inside = new QVBoxLayout(panel);
  inside->addLayout(heading);
  inside->addWidget(Comments);

  OKButton = new QPushButton(QString::fromLatin1(texts::kAboutOk), this);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel);
  layout->addWidget(OKButton, 0, Qt::AlignHCenter);
  setFixedWidth(320);
  adjustSize();
  forms::ScaleAndCentre(this, factor);
}

}  // namespace klv::app
