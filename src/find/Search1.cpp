#include "find/Search1.h"

#include <cstdlib>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include "app/Formats.h"
#include "db/FieldTable.h"
#include "find/FindTexts.h"
#include "find/SrchMask.h"
#include "forms/BusyRun.h"
#include "forms/ColorGroups.h"
#include "forms/MaskedInput.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"

namespace klv::find {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

namespace {

using platform::L;

constexpr int kFieldColumn = 0;
constexpr int kPickColumn = 1;
constexpr int kCriteriaColumn = 2;
// The grid's design row height: all 21 rows show without scrolling.
constexpr int kDefaultRowHeight = 17;

}  // namespace

QString InputMaskOf(const QString& classic, QChar date_separator) {
  // Characters with a meaning of their own in an input mask; as literals
  // they are escaped.
  static const QString kSpecial = QStringLiteral("AaNnXx90Dd#HhBb<>!\\[]{}");
  QString body = classic;
  const int semicolon = body.indexOf(QLatin1Char(';'));
  if (semicolon >= 0) body.truncate(semicolon);
  QString out;
  auto literal = [&](QChar c) {
    if (kSpecial.contains(c)) out += QLatin1Char('\\');
    out += c;
  };
  for (int i = 0; i < body.size(); ++i) {
    const QChar c = body[i];
    if (c == QLatin1Char('\\') && i + 1 < body.size()) {
      literal(body[++i]);
    } else if (c == QLatin1Char('c')) {
      out += QLatin1Char('x');
    } else if (c == QLatin1Char('9')) {
      out += QLatin1Char('0');
    } else if (c == QLatin1Char('0')) {
      out += QLatin1Char('9');
    } else if (c == QLatin1Char('/')) {
      literal(date_separator);
    } else {
      literal(c);
    }
  }
  // Blanks are spaces: the cell keeps the literals and blanks as typed.
  return out + QStringLiteral("; ");
}

// Column 2 is edited in a masked edit whose mask follows the row's field and
// operator; column 1 of rows with a picker is drawn as the grey "..." button.
class SearchMaskDelegate : public QStyledItemDelegate {
 public:
  explicit SearchMaskDelegate(TMySearch* form) : QStyledItemDelegate(form), form_(form) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    if (index.column() != kCriteriaColumn || index.row() < 1) return nullptr;
    auto* edit = new QLineEdit(parent);
    edit->setFrame(false);
    edit->setInputMask(form_->RowInputMask(index.row()));
    forms::TakeTypedInput(edit);
    edit->setFont(option.font);
    editor_ = edit;
    return edit;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* edit = static_cast<QLineEdit*>(editor);
    edit->setText(index.data(Qt::EditRole).toString());
    edit->setCursorPosition(0);
  }
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    // displayText keeps the blanks, which tell an unfilled date from a date.
    model->setData(index, static_cast<QLineEdit*>(editor)->displayText(), Qt::EditRole);
  }
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    if (index.column() == kPickColumn && index.row() >= 1 && HasPickButton(index.row())) {
      // Grey, unless the grid's own colour is too near grey for the button
      // to be seen: then a lighter or darker grey, with text that reads on it.
      const QColor grid = option.palette.color(QPalette::Base);
      QColor fill(128, 128, 128);
      if (std::abs(grid.lightness() - fill.lightness()) < 64)
        fill = grid.lightness() < 128 ? QColor(200, 200, 200) : QColor(56, 56, 56);
      painter->fillRect(option.rect, fill);
      painter->setPen(fill.lightness() >= 100 ? Qt::black : Qt::white);
      painter->drawText(option.rect, Qt::AlignCenter, L(texts::kPickButton));
      return;
    }
    QStyledItemDelegate::paint(painter, option, index);
  }

  // Writes what the editor open in view holds into its cell. An editor the
  // view has closed already wrote its text and may only await deletion.
  void Commit(QAbstractItemView* view) {
    if (editor_ && view->indexWidget(view->currentIndex()) == editor_) emit commitData(editor_);
  }

 private:
  TMySearch* form_;
  mutable QPointer<QLineEdit> editor_;
};

