// The Miscellaneous picker (TMyMiscellaneous): a sorted list of the phrases
// in MISC.LST, several selectable, that fills the edit form's Misc field.
// It opens with the phrases Misc already holds selected (phrases MISC.LST
// lacks join the list for this showing only), and Ok writes the selected
// phrases back joined by ", " in the list's order.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include "app/AppState.h"

class QListWidget;
class QPushButton;

namespace klv::edit {

// The phrases of a Misc text: split at the first comma, the part before it
// taken as it stands, the rest trimmed and split the same way. Empty pieces
// name no phrase and are skipped.
QStringList SplitMiscText(const QString& text);
// The phrases joined as the picker writes them: "a, b, c".
QString JoinMiscText(const QStringList& phrases);

// The order of the picker's list: case-insensitive, ties in code order so
// the order is total.
bool MiscLess(const QString& a, const QString& b);

class TMyMiscellaneous : public QDialog {
  Q_OBJECT

 public:
  // Reads MISC.LST from the program directory and selects the phrases of
  // misc_text. Fonts and scaling come from state when shown.
  TMyMiscellaneous(QWidget* parent, const app::AppState& state, const QString& misc_text);

  // The text Ok produced; valid after exec() returned Accepted.
  const QString& result_text() const { return result_; }

  // The controls.
  QListWidget* MiscList = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

  void OkButtonClick();
  void CancelButtonClick();

  // The items in list order, and which are selected.
  QStringList Items() const;
  QStringList SelectedItems() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Adds text at its sorted place (unless present) and returns its row.
  int Insert(const QString& text);

  const app::AppState& state_;
  QString result_;
  bool shown_ = false;
};

// Opens the picker modally over parent on misc_text; returns the new text,
// or misc_text unchanged when the user cancelled.
QString PickMiscellaneous(QWidget* parent, const app::AppState& state, const QString& misc_text);

}  // namespace klv::edit
