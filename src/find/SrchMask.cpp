#include "find/SrchMask.h"

#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>

#include "find/FindTexts.h"
#include "forms/ColorGroups.h"
#include "forms/DialogRoutines.h"

namespace klv::find {

namespace {

void Paint(QWidget* w, QPalette::ColorRole background_role, const QColor& background,
           QPalette::ColorRole text_role, const QColor& text) {
  QPalette p = w->palette();
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
    if (background.isValid()) p.setColor(g, background_role, background);
    if (text.isValid()) p.setColor(g, text_role, text);
  }
  w->setPalette(p);
}

}  // namespace

TSearchOptions::TSearchOptions(const app::AppState& state, int row, const QString& label,
                               QWidget* parent)
    : QDialog(parent), state_(state), row_(row) {
  setObjectName(QStringLiteral("SearchOptions"));
  setWindowTitle(QString::fromLatin1(texts::kSearchOptionsCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  FieldNameLabel = new QLabel(label, this);
  FieldNameLabel->setObjectName(QStringLiteral("FieldNameLabel"));
  FieldNameLabel->setGeometry(8, 8, 224, 18);
  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->setGeometry(8, 30, 224, 180);
  OkButton = new QPushButton(QString::fromLatin1(texts::kOkButton), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setGeometry(8, 218, 108, 27);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QString::fromLatin1(texts::kCancelButton), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(124, 218, 108, 27);
  CancelButton->setAutoDefault(false);
  resize(240, 253);

  connect(OkButton, &QPushButton::clicked, this, &TSearchOptions::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TSearchOptions::CancelButtonClick);
  connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TSearchOptions::OkButtonClick);
}

void TSearchOptions::LoadList(const QStringList& items) {
  ListBox1->clear();
  ListBox1->addItems(items);
}

int TSearchOptions::Selected() const {
  const QListWidgetItem* item = ListBox1->currentItem();
  return item != nullptr && item->isSelected() ? ListBox1->row(item) : -1;
}

void TSearchOptions::OkButtonClick() {
  accept();
}

void TSearchOptions::CancelButtonClick() {
  reject();
}

void TSearchOptions::SetColors() {
  const app::ColorGroup& c = state_.settings.colors[app::kSearchColors];
  Paint(this, QPalette::Window, c[app::kMainBackground], QPalette::WindowText, c[app::kMinorTitle]);
  setAutoFillBackground(true);
  Paint(ListBox1, QPalette::Base, c[app::kListBoxBackground], QPalette::Text, c[app::kListBoxText]);
  Paint(FieldNameLabel, QPalette::Window, c[app::kMainBackground], QPalette::WindowText,
        c[app::kMinorTitle]);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kSearch);
}

void TSearchOptions::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    forms::ApplyUserFonts(this, state_.fonts);
    forms::CentreOnScreen(this);
    SetColors();
    ListBox1->setFocus();
  }
  QDialog::showEvent(event);
}

}  // namespace klv::find
