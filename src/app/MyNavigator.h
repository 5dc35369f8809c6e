// The record navigator of the main window.
#pragma once

#include <array>

#include <QWidget>

class QToolButton;

namespace klv::dbf {
class Table;
}

namespace klv::app {

// The record navigator: ten buttons that move through and change the table.
// It acts through the callbacks TMain gives it, so each action runs inside
// the command guard; it only decides which buttons show and are enabled.
class MyNavigator : public QWidget {
  Q_OBJECT

 public:
  enum Button {
    kFirst,
    kPrior,
    kNext,
    kLast,
    kInsert,
    kDelete,
    kEdit,
    kPost,
    kCancel,
    kRefresh,
    kButtonCount
  };

  explicit MyNavigator(QWidget* parent = nullptr);

  // Browse-only mode keeps first, prior, next and last only.
  void SetReduced(bool reduced);
  bool reduced() const { return reduced_; }
  // Enables the buttons for the table's state: moving needs rows, Post and
  // Cancel an edit or insert, Insert and Edit in-place editing.
  void UpdateButtons(dbf::Table* table, bool field_editing);
  QToolButton* button(Button b) const { return buttons_[b]; }

 signals:
  void Clicked(int button);

 private:
  std::array<QToolButton*, kButtonCount> buttons_{};
  bool reduced_ = false;
};

}  // namespace klv::app
