// The record edit form (TMyEdit, caption "Edit"): the one place where a coin
// record is typed in field by field. Created once at start-up and kept for
// the whole run; the main window shows it modally for Add, Edit and Copy
// after setting the edit mode (1 add, 2 edit, 3 copy). It works directly on
// the main window's open coin table.
//
// Promises:
// - Update writes nothing unless every check passed: the date, the three
//   amounts and the quantity must read as such and fit their fields, and
//   every text must fit the table's code page. A refusal names the fault,
//   puts the focus into the control at fault and leaves the table and the
//   pick lists as they were.
// - A row that cannot be written (locked by another copy of the program,
//   deleted by it, a disk error) is reported, the table is put back to
//   browsing, the typed record stays in the controls and the edit mode is
//   kept, so that Update can be tried again: it then begins a new row again
//   in Add and Copy mode and changes the same row in Edit mode.
// - Changing an existing row writes every field from the controls, except
//   a field the user left as loaded while another copy of the program
//   changed it meanwhile: that one keeps what the other copy stored, so its
//   change is not undone. Quantity and Wanted go together. Update always
//   changes the row the controls were loaded from, wherever the cursor was
//   moved meanwhile; a row that is gone is reported, never replaced by
//   another.
// - After a successful Update the controls show the row as stored (trimmed
//   texts, amounts and quantity in their formats); the form starts each
//   showing from the row as stored at that moment.
// - In browse-only mode the form shows and walks rows but never writes.
// - Every closing saves the pick lists to the open database's list files.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include <QDialog>
#include <QString>

#include "app/AppState.h"
#include "db/PickLists.h"
#include "db/dbf/Table.h"
#include "edit/RecordUpdate.h"
#include "forms/DialogRoutines.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPrinter;
class QPushButton;
class QStyle;

namespace klv::edit {

class TMyEdit : public QDialog {
  Q_OBJECT

 public:
  // The creation steps: controls, menus, maximum lengths, the pick lists of
  // the database open now (LoadAllList), the two default switches, the
  // browse-only restrictions, and the design dimensions for scaling. table,
  // state and lists must outlive the form.
  TMyEdit(dbf::Table& table, app::AppState& state, db::PickLists& lists, QWidget* parent = nullptr);
  ~TMyEdit() override;

  // Sets the edit mode (app::kEditAdd, kEditChange or kEditCopy) and shows the
  // form modally; returns when it has closed (QDialog::Accepted after
  // "Update & Exit", else Rejected).
  int ShowModalFor(int edit_mode);

  // A panel shown right of the fields, which grows the form by its width;
  // show_row is told the record number of each row the form loads (0 for a
  // new row not yet written).
  void SetSidePanel(QWidget* panel, std::function<void(uint32_t recno)> show_row);

  // Where an unexpected engine error is shown (the main window's general
  // error display). By default an error box titled with the program's name.
  void SetGeneralErrorDisplay(std::function<void(const QString&)> display);

  // Pick lists. LoadAllList and LoadDefaultList take the
  // lists of the database the state names as open now; SaveAllLists writes
  // the lists to the files of the database they were loaded for, so a switch
  // may save them after it has named the new database.
  void SaveAllLists();
  void LoadAllList();
  void LoadDefaultList();
  void SaveDefaultLists();
  db::PickLists& lists() { return lists_; }

  // The main menu's "List Maintenance" items: "Save As Defaults", "Load In
  // Defaults", and the list editor for Country, Topic, Condition (kind 1 to
  // 3) or Miscellaneous (kind 4), owned by owner.
  void MenuListSaveDefaultsClick(QWidget* owner);
  void MenuListLoadDefaultsClick(QWidget* owner);
  void MenuListEditClick(QWidget* owner, db::ListKind kind);

  // Operations.
  void FormShow();
  void LoadInData();
  void SaveValues();
  bool ValuesChanged() const;
  // kind: 1 new record, 2 Clear, 3 load defaults.
  void DoClear(int kind);
  bool DoUpdate();
  bool DoAnUpdate();
  bool DoUpdateAndExit();
  void DoExit();
  void DoPreviousRecord();
  void DoNextRecord();
  void DoNewRecord();
  void DoCopyRecord();
  void DoPrintRecord();
  void CalcTotals();
  void SetColors();

  // Event handlers.
  void WantedClick();
  void BlankDateClick();
  void MiscSelectClick();
  void QuantityExit();
  void PurchasePriceExit();
  void MarketValueExit();
  void PremiumValueExit();
  void HelpClick();
  void MenuLoadDefaultsClick();
  void MenuSaveDefaultsClick();
  void MenuLoadWithClearClick();
  void MenuLoadWithAddClick();
  void MenuCutClick();
  void MenuCopyClick();
  void MenuPasteClick();
  void MenuDeleteClick();

  // The date control's text with blanks where nothing is typed, e.g.
  // "  /  /    " or "5 /7 /1997".
  QString DateText() const;
  void SetDateText(const QString& text);
  // The quantity put back when Wanted is cleared.
  const QString& saved_quantity() const { return saved_quantity_; }
  // The current values as a default set (switches not filled in).
  app::DefaultValues CurrentValues() const;