TMySearch::TMySearch(app::OpenDatabase& db, QWidget* parent) : QDialog(parent), db_(db) {
  setObjectName(QStringLiteral("MySearch"));
  setWindowTitle(L(texts::kSearchCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  ops_.fill(RowOperator::kEqual);

  SearchGrid = new QTableWidget(kGridRows + 1, 3, this);
  SearchGrid->setObjectName(QStringLiteral("SearchGrid"));
  SearchGrid->horizontalHeader()->hide();
  SearchGrid->verticalHeader()->hide();
  // The style's minimum would make the rows taller than the grid's design.
  SearchGrid->verticalHeader()->setMinimumSectionSize(1);
  SearchGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  SearchGrid->setTabKeyNavigation(true);
  SearchGrid->setEditTriggers(QAbstractItemView::AllEditTriggers);
  SearchGrid->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  delegate_ = new SearchMaskDelegate(this);
  SearchGrid->setItemDelegate(delegate_);
  for (int r = 0; r <= kGridRows; ++r) {
    for (int c = 0; c < 3; ++c) {
      auto* item = new QTableWidgetItem;
      if (r == 0 || c != kCriteriaColumn) item->setFlags(Qt::ItemIsEnabled);
      if (r == 0) {
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
        item->setBackground(palette().button());
      }
      SearchGrid->setItem(r, c, item);
    }
  }
  SearchGrid->setGeometry(8, 8, 620, (kGridRows + 1) * kDefaultRowHeight + 4);

  auto button = [this](const char* text, const char* name, int x) {
    auto* b = new QPushButton(L(text), this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    b->setGeometry(x, 388, 116, 27);
    return b;
  };
  OkButton = button(texts::kOkButton, "OkButton", 8);
  ExitButton = button(texts::kExitButton, "ExitButton", 134);
  ClearButton = button(texts::kClearButton, "ClearButton", 260);
  MoreButton = button(texts::kMoreButton, "MoreButton", 386);
  HelpButton = button(texts::kHelpButton, "HelpButton", 512);
  resize(636, 423);

  auto guarded = [this](void (TMySearch::*slot)()) {
    return [this, slot] { Guard([this, slot] { (this->*slot)(); }); };
  };
  connect(OkButton, &QPushButton::clicked, this, guarded(&TMySearch::OkButtonClick));
  connect(ExitButton, &QPushButton::clicked, this, guarded(&TMySearch::ExitButtonClick));
  connect(ClearButton, &QPushButton::clicked, this, guarded(&TMySearch::ClearButtonClick));
  connect(MoreButton, &QPushButton::clicked, this, guarded(&TMySearch::MoreButtonClick));
  connect(HelpButton, &QPushButton::clicked, this, guarded(&TMySearch::HelpButtonClick));
  connect(SearchGrid, &QTableWidget::cellPressed, this, [this](int row, int column) {
    pressed_row_ = row;
    pressed_column_ = column;
  });
  connect(SearchGrid, &QTableWidget::cellClicked, this, [this](int row, int column) {
    if (row != pressed_row_ || column != pressed_column_) return;
    // A click on the current criteria cell opens its editor, also when the
    // cell was made current without one (after Find More or Clear Search).
    if (column == kCriteriaColumn && row >= 1 &&
        !SearchGrid->indexWidget(SearchGrid->model()->index(row, column)))
      SearchGrid->editItem(SearchGrid->item(row, column));
    Guard([this, row, column] { SearchGridMouseUp(row, column); });
  });

  saved_ = forms::SaveDimensions(this);
}

TMySearch::~TMySearch() {
  if (db_.row_filter() == &filter_) db_.SetRowFilter(nullptr);
}

QString TMySearch::FieldLabel(int row) const {
  return db_.state().settings.field_names[static_cast<size_t>(row)];
}

QString TMySearch::RowInputMask(int row) const {
  return InputMaskOf(SearchEditMask(row, row_operator(row)),
                     QLatin1Char(app::DateFormatSeparator(db_.state().settings.date_format)));
}

QString TMySearch::CellText(int row) const {
  return SearchGrid->item(row, kCriteriaColumn)->text();
}

void TMySearch::SetCellText(int row, const QString& text) {
  SearchGrid->item(row, kCriteriaColumn)->setText(text);
}

void TMySearch::ShowModal() {
  exec();
}

void TMySearch::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TMySearch::FormShow() {
  const app::AppState& state = db_.state();
  forms::ScaleDialog(this, saved_, state.scale_factor);
  forms::ApplyUserFonts(this, state.fonts);
  list_.ClearSearch();
  const double factor = state.scale_factor;
  SearchGrid->item(0, kFieldColumn)->setText(L(texts::kFieldHeader));
  SearchGrid->item(0, kCriteriaColumn)->setText(list_.Header());
  const int widths[3] = {200, 20, 378};
  for (int c = 0; c < 3; ++c) SearchGrid->setColumnWidth(c, static_cast<int>(widths[c] * factor));
  SearchGrid->resize(static_cast<int>((600 + 20) * factor),
                     static_cast<int>(((kGridRows + 1) * kDefaultRowHeight + 4) * factor));
  const int row_height = static_cast<int>(kDefaultRowHeight * factor);
  for (int r = 0; r <= kGridRows; ++r) SearchGrid->setRowHeight(r, row_height);
  for (int r = 1; r <= kGridRows; ++r) {
    SearchGrid->item(r, kFieldColumn)->setText(QLatin1Char(' ') + FieldLabel(r));
    SetCellText(r, QString());
  }
  MoreButton->setEnabled(list_.more_enabled());
  SetColors();
  SearchGrid->setCurrentCell(1, kCriteriaColumn);
  SearchGrid->setFocus();
}

void TMySearch::SetColors() {
  const app::ColorGroup& c = db_.state().settings.colors[app::kSearchColors];
  QPalette p = palette();
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
    if (c[app::kMainBackground].isValid()) p.setColor(g, QPalette::Window, c[app::kMainBackground]);
  }
  setPalette(p);
  setAutoFillBackground(true);
  QPalette gp = SearchGrid->palette();
  for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
    if (c[app::kListBoxBackground].isValid())
      gp.setColor(g, QPalette::Base, c[app::kListBoxBackground]);
    if (c[app::kListBoxText].isValid()) gp.setColor(g, QPalette::Text, c[app::kListBoxText]);
  }
  SearchGrid->setPalette(gp);
  forms::ApplyColorGroup(this, forms::ColorGroupId::kSearch);
}

SearchScreen TMySearch::Screen() {
  delegate_->Commit(SearchGrid);
  SearchScreen screen = EmptyScreen();
  for (int r = 1; r <= kGridRows; ++r) {
    SearchRow& row = screen[static_cast<size_t>(r - 1)];
    row.op = row_operator(r);
    row.text = CellText(r);
  }
  return screen;
}

bool TMySearch::Show(const SaveOutcome& outcome) {
  if (outcome.clear_screen) ClearScreen();
  SearchGrid->item(0, kCriteriaColumn)->setText(list_.Header());
  MoreButton->setEnabled(list_.more_enabled());
  if (!outcome.ok()) {
    prompts().MessageBox(this, L(texts::kError), outcome.message, MsgIcon::kError, MsgButtons::kOk,
                         MsgButton::kOk);
  }
  if (outcome.focus_row > 0)
    FocusRow(outcome.focus_row);
  else
    SearchGrid->setFocus();
  return outcome.ok();
}

void TMySearch::ClearScreen() {
  // An open editor would write its old text back over the cleared cell.
  SearchGrid->setCurrentCell(0, kFieldColumn);
  for (int r = 1; r <= kGridRows; ++r) SetCellText(r, QString());
  SearchGrid->setCurrentCell(1, kCriteriaColumn);
  SearchGrid->viewport()->update();
}

void TMySearch::FocusRow(int row) {
  SearchGrid->setCurrentCell(row, kCriteriaColumn);
  SearchGrid->setFocus();
}

void TMySearch::OkButtonClick() {
  const int date_format = db_.state().settings.date_format;
  if (!Show(list_.Confirm(Screen(), date_format))) return;
  if (Doit()) {
    accept();
    return;
  }
  prompts().MessageBox(this, L(texts::kNotice), L(texts::kNoValidMatches), MsgIcon::kInformation,
                       MsgButtons::kOk, MsgButton::kOk);
  ClearSearch();
}

bool TMySearch::Doit() {
  // The hourglass until the grid has counted the result; the window repaints
  // meanwhile, as the filter asks for.
  forms::BusyRun busy;
  dbf::Table& table = db_.MyTable();
  if (db_.searching()) {
    db_.ReopenMyTable();
    emit db_.ViewerSettingsNeeded();
  }
  filter_.search = std::make_shared<const ActiveSearch>(list_.criteria());
  db_.SetRowFilter(&filter_);
  db_.SetSearchMode(true);
  try {
    table.SetFiltered(true);
    table.Refresh();
    table.First();
  } catch (...) {
    // A filter that cannot read the table must not stay in force: every
    // later move of the cursor would fail the same way.
    db_.EndSearch();
    throw;
  }
  if (table.Bof() && table.Eof()) {
    db_.EndSearch();
    return false;
  }
  emit db_.ViewerSettingsNeeded();
  return true;
}

void TMySearch::ExitButtonClick() {
  list_.EnableMore();
  MoreButton->setEnabled(list_.more_enabled());
  reject();
}

void TMySearch::ClearButtonClick() {
  ClearSearch();
}

void TMySearch::ClearSearch() {
  list_.ClearSearch();
  ClearScreen();
  MoreButton->setEnabled(list_.more_enabled());
  SearchGrid->item(0, kCriteriaColumn)->setText(list_.Header());
  SearchGrid->viewport()->update();
}

void TMySearch::MoreButtonClick() {
  Show(list_.More(Screen(), db_.state().settings.date_format));
  SearchGrid->setFocus();
}

void TMySearch::HelpButtonClick() {
  platform::ShowHelp(this, L(texts::kSearchHelpKeyword));
}

void TMySearch::SearchGridMouseUp(int row, int column) {
  if (column != kPickColumn || row < 1 || row > kGridRows || !HasPickButton(row)) return;
  const char kind = SearchKind(row);
  TSearchOptions picker(db_.state(), row, FieldLabel(row), this);
  if (kind == 'N' || kind == 'D') {
    QStringList items;
    for (const char* item : texts::kOperatorItems) items << L(item);
    picker.LoadList(items);
    picker.ListBox1->setCurrentRow(static_cast<int>(row_operator(row)) - 1);
    if (picker.exec() != QDialog::Accepted || picker.Selected() < 0) return;
    const auto op = static_cast<RowOperator>(picker.Selected() + 1);
    if (op != row_operator(row)) {
      // The old text was typed under another operator's mask.
      SearchGrid->setCurrentCell(0, kFieldColumn);
      SetCellText(row, QString());
    }
    ops_[static_cast<size_t>(row - 1)] = op;
    // Moving away and back opens the editor again, under the new mask.
    if (SearchGrid->currentRow() == row)
      SearchGrid->setCurrentCell(row > kGridRows - 1 ? row - 1 : row + 1, kCriteriaColumn);
    FocusRow(row);
    return;
  }
  QStringList items;
  switch (row) {
    case db::kCountry:
      items = db_.lists().FormList(db::ListKind::kCountry);
      break;
    case db::kCondition:
      items = db_.lists().FormList(db::ListKind::kCondition);
      break;
    case db::kTopic:
      items = db_.lists().FormList(db::ListKind::kTopic);
      break;
    default:
      items = QStringList{L(texts::kYes), L(texts::kNo)};
      break;
  }
  picker.LoadList(items);
  if (picker.exec() != QDialog::Accepted) return;
  if (picker.Selected() >= 0) {
    SearchGrid->setCurrentCell(0, kFieldColumn);
    SetCellText(row, picker.ListBox1->item(picker.Selected())->text());
  }
  FocusRow(row);
}

void TMySearch::Guard(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const dbf::DbfError& e) {
    const QString message = QString::fromStdString(e.what());
    if (general_error_) {
      general_error_(message);
    } else {
      prompts().MessageBox(this, L(texts::kError), message, MsgIcon::kError, MsgButtons::kOk,
                           MsgButton::kOk);
    }
  }
}

}  // namespace klv::find
