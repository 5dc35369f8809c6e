#include "report/ReportRun.h"

#include <algorithm>
#include <cmath>

#include <QDate>
#include <QRegularExpression>

#include "base/Error.h"
#include "db/FieldTable.h"
#include "pictures/PictureStore.h"
#include "report/ReportLayout.h"
#include "report/ReportTexts.h"

namespace klv::report {

namespace {

using engine::kJustifyCenter;
using engine::kJustifyLeft;
using engine::kJustifyRight;
using engine::TBaseReport;

constexpr int kGroupValueLength = 120;
// Inner margin of every column, hundredths of an inch.
constexpr int kColumnMargin = 2;
constexpr double kCaptionExtra = 0.2;  // inches around a caption's text
// A column caption wider than its column is drawn narrowed, down to this
// share of its width; what does not fit even so is cut.
constexpr double kLeastNarrowing = 0.5;
// The picture column beside each record, inches: as wide as the record is
// high, within these bounds, the picture kept this far from the record's
// texts and from the next record.
constexpr double kLeastPictureColumn = 0.6;
constexpr double kMostPictureColumn = 1.25;
constexpr double kPictureGap = 0.1;

QString L(const char* text) {
  return QString::fromLatin1(text);
}

QString NoTabs(QString text) {
  text.replace(QLatin1Char('\t'), QLatin1Char(' '));
  return text;
}

// The terms of an index expression joined by "+" outside parentheses and
// quotes.
QStringList ExpressionTerms(const QString& expression) {
  QStringList terms;
  QString term;
  int depth = 0;
  QChar quote;
  for (const QChar c : expression) {
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
    } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
      quote = c;
    } else if (c == QLatin1Char('(')) {
      ++depth;
    } else if (c == QLatin1Char(')')) {
      --depth;
    } else if (c == QLatin1Char('+') && depth == 0) {
      terms.append(term);
      term.clear();
      continue;
    }
    term += c;
  }
  terms.append(term);
  return terms;
}

// The key a term of the index gives a field: the field the term names (none
// when it names no field or more than one), cut as its LEFT cuts it.
GroupKey KeyOfTerm(const QString& term) {
  GroupKey key;
  static const QRegularExpression word(QStringLiteral("[A-Za-z_][A-Za-z0-9_]*"));
  for (auto it = word.globalMatch(term); it.hasNext();) {
    const int f = FieldNumberOfName(it.next().captured(0), /*totals_line=*/false);
    if (f == 0) continue;
    if (key.field != 0 && key.field != f) return GroupKey{};
    key.field = f;
  }
  if (key.field == 0) return key;
  const QString name =
      QString::fromLatin1(db::FieldInfoOf(key.field).name.data(),
                          static_cast<qsizetype>(db::FieldInfoOf(key.field).name.size()));
  const QRegularExpression left(QStringLiteral("LEFT\\s*\\(\\s*%1\\s*,\\s*(\\d+)\\s*\\)").arg(name),
                                QRegularExpression::CaseInsensitiveOption);
  if (const QRegularExpressionMatch m = left.match(term); m.hasMatch())
    key.key_chars = m.captured(1).toInt();
  key.fold_case = term.contains(QLatin1String("UPPER("), Qt::CaseInsensitive) ||
                  term.contains(QLatin1String("LOWER("), Qt::CaseInsensitive);
  return key;
}

QString KeyOf(const GroupKey& key, const QString& value) {
  QString v = key.key_chars > 0 ? value.left(key.key_chars) : value;
  while (v.endsWith(QLatin1Char(' '))) v.chop(1);
  return key.fold_case ? v.toUpper() : v;
}

}  // namespace

std::array<GroupKey, 2> WalkOrderKeys(const dbf::Table& table) {
  std::array<GroupKey, 2> keys{};
  const std::string& tag = table.IndexName();
  if (tag.empty()) return keys;
  QString expression;
  for (const dbf::TagInfo& info : table.Tags()) {
    if (QString::fromStdString(info.name).compare(QString::fromStdString(tag),
                                                  Qt::CaseInsensitive) == 0)
      expression = QString::fromStdString(info.expression);
  }
  size_t n = 0;
  for (const QString& term : ExpressionTerms(expression)) {
    if (n == keys.size()) break;
    const GroupKey key = KeyOfTerm(term);
    if (key.field == 0) break;
    keys[n++] = key;
  }
  return keys;
}

