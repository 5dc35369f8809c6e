// The list editor (TMyEditBox), opened from the main menu's "List
// Maintenance": edits one pick list in a working copy, which becomes the
// list only on Ok. For Country, Topic and Condition Ok replaces both copies
// of the list (edit form and viewer grid) and saves the database's three
// list files; for Miscellaneous it writes MISC.LST in the program directory.
// Cancel changes nothing.
#pragma once

#include <functional>

#include <QColor>
#include <QDialog>
#include <QString>
#include <QStringList>

#include "app/AppState.h"
#include "db/PickLists.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace klv::edit {

class TMyEditBox : public QDialog {
  Q_OBJECT

 public:
  // Starts from the edit form's copy of a field list, or from MISC.LST for
  // kMiscellaneous. save_all is what "Ok" runs after changing the list: the
  // edit form's SaveAllLists.
  TMyEditBox(QWidget* parent, const app::AppState& state, db::PickLists& lists, db::ListKind kind,
             std::function<void()> save_all);

  db::ListKind kind() const { return kind_; }
  QStringList Entries() const;

  // The controls.
  QListWidget* TheList = nullptr;
  QLineEdit* AddInfo = nullptr;
  QPushButton* AddButton = nullptr;
  QPushButton* DeleteButton = nullptr;
  QPushButton* SortButton = nullptr;
  QPushButton* OkButton = nullptr;
  QPushButton* CancelButton = nullptr;

  void AddButtonClick();
  void DeleteButtonClick();
  void SortButtonClick();
  void OkButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetColors();

  const app::AppState& state_;
  db::PickLists& lists_;
  db::ListKind kind_;
  std::function<void()> save_all_;
  bool shown_ = false;
};

// The main menu's "List Maintenance" > "Country", "Topic", "Condition"
// (EditAList) and "Miscellaneous" (EditSpecList): open the editor modally.
// Return whether the user confirmed with Ok.
bool EditAList(QWidget* owner, const app::AppState& state, db::PickLists& lists, db::ListKind kind,
               const std::function<void()>& save_all);
bool EditSpecList(QWidget* owner, const app::AppState& state, db::PickLists& lists,
                  const std::function<void()>& save_all);

// The main menu's "List Maintenance" > "Save As Defaults" and "Load In
// Defaults": each asks first (beep, question box) and on Yes saves the
// edit form's lists as the default files, or loads the default files into
// both copies. They return whether the user said Yes.
bool MenuSaveAsDefaultsClick(QWidget* parent, db::PickLists& lists);
bool MenuLoadInDefaultsClick(QWidget* parent, db::PickLists& lists);

}  // namespace klv::edit
