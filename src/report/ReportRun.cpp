#include "report/ReportRun.h"

#include <algorithm>
#include <cmath>

#include <QDate>

#include "base/Error.h"
#include "db/FieldTable.h"

namespace klv::report {

namespace {

using engine::kJustifyCenter;
using engine::kJustifyLeft;
using engine::kJustifyRight;
using engine::TBaseReport;

// The group values before the first record: no record's value, so the first
// record always starts a group.
constexpr char kNoGroup[] = "zzxkytrweq";
constexpr int kGroupValueLength = 120;
// Inner margin of every column, hundredths of an inch.
constexpr int kColumnMargin = 2;
constexpr double kCaptionExtra = 0.2;  // inches around a caption's text
constexpr char kTotalsCaption[] = "TOTALS";
constexpr char kGrandTotalsCaption[] = "GRAND TOTALS";

QString NoTabs(QString text) {
  text.replace(QLatin1Char('\t'), QLatin1Char(' '));
  return text;
}

// The field an item of a record line shows: its number, or for an item whose
// number was lost (converted definitions) the field its name names.
int FieldOfItem(const ReportItem& item) {
  if (item.field >= 1 && item.field <= db::kFieldCount) return item.field;
  for (int f = 1; f <= db::kFieldCount; ++f) {
    if (item.name.compare(QLatin1String(db::FieldInfoOf(f).name.data(),
                                        static_cast<qsizetype>(db::FieldInfoOf(f).name.size())),
                          Qt::CaseInsensitive) == 0)
      return f;
  }
  return 0;
}

bool IsNumericField(int f) {
  return f >= 1 && f <= db::kFieldCount && db::FieldInfoOf(f).letter == 'N';
}

}  // namespace

RunSetup MakeRunSetup(app::OpenDatabase& db, int mode, const QString& text_file) {
  RunSetup setup;
  const app::AppState& state = db.state();
  setup.mode = mode;
  setup.sort_levels = state.settings.sort_levels;
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

  level1_ = level2_ = 0;
  if (def_.group_level1) {
    std::vector<int> named;
    for (int level : setup_.sort_levels) {
      if (level >= 1 && level <= db::kFieldCount) named.push_back(level);
    }
    if (!named.empty()) level1_ = named[0];
    if (named.size() > 1 && def_.group_level2) level2_ = named[1];
  }
  group1_ = group2_ = QString::fromLatin1(kNoGroup);
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
  start_row_ = table_.RecNo();
  table_.DisableControls();
  controls_disabled_ = true;
  table_.First();
}

void ReportGenerator::WriteText(const QString& line, bool advance) {
  const QByteArray bytes = line.toUtf8() + '\n';
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

void ReportGenerator::SetLineTabs(const ReportLine& line, bool with_box, bool header_row) {
  engine_.ClearTabs();
  int box = 0;
  if (with_box) {
    if (def_.vertical_lines) box |= engine::kBoxLeft | engine::kBoxRight;
    if (def_.horizontal_lines) box |= engine::kBoxTop | engine::kBoxBottom;
  }
  const int n = LineLength(line);
  for (int i = 0; i < n; ++i) {
    const ReportItem& item = line[static_cast<size_t>(i)];
    engine::Justify justify = kJustifyLeft;
    if (header_row) {
      justify = kJustifyCenter;
    } else if (with_box) {
      // One line per record: numbers to the right, as in a column.
      if (item.IsField() && IsNumericField(FieldOfItem(item))) justify = kJustifyRight;
    } else if (item.IsLabel()) {
      justify = kJustifyRight;
    }
    engine_.SetTab(TBaseReport::kAfterPrevious, justify,
                   static_cast<double>(item.width) / width_chars_ * printable_, kColumnMargin, box,
                   0);
  }
}

void ReportGenerator::SetRecordTabs() {
  SetLineTabs(def_.record_lines[0], /*with_box=*/true, /*header_row=*/false);
}

QString ReportGenerator::FieldText(int f) {
  if (f < 1 || f > db::kFieldCount) return QString();
  const dbf::Field* field = table_.FindField(db::FieldInfoOf(f).name);
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

void ReportGenerator::PrintItems(const ReportLine& line,
                                 const std::function<QString(const ReportItem&)>& value) {
  const int n = LineLength(line);
  if (FileMode()) {
    QString text;
    for (int i = 0; i < n; ++i) {
      const ReportItem& item = line[static_cast<size_t>(i)];
      const int w = item.width;
      if (item.IsFiller()) {
        text += QString(w, QLatin1Char(' '));
      } else if (item.IsLabel()) {
        text += item.label.left(w).rightJustified(w, QLatin1Char(' '));
      } else {
        text += NoTabs(value(item)).left(w).leftJustified(w, QLatin1Char(' '));
      }
    }
    WriteText(text);
    return;
  }
  QString cells;
  for (int i = 0; i < n; ++i) {
    const ReportItem& item = line[static_cast<size_t>(i)];
    QString text;
    if (item.IsLabel()) {
      text = item.label;
    } else if (item.IsField()) {
      text = value(item);
    }
    if (i > 0) cells += QLatin1Char('\t');
    cells += engine_.FitText(NoTabs(text), engine_.TabWidth(i + 1));
  }
  engine_.PrintLn(cells);
}

void ReportGenerator::PrintRecordLine(const ReportLine& line) {
  PrintItems(line, [this](const ReportItem& item) { return FieldText(FieldOfItem(item)); });
}

void ReportGenerator::PrintTotalsLine(const Totals& totals) {
  if (!FileMode()) SetLineTabs(def_.totals, /*with_box=*/false, /*header_row=*/false);
  PrintItems(def_.totals,
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
  double width = engine_.TextWidth(caption);
  double x = 0, box_width = 0;
  if (width > printable_ - kCaptionExtra) {
    caption = engine_.FitText(caption, printable_ - kCaptionExtra);
    x = engine_.MarginLeft();
    box_width = printable_;
  } else {
    x = engine_.MarginLeft() + (printable_ - width) / 2;
    box_width = width + kCaptionExtra;
  }
  engine_.ClearTabs();
  engine_.SetTab(x, kJustifyCenter, box_width, 0, box, 0);
  engine_.PrintLn(caption);
}

bool ReportGenerator::TryGroupHeader() {
  if (!Fits(def_.lines + 2)) return false;
  header_pending_ = false;
  const QString caption = level2_ ? group1_ + QStringLiteral(", ") + group2_ : group1_;
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
  if (!Fits(def_.lines + 3)) return false;
  footer_pending_ = false;
  PrintTotalsCaption(QString::fromLatin1(kTotalsCaption));
  PrintTotalsLine(group_totals_);
  group_totals_ = Totals{};
  if (def_.lines == 1 && !FileMode()) SetRecordTabs();
  body_empty_ = false;
  return true;
}

bool ReportGenerator::TryFinalTotals() {
  if (!Fits(5)) return false;
  final_pending_ = false;
  PrintTotalsCaption(QString::fromLatin1(kTotalsCaption));
  PrintTotalsLine(group_totals_);
  if (FileMode()) {
    WriteText(QString());
  } else {
    engine_.NewLine();
  }
  PrintTotalsCaption(QString::fromLatin1(kGrandTotalsCaption));
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
      SetLineTabs(def_.record_lines[0], /*with_box=*/true, /*header_row=*/true);
      const ReportLine& line = def_.record_lines[0];
      QString cells;
      for (int i = 0; i < LineLength(line); ++i) {
        const ReportItem& item = line[static_cast<size_t>(i)];
        QString text;
        if (item.IsField()) {
          const int f = FieldOfItem(item);
          if (f >= 1) text = setup_.captions[static_cast<size_t>(f)];
        }
        if (i > 0) cells += QLatin1Char('\t');
        cells += engine_.FitText(NoTabs(text), engine_.TabWidth(i + 1));
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

  bool left_pending = false;
  while (!engine_.Aborted() && !table_.Eof() && (body_empty_ || engine_.LinesLeft() >= lines)) {
    if (footer_pending_ && !TryGroupFooter()) {
      left_pending = true;
      break;
    }
    if (header_pending_ && !TryGroupHeader()) {
      left_pending = true;
      break;
    }
    if (level1_) {
      const QString v1 = FieldText(level1_).left(kGroupValueLength);
      bool start = false;
      if (level2_) {
        const QString v2 = FieldText(level2_).left(kGroupValueLength);
        if (v2 != group2_) {
          group2_ = v2;
          start = true;
        } else if (v1 != group1_) {
          start = true;
        }
      } else {
        start = v1 != group1_;
      }
      if (start) {
        group1_ = v1;
        footer_pending_ = !first_group_ && def_.use_totals;
        header_pending_ = true;
        first_group_ = false;
        if (!footer_pending_ || TryGroupFooter()) TryGroupHeader();
        if (footer_pending_ || header_pending_) {
          left_pending = true;
          break;
        }
      }
    }
    if (!body_empty_ && engine_.LinesLeft() < lines) break;
    if (one_line) {
      PrintRecordLine(def_.record_lines[0]);
    } else {
      for (int n = 0; n < lines; ++n) {
        const ReportLine& line = def_.record_lines[static_cast<size_t>(n)];
        if (!FileMode()) SetLineTabs(line, /*with_box=*/false, /*header_row=*/false);
        PrintRecordLine(line);
      }
    }
    if (lines > 0) body_empty_ = false;
    if (def_.use_totals) {
      const auto number = [this](int f) {
        const dbf::Field* field = table_.FindField(db::FieldInfoOf(f).name);
        return field ? field->AsFloat() : 0.0;
      };
      const auto whole = [this]() -> double {
        // Read as a whole number; a fraction is cut toward zero.
        const dbf::Field* field = table_.FindField(db::FieldInfoOf(db::kQuantity).name);
        return field ? std::trunc(field->AsFloat()) : 0.0;
      };
      const double q = whole();
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
  (void)left_pending;
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