RunSetup MakeRunSetup(app::OpenDatabase& db, int mode, const QString& text_file) {
  RunSetup setup;
  const app::AppState& state = db.state();
  setup.mode = mode;
  setup.captions = state.settings.field_names;
  setup.formats = state.formats;
  const QDate today = QDate::currentDate();
  setup.today = QString::fromStdString(dbf::FormatDateText(
      dbf::Date{today.year(), today.month(), today.day()}, db.MyTable().text_format()));
  setup.text_file = text_file;
  return setup;
}

void Totals::Add(double q, double purchase_price, double market_value, double premium_value) {
  quantity += q;
  purchase += q * purchase_price;
  market += q * market_value;
  premium += q * premium_value;
}

ReportGenerator::ReportGenerator(const ReportDef& def, dbf::Table& table,
                                 engine::TBaseReport& engine, RunSetup setup)
    : def_(def), table_(table), engine_(engine), setup_(std::move(setup)) {
  engine_.OnBeforePrint = [this] { MyBeforePrintReport(); };
  engine_.OnPrintHeader = [this] { MyPrintHeaderReport(); };
  engine_.OnPrintPage = [this] { return MyPrintPageReport(); };
  engine_.OnPrintFooter = [this] { MyPrintFooterReport(); };
  engine_.OnAfterPrint = [this] { MyAfterPrintReport(); };
  engine_.SetOrientation(def_.landscape ? engine::Orientation::kLandscape
                                        : engine::Orientation::kPortrait);
}

ReportGenerator::~ReportGenerator() {
  engine_.OnBeforePrint = nullptr;
  engine_.OnPrintHeader = nullptr;
  engine_.OnPrintPage = nullptr;
  engine_.OnPrintFooter = nullptr;
  engine_.OnAfterPrint = nullptr;
  if (controls_disabled_) table_.EnableControls();
}

bool ReportGenerator::Run() {
  records_ = 0;
  return engine_.Execute();
}