  // Controls, named as the form names them.
  QComboBox* Country = nullptr;
  QLineEdit* FaceValue = nullptr;
  QLineEdit* Year = nullptr;
  QCheckBox* Approx = nullptr;
  QLineEdit* MintMark = nullptr;
  QComboBox* Condition = nullptr;
  QComboBox* Topic = nullptr;
  QLineEdit* Description = nullptr;
  QLineEdit* Comments = nullptr;
  QLineEdit* PurchDate = nullptr;
  QPushButton* BlankDate = nullptr;
  QCheckBox* Wanted = nullptr;
  QLineEdit* Misc = nullptr;
  QPushButton* MiscSelect = nullptr;
  std::array<QLineEdit*, 4> UserDef{};
  QLineEdit* Quantity = nullptr;
  QLineEdit* PurchasePrice = nullptr;
  QLineEdit* MarketValue = nullptr;
  QLineEdit* PremiumValue = nullptr;

  QLabel* CountryLabel = nullptr;
  QLabel* FaceValueLabel = nullptr;
  QLabel* YearLabel = nullptr;
  QLabel* MintMarkLabel = nullptr;
  QLabel* ConditionLabel = nullptr;
  QLabel* TopicLabel = nullptr;
  QLabel* DescriptionLabel = nullptr;
  QLabel* CommentsLabel = nullptr;
  QLabel* MiscLabel = nullptr;
  QLabel* PurchDateLabel = nullptr;
  std::array<QLabel*, 4> UserDefLabel{};
  QLabel* QuantityLabel = nullptr;
  QLabel* PurchasePriceLabel = nullptr;
  QLabel* MarketValueLabel = nullptr;
  QLabel* PremiumValueLabel = nullptr;
  QLabel* TotalsLabel = nullptr;
  QLabel* TotalPPriceLabel = nullptr;
  QLabel* TotalMValueLabel = nullptr;
  QLabel* TotalPValueLabel = nullptr;

  QPushButton* UpdateExitButton = nullptr;
  QPushButton* UpdateButton = nullptr;
  QPushButton* ClearButton = nullptr;
  QPushButton* CancelButton = nullptr;
  QPushButton* PrevButton = nullptr;
  QPushButton* NextButton = nullptr;

  QMenuBar* MainMenu = nullptr;
  QMenu* FileMenu = nullptr;
  QMenu* EditMenu = nullptr;
  QMenu* DefaultsMenu = nullptr;
  QAction* MenuNewRecord = nullptr;
  QAction* MenuCopyRecord = nullptr;
  QAction* MenuClearRecord = nullptr;
  QAction* MenuUpdateRecord = nullptr;
  QAction* MenuUpdateAndExit = nullptr;
  QAction* MenuPrintRecord = nullptr;
  QAction* MenuPreviousRecord = nullptr;
  QAction* MenuNextRecord = nullptr;
  QAction* MenuExit = nullptr;
  QAction* MenuCut = nullptr;
  QAction* MenuCopy = nullptr;
  QAction* MenuPaste = nullptr;
  QAction* MenuDelete = nullptr;
  QAction* MenuLoadDefaults = nullptr;
  QAction* MenuSaveDefaults = nullptr;
  QAction* MenuLoadWithClear = nullptr;
  QAction* MenuLoadWithAdd = nullptr;
  QAction* MenuHelp = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void done(int result) override;

 private:
  struct Snapshot {
    std::array<QString, 18> texts;
    bool approx = false;
    bool wanted = false;
  };
  enum class Answer { kUpdated, kSkip, kStay };

  void BuildControls();
  void BuildMenus();
  void InstallFilters();
  Snapshot Take() const;
  // LoadInData, optionally keeping the saved quantity (after an update with
  // Wanted ticked, the quantity to put back is still the one typed before).
  void Load(bool keep_saved_quantity);
  // Notes the current row as the one the controls stand for (record number
  // and stored bytes).
  void RememberRow();
  void ApplyWantedRule();
  // The Warning question before leaving the record; Yes runs DoUpdate.
  Answer AskToUpdate(const char* question);
  void Move(bool forward);
  // Puts the cursor back on the row the controls were loaded from when
  // something else moved it; false when that row no longer shows.
  bool BackToLoadedRow();
  void NumberExit(QLineEdit* edit, bool money);
  void SetNumberText(QLineEdit* edit, const QString& text);
  QLineEdit* FocusedPlainEdit() const;
  // Shows a refusal and puts the focus into the control at fault.
  void Refuse(QWidget* control, const QString& text);
  // Runs fn, showing an engine error it lets through.
  void Guard(const std::function<void()>& fn);
  void ShowError(const QString& message);

  dbf::Table& table_;
  app::AppState& state_;
  db::PickLists& lists_;
  std::function<void(const QString&)> general_error_;
  std::function<void(uint32_t)> show_side_row_;
  forms::SavedDimensions design_;
  Snapshot snapshot_;
  // The row the controls were last loaded from: its record number and each
  // field's stored bytes (by field number), which tell at Update what another
  // copy of the program has changed since.
  uint32_t loaded_recno_ = 0;
  RowBytes loaded_raw_{};
  QString saved_quantity_;
  QChar date_separator_ = u'/';
  std::vector<QWidget*> ring_;  // the Enter-key ring
  std::vector<QAction*> shortcut_actions_;
  bool printing_ = false;
  QStyle* indicator_style_ = nullptr;  // owned by the form
};

}  // namespace klv::edit
