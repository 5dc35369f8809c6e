#include "app/MyNavigator.h"

#include <QHBoxLayout>
#include <QToolButton>

#include "app/AppTexts.h"
#include "app/Icons.h"
#include "db/dbf/Table.h"

namespace klv::app {

namespace {

const char* const kNavigatorNames[MyNavigator::kButtonCount] = {
    "FirstButton",  "PriorButton", "NextButton", "LastButton",   "InsertButton",
    "DeleteButton", "EditButton",  "PostButton", "CancelButton", "RefreshButton"};

}  // namespace

MyNavigator::MyNavigator(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("MyNavigator"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (int b = 0; b < kButtonCount; ++b) {
    auto* button = new QToolButton(this);
    button->setObjectName(QLatin1String(kNavigatorNames[b]));
    button->setIcon(NavigatorIcon(b));
    button->setToolTip(QLatin1String(texts::kNavigatorHints[b]));
    button->setAutoRaise(false);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(button, 1);
    connect(button, &QToolButton::clicked, this, [this, b] { emit Clicked(b); });
    buttons_[static_cast<size_t>(b)] = button;
  }
}

void MyNavigator::SetReduced(bool reduced) {
  reduced_ = reduced;
  for (int b = kInsert; b < kButtonCount; ++b)
    buttons_[static_cast<size_t>(b)]->setVisible(!reduced);
}

void MyNavigator::UpdateButtons(dbf::Table* table, bool field_editing) {
  const bool open = table && table->IsOpen();
  const bool browsing = open && table->state() == dbf::Table::State::kBrowse;
  const bool changing = open && !browsing;
  const bool rows = open && table->RecNo() != 0;
  const bool can_write = open && table->Writable() && !table->read_only();
  buttons_[kFirst]->setEnabled(browsing && rows);
  buttons_[kPrior]->setEnabled(browsing && rows);
  buttons_[kNext]->setEnabled(browsing && rows);
  buttons_[kLast]->setEnabled(browsing && rows);
  buttons_[kInsert]->setEnabled(browsing && can_write && field_editing);
  buttons_[kDelete]->setEnabled(browsing && rows && can_write);
  buttons_[kEdit]->setEnabled(browsing && rows && can_write && field_editing);
  buttons_[kPost]->setEnabled(changing);
  buttons_[kCancel]->setEnabled(changing);
  buttons_[kRefresh]->setEnabled(browsing);
}

}  // namespace klv::app