void ReportGenerator::UseFont(const ReportFont& font) {
  engine_.SetFont(font.name, font.size);
  engine_.SetBold(font.bold);
  engine_.SetItalic(font.italic);
  engine_.SetUnderline(font.underline);
  engine_.SetStrikeout(font.strikeout);
  // Stored as a Windows RGB value: red in the low byte.
  const uint32_t c = static_cast<uint32_t>(font.color);
  engine_.SetFontColor(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
}

ReportGenerator::Columns ReportGenerator::FitLine(const ReportLine& line, bool totals_line,
                                                  double room) {
  // Characters first (the text file), then the page: each column starts as
  // its characters' share of the printable width and is fitted to its
  // widest text in the body font.
  const int n = LineLength(line);
  std::vector<int> chars, char_needs;
  std::vector<bool> fillers;
  std::vector<QString> widest;
  for (int i = 0; i < n; ++i) {
    const ReportItem& item = line[static_cast<size_t>(i)];
    widest.push_back(NoTabs(WidestText(item, totals_line, setup_.formats, table_.text_format())));
    chars.push_back(item.width);
    char_needs.push_back(static_cast<int>(widest.back().size()));
    fillers.push_back(item.IsFiller());
  }
  Columns columns;
  columns.chars = FitCharWidths(chars, char_needs, fillers, width_chars_);
  std::vector<double> inches, needs;
  for (int i = 0; i < n; ++i) {
    inches.push_back(static_cast<double>(columns.chars[static_cast<size_t>(i)]) / width_chars_ *
                     room);
    const QString& text = widest[static_cast<size_t>(i)];
    needs.push_back(text.isEmpty() ? 0 : engine_.TextWidth(text) + 2 * kColumnMargin / 100.0);
  }
  columns.inches = FitWidths(inches, needs, fillers, room);
  return columns;
}

void ReportGenerator::MyBeforePrintReport() {
  engine_.StatusFormat = QStringLiteral("Printing Page %p\r%0\r%1");
  engine_.StatusLine[0].clear();
  engine_.StatusLine[1].clear();
  engine_.SetTopMargin(def_.top_margin);
  engine_.SetBottomMargin(def_.bottom_margin);
  engine_.SetLeftMargin(def_.left_margin);
  engine_.SetRightMargin(def_.right_margin);
  width_chars_ = def_.width > 0 ? def_.width : 90;
  printable_ = engine_.PageWidth() - def_.left_margin - def_.right_margin;

  level1_ = level2_ = GroupKey{};
  if (def_.group_level1) {
    const std::array<GroupKey, 2> keys = WalkOrderKeys(table_);
    level1_ = keys[0];
    if (def_.group_level2 && level1_.field) level2_ = keys[1];
  }
  group1_.clear();
  group2_.clear();
  key1_.clear();
  key2_.clear();
  closing_group_.clear();
  header_pending_ = footer_pending_ = final_pending_ = false;
  first_group_ = true;
  group_totals_ = grand_totals_ = Totals{};

  if (FileMode()) {
    file_ = std::make_unique<QSaveFile>(setup_.text_file);
    if (!file_->open(QIODevice::WriteOnly)) {
      const QString why = file_->errorString();
      file_.reset();
      base::Fail(
          base::ErrorCode::kIo,
          QStringLiteral("%1 cannot be written: %2").arg(setup_.text_file, why).toStdString());
    }
  }
  static_assert(std::tuple_size_v<decltype(fields_)> == db::kFieldCount + 1);
  fields_.fill(nullptr);
  for (int f = 1; f <= db::kFieldCount; ++f)
    fields_[static_cast<size_t>(f)] = table_.FindField(db::FieldInfoOf(f).name);
  start_row_ = table_.RecNo();
  table_.DisableControls();
  controls_disabled_ = true;

  // Record lines and totals print in the body font; the record lines share
  // what the picture column leaves.
  UseFont(def_.body_font);
  const int lines = std::clamp<int>(def_.lines, 0, kMaxRecordLines);
  picture_column_ = 0;
  block_lines_ = lines;
  obverse_.clear();
  if (def_.print_obverse && !FileMode() && lines >= 1) LoadPictures();
  const double line_height = engine_.LineHeight();
  const double column = std::clamp(lines * line_height, kLeastPictureColumn, kMostPictureColumn);
  // Margins that leave the page too narrow for pictures beside the records
  // print the records alone.
  if (!obverse_.isEmpty() && column <= printable_ / 2) {
    picture_column_ = column;
    block_lines_ = std::max(lines, static_cast<int>(std::ceil(column / line_height - 1e-9)));
  }
  for (int n = 0; n < lines; ++n)
    line_columns_[static_cast<size_t>(n)] =
        FitLine(def_.record_lines[static_cast<size_t>(n)],
                /*totals_line=*/false, printable_ - picture_column_);
  totals_columns_ = FitLine(def_.totals, /*totals_line=*/true, printable_);
  table_.First();
}

void ReportGenerator::LoadPictures() {
  try {
    pictures::PictureStore store(table_.DbfPath());
    store.Load(table_);
    for (const pictures::Picture& p : store.pictures()) {
      if (p.attached() && p.side == pictures::Side::kObverse)
        obverse_.insert(p.recno, QString::fromStdString(store.PathOf(p)));
    }
  } catch (const base::Error&) {
    // A picture index that cannot be read leaves the report without
    // pictures; the records themselves still print, as the viewer shows them.
    obverse_.clear();
  }
}

void ReportGenerator::PrintPicture(double top) {
  const auto found = obverse_.constFind(table_.RecNo());
  if (found == obverse_.constEnd()) return;
  engine_.PrintImage(engine_.MarginLeft(), top, picture_column_ - kPictureGap,
                     block_lines_ * engine_.LineHeight() - kPictureGap, *found);
}

void ReportGenerator::WriteText(const QString& line, bool advance) {
  QByteArray& bytes = text_bytes_;
  bytes.clear();
  bytes.append(line.toUtf8());
  bytes.append('\n');
  if (file_->write(bytes) != bytes.size()) {
    base::Fail(base::ErrorCode::kIo, QStringLiteral("%1 cannot be written: %2")
                                         .arg(setup_.text_file, file_->errorString())
                                         .toStdString());
  }
  if (advance) engine_.NewLine();
}

void ReportGenerator::MyPrintHeaderReport() {
  if (FileMode()) {
    for (const QString& title : def_.titles) {
      if (!title.isEmpty()) WriteText(title);
    }
    return;
  }
  engine_.SetSectionTop(0.5);
  engine_.SetSectionBottom(1.25);
  engine_.Home();
  UseFont(def_.titles_font);
  for (const QString& title : def_.titles) {
    if (title.isEmpty()) continue;
    engine_.PrintCenter(NoTabs(title), engine_.PageWidth() / 2);
    engine_.NewLine();
  }
}

void ReportGenerator::SetLineTabs(const Columns& columns, const ReportLine& line, bool with_box,
                                  bool header_row, double left) {
  engine_.ClearTabs();
  int box = 0;
  if (with_box) {
    if (def_.vertical_lines) box |= engine::kBoxLeft | engine::kBoxRight;
    if (def_.horizontal_lines) box |= engine::kBoxTop | engine::kBoxBottom;
  }
  const int n = std::min<int>(LineLength(line), static_cast<int>(columns.inches.size()));
  for (int i = 0; i < n; ++i) {
    const ReportItem& item = line[static_cast<size_t>(i)];
    engine::Justify justify = kJustifyLeft;
    if (header_row) {
      justify = kJustifyCenter;
    } else if (with_box) {
      // One line per record: numbers to the right, as in a column.
      if (ShowsNumber(item, /*totals_line=*/false)) justify = kJustifyRight;
    } else if (item.IsLabel()) {
      justify = kJustifyRight;
    }
    const double at = i == 0 ? left : TBaseReport::kAfterPrevious;
    engine_.SetTab(at, justify, columns.inches[static_cast<size_t>(i)], kColumnMargin, box, 0);
  }
}

void ReportGenerator::SetRecordTabs() {
  SetLineTabs(line_columns_[0], def_.record_lines[0], /*with_box=*/true, /*header_row=*/false,
              RecordLeft());
}

QString ReportGenerator::FieldText(int f) {
  if (f < 1 || f > db::kFieldCount) return QString();
  const dbf::Field* field = fields_[static_cast<size_t>(f)];
  if (!field) return QString();
  if (db::FieldInfoOf(f).letter == 'N') {
    if (f == db::kPurchasePr || f == db::kMarketValu || f == db::kPremiumVal)
      return app::FormatAmount(setup_.formats, 1, field->AsFloat());
    return app::FormatNumber(setup_.formats, 1, 0, field->AsFloat());
  }
  return QString::fromStdString(field->AsString());
}

QString ReportGenerator::TotalsText(const Totals& t, int field) {
  switch (field) {
    case kTotMarketValue:
      return app::FormatAmount(setup_.formats, 1, t.market);
    case kTotPurchasePrice:
      return app::FormatAmount(setup_.formats, 1, t.purchase);
    case kTotPremiumValue:
      return app::FormatAmount(setup_.formats, 1, t.premium);
    case kTotQuantity:
      return app::FormatNumber(setup_.formats, 1, 0, t.quantity);
    default:
      return QString();
  }
}

void ReportGenerator::PrintItems(const ReportLine& line, const Columns& columns,
                                 const std::function<QString(const ReportItem&)>& value) {
  const int n = std::min<int>(LineLength(line), static_cast<int>(columns.chars.size()));
  if (FileMode()) {
    // Each item its fitted width; a text longer than that (a sum beyond any
    // value, a line whose texts cannot all fit) is written whole.
    QString& text = text_line_;
    text.clear();
    for (int i = 0; i < n; ++i) {
      const ReportItem& item = line[static_cast<size_t>(i)];
      const int w = columns.chars[static_cast<size_t>(i)];
      const qsizetype start = text.size();
      if (item.IsFiller()) {
        text.append(QString(w, QLatin1Char(' ')));
      } else if (item.IsLabel()) {
        const QString label = NoTabs(item.label);
        if (label.size() < w) text.append(QString(w - label.size(), QLatin1Char(' ')));
        text.append(label);
      } else {
        text.append(NoTabs(value(item)));
        if (text.size() - start < w)
          text.append(QString(w - (text.size() - start), QLatin1Char(' ')));
      }
      // One blank keeps a text that overflows its column apart from the next.
      if (text.size() - start > w && i + 1 < n) text.append(QLatin1Char(' '));
    }
    WriteText(text);
    return;
  }
  std::vector<QString>& cells = cells_;
  cells.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const ReportItem& item = line[static_cast<size_t>(i)];
    QString& text = cells[static_cast<size_t>(i)];
    text = QString();
    if (item.IsLabel()) {
      text = item.label;
    } else if (item.IsField()) {
      text = value(item);
    }
    // Never cut: a text wider than its column prints narrowed.
    text = NoTabs(std::move(text));
    // Cells of a line of several are never null, as the pieces of a text
    // split at its tabs.
    if (n > 1 && text.isNull()) text = QStringLiteral("");
  }
  engine_.PrintTabsLn(cells);
}

