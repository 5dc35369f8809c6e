// The viewer configuration dialog, TViewConfig: which fields the viewer grid
// shows, in which order, how wide and under which captions, and how the grid
// looks (title row, fonts, colours, lines, row indicator, in-cell editing).
//
// The check boxes, alignment, colours and fonts change the settings at once;
// the four field grids take effect when the dialog closes, which it does only
// once the captions are distinct. Closing then asks the caller to apply the
// grid settings (the main window's SetViewerOptions). There is no Cancel.
// Created for one use and shown modally.
#pragma once

#include <array>
#include <functional>

#include <QDialog>

#include "app/AppState.h"
#include "appearance/GridConfig.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableWidget;

namespace klv::appearance {

class TViewConfig : public QDialog {
  Q_OBJECT

 public:
  // apply: applies the grid settings to the viewer grid, after a close.
  TViewConfig(app::AppState& state, std::function<void()> apply, QWidget* parent = nullptr);

  // The pages, in order.
  enum Page : int { kTitlePage, kLookPage, kShowPage, kWidthsPage, kOrderPage, kNamesPage };

  // The texts the four field grids hold now.
  GridPages Pages() const;

  void TitleFontButtonClick();
  void NewFontButtonClick();
  void TitleColorButtonClick();  // Button1
  void NewColorButtonClick();
  void TitleFontColorClick();
  void GridFontColorClick();
  void AlignmentClick(int alignment);  // 1 left, 2 centre, 3 right
  void FieldsToDisplayDblClick(int row, int column);
  void OrderUpClick();
  void OrderDownClick();
  void OrderDefaultsClick();
  void HelpButtonClick();
  void ExitButtonClick();
  // Every way of closing comes here: the captions are checked and the grids
  // applied; a refused close keeps the dialog open.
  void done(int result) override;

  QTabWidget* MyTabbedPage = nullptr;
  // "&Title"
  QCheckBox* ShowGridTitle = nullptr;
  QLineEdit* TitleFont = nullptr;
  QPushButton* TitleFontButton = nullptr;
  QPushButton* TitleFontColor = nullptr;  // the title font's colour
  QFrame* TitleShape = nullptr;
  QPushButton* Button1 = nullptr;
  QRadioButton* TitleLeft = nullptr;
  QRadioButton* TitleCenter = nullptr;
  QRadioButton* TitleRight = nullptr;
  // "&Look and Feel"
  QCheckBox* ColumnLines = nullptr;
  QCheckBox* RowLines = nullptr;
  QCheckBox* RowIndicator = nullptr;
  QCheckBox* FieldEditing = nullptr;
  QCheckBox* ObverseColumn = nullptr;
  QFrame* CellColorShape = nullptr;
  QPushButton* NewColorBUtton = nullptr;
  QLineEdit* GridFont = nullptr;
  QPushButton* NewFontButton = nullptr;
  QPushButton* GridFontColor = nullptr;  // the cell font's colour
  // The six section headings: "Title Font", "Background", "Alignment", "Grid
  // Options", "Cell Color", "Cell Font".
  std::array<QLabel*, 6> Headings{};
  // The other pages.
  QLabel* ShowInstruction = nullptr;
  QTableWidget* FieldsToDisplay = nullptr;
  QTableWidget* FieldWidthGrid = nullptr;
  QLabel* OrderFieldLabel = nullptr;
  QLabel* OrderOrderingLabel = nullptr;
  QTableWidget* FieldOrderGrid = nullptr;
  QPushButton* OrderUp = nullptr;
  QPushButton* OrderDown = nullptr;
  QPushButton* OrderDefaults = nullptr;
  QTableWidget* FieldNameGrid = nullptr;
  QPushButton* ExitButton = nullptr;
  QPushButton* HelpButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct FontRow {
    QLineEdit** edit;
    const char* edit_name;
    QPushButton** font;
    const char* font_name;
    QPushButton** color;
    const char* color_name;
    void (TViewConfig::*font_click)();
    void (TViewConfig::*color_click)();
  };
  void AddHeading(QWidget* page, int i, const char* text, int y);
  void AddFontRow(QWidget* page, int y, FontRow row);
  void BuildTitlePage(QWidget* page);
  void BuildLookPage(QWidget* page);
  void BuildGridPages();
  void FormShow();
  void FillGrids();
  void SetColors();
  void PaintSwatch(QFrame* swatch, const QColor& color);
  // Asks for a font's colour (drawn in the grid once the form closes).
  void ChooseFontColor(QColor& color);
  void SelectAlignment();
  bool FormClose();
  void ChooseGridFont(QFont& font, QFont& user_font, QLineEdit* text);

  app::AppState& state_;
  std::function<void()> apply_;
  bool shown_ = false;
  bool closing_ = false;
};

// The Viewer command: the dialog, shown modally; apply applies the grid
// settings after it has closed.
void DoViewerConfig(app::AppState& state, QWidget* owner, std::function<void()> apply);

}  // namespace klv::appearance