void ReportGenerator::PrintRecordLine(const ReportLine& line, const Columns& columns) {
  PrintItems(line, columns,
             [this](const ReportItem& item) { return FieldText(FieldOfItem(item)); });
}

void ReportGenerator::PrintTotalsLine(const Totals& totals) {
  if (!FileMode())
    SetLineTabs(totals_columns_, def_.totals, /*with_box=*/false, /*header_row=*/false,
                engine_.MarginLeft());
  PrintItems(def_.totals, totals_columns_,
             [this, &totals](const ReportItem& item) { return TotalsText(totals, item.field); });
}

bool ReportGenerator::Fits(int lines) const {
  // On an empty page body everything is printed, fitting or not: waiting for
  // a page with more room would never end.
  return body_empty_ || engine_.LinesLeft() >= lines;
}

void ReportGenerator::PrintCenteredBox(const QString& text, int box) {
  // Caption and box centred in the printable width; a caption too wide for
  // it is cut and its box takes the whole width.
  QString caption = NoTabs(text);
  double box_width = engine_.TextWidth(caption) + kCaptionExtra;
  if (box_width > printable_) {
    caption = engine_.FitText(caption, printable_ - kCaptionExtra);
    box_width = printable_;
  }
  engine_.ClearTabs();
  engine_.SetTab(engine_.MarginLeft() + (printable_ - box_width) / 2, kJustifyCenter, box_width, 0,
                 box, 0);
  engine_.PrintLn(caption);
}

QString ReportGenerator::GroupCaption() const {
  return level2_.field ? group1_ + QStringLiteral(", ") + group2_ : group1_;
}

QString ReportGenerator::GroupTotalsCaption(const QString& group) const {
  // Totals at the top of a page, away from their group's rows, say whose.
  if (body_empty_ && !group.trimmed().isEmpty())
    return L(texts::kGroupTotalsNamedCaption).arg(group);
  return L(texts::kTotalsCaption);
}

bool ReportGenerator::TryGroupHeader() {
  if (!Fits(RecordLines() + 2)) return false;
  header_pending_ = false;
  const QString caption = GroupCaption();
  // A group of blank values has nothing to show in a caption.
  if (caption.trimmed().isEmpty()) return true;
  if (FileMode()) {
    const int indent = std::max(0, (width_chars_ - static_cast<int>(caption.size())) / 2);
    const QString pad(indent, QLatin1Char(' '));
    const QString dashes(caption.size(), QLatin1Char('-'));
    // Four lines of text where a printed page has two (a blank line and the
    // boxed caption): the engine moves as the printed page does, so the text
    // file's pages break where the printed pages break.
    WriteText(QString());
    WriteText(pad + dashes, /*advance=*/false);
    WriteText(pad + caption);
    WriteText(pad + dashes, /*advance=*/false);
  } else {
    engine_.NewLine();
    PrintCenteredBox(caption,
                     engine::kBoxLeft | engine::kBoxRight | engine::kBoxTop | engine::kBoxBottom);
    if (def_.lines == 1) SetRecordTabs();
  }
  body_empty_ = false;
  return true;
}

void ReportGenerator::PrintTotalsCaption(const QString& caption) {
  if (FileMode()) {
    const int indent = std::max(0, (width_chars_ - static_cast<int>(caption.size())) / 2);
    WriteText(QString(indent, QLatin1Char(' ')) + caption);
  } else {
    PrintCenteredBox(caption, engine::kBoxBottom);
  }
}

bool ReportGenerator::TryGroupFooter() {
  if (!Fits(RecordLines() + 3)) return false;
  footer_pending_ = false;
  PrintTotalsCaption(GroupTotalsCaption(closing_group_));
  PrintTotalsLine(group_totals_);
  group_totals_ = Totals{};
  if (def_.lines == 1 && !FileMode()) SetRecordTabs();
  body_empty_ = false;
  return true;
}

bool ReportGenerator::TryFinalTotals() {
  // With groups, the last group's totals and then the grand totals; without,
  // the grand totals alone (the group totals would only repeat them).
  const bool groups = level1_.field != 0;
  if (!Fits(groups ? 5 : 2)) return false;
  final_pending_ = false;
  if (groups) {
    PrintTotalsCaption(GroupTotalsCaption(GroupCaption()));
    PrintTotalsLine(group_totals_);
    if (FileMode()) {
      WriteText(QString());
    } else {
      engine_.NewLine();
    }
  }
  PrintTotalsCaption(L(texts::kGrandTotalsCaption));
  PrintTotalsLine(grand_totals_);
  body_empty_ = false;
  return true;
}

bool ReportGenerator::MyPrintPageReport() {
  engine_.SetSectionTop(1.25);
  engine_.SetSectionBottom(engine_.PageHeight() - def_.bottom_margin - 0.75);
  engine_.Home();
  body_empty_ = true;
  const int lines = std::clamp<int>(def_.lines, 0, kMaxRecordLines);
  const bool one_line = lines == 1;

  if (one_line && def_.column_headers) {
    UseFont(def_.header_font);
    if (!FileMode()) {
      const ReportLine& line = def_.record_lines[0];
      SetLineTabs(line_columns_[0], line, /*with_box=*/true, /*header_row=*/true, RecordLeft());
      QString cells;
      for (int i = 0; i < LineLength(line); ++i) {
        const ReportItem& item = line[static_cast<size_t>(i)];
        QString text;
        if (item.IsField()) {
          const int f = FieldOfItem(item);
          if (f >= 1) text = setup_.captions[static_cast<size_t>(f)];
        }
        if (i > 0) cells += QLatin1Char('\t');
        cells += engine_.FitText(NoTabs(text), engine_.TabWidth(i + 1) / kLeastNarrowing);
      }
      engine_.PrintLn(cells);
    } else {
      // The text file has no header row, but its pages hold the lines of
      // the printed pages.
      engine_.NewLine();
    }
  }
  UseFont(def_.body_font);
  if (one_line && !FileMode()) SetRecordTabs();

  // A record is never split over two pages.
  const int record_lines = RecordLines();
  while (!engine_.Aborted() && !table_.Eof() &&
         (body_empty_ || engine_.LinesLeft() >= record_lines)) {
    if (footer_pending_ && !TryGroupFooter()) break;
    if (header_pending_ && !TryGroupHeader()) break;
    if (level1_.field) {
      const QString v1 = FieldText(level1_.field).left(kGroupValueLength);
      const QString k1 = KeyOf(level1_, v1);
      QString v2, k2;
      if (level2_.field) {
        v2 = FieldText(level2_.field).left(kGroupValueLength);
        k2 = KeyOf(level2_, v2);
      }
      if (first_group_ || k1 != key1_ || (level2_.field && k2 != key2_)) {
        closing_group_ = GroupCaption();
        group1_ = v1;
        key1_ = k1;
        group2_ = v2;
        key2_ = k2;
        footer_pending_ = !first_group_ && def_.use_totals;
        header_pending_ = true;
        first_group_ = false;
        if (!footer_pending_ || TryGroupFooter()) TryGroupHeader();
        if (footer_pending_ || header_pending_) break;
      }
    }
    if (!body_empty_ && engine_.LinesLeft() < record_lines) break;
    const double record_top = engine_.CursorY();
    if (one_line) {
      PrintRecordLine(def_.record_lines[0], line_columns_[0]);
    } else {
      for (int n = 0; n < lines; ++n) {
        const ReportLine& line = def_.record_lines[static_cast<size_t>(n)];
        const Columns& columns = line_columns_[static_cast<size_t>(n)];
        if (!FileMode())
          SetLineTabs(columns, line, /*with_box=*/false, /*header_row=*/false, RecordLeft());
        PrintRecordLine(line, columns);
      }
    }
    if (picture_column_ > 0) {
      PrintPicture(record_top);
      for (int n = lines; n < block_lines_; ++n) engine_.NewLine();
    }
    if (lines > 0) body_empty_ = false;
    if (def_.use_totals) {
      const auto number = [this](int f) {
        const dbf::Field* field = fields_[static_cast<size_t>(f)];
        return field ? field->AsFloat() : 0.0;
      };
      // The quantity read as a whole number; a fraction is cut toward zero.
      const double q = std::trunc(number(db::kQuantity));
      const double purchase = number(db::kPurchasePr);
      const double market = number(db::kMarketValu);
      const double premium = number(db::kPremiumVal);
      group_totals_.Add(q, purchase, market, premium);
      grand_totals_.Add(q, purchase, market, premium);
    }
    ++records_;
    table_.Next();
    if (OnRecord) OnRecord();
  }
  if (engine_.Aborted()) return false;
  if (table_.Eof()) {
    if (def_.use_totals && !footer_pending_ && !header_pending_) {
      final_pending_ = !TryFinalTotals();
    }
    return final_pending_ || footer_pending_ || header_pending_;
  }
  return true;
}

void ReportGenerator::MyPrintFooterReport() {
  const bool numbers = def_.page_numbers;
  const QString page = QStringLiteral("Page %1").arg(engine_.CurrentPage());
  if (FileMode()) {
    WriteText(QString());
    QString line;
    if (numbers) line = page + QStringLiteral("     ");
    if (def_.date_on_pages) line += QStringLiteral("     ") + setup_.today;
    WriteText(line + QLatin1Char('\f'));
    return;
  }
  const double bottom = engine_.PageHeight() - def_.bottom_margin;
  engine_.SetSectionTop(bottom - 0.5);
  engine_.SetSectionBottom(bottom);
  engine_.Home();
  UseFont(def_.footnote_font);
  if (numbers) engine_.PrintLeft(page);
  if (def_.date_on_pages) engine_.PrintRight(setup_.today);
}

void ReportGenerator::MyAfterPrintReport() {
  if (controls_disabled_) {
    controls_disabled_ = false;
    table_.EnableControls();
  }
  // Back to the row the table stood on (the first, when that one is gone).
  if (table_.IsOpen() && start_row_ != 0 && !table_.GoTo(start_row_)) table_.First();
  if (!file_) return;
  std::unique_ptr<QSaveFile> file = std::move(file_);
  if (engine_.Aborted()) {
    file->cancelWriting();
    file->commit();
    return;
  }
  if (!file->commit()) {
    base::Fail(base::ErrorCode::kIo, QStringLiteral("%1 cannot be written: %2")
                                         .arg(setup_.text_file, file->errorString())
                                         .toStdString());
  }
}

}  // namespace klv::report
