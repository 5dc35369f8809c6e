#include "stats/Statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>

#include <QFont>
#include <QFontMetrics>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include "base/Env.h"
#include "db/FieldTable.h"
#include "stats/StatsTexts.h"
#include "transfer/Delimited.h"

namespace klv::stats {

namespace {

QString L(const char* text) {
  return QString::fromLatin1(text);
}

// Order keys of the groups of their own, after every real value.
constexpr int kKeyUnknown = 1 << 29;
constexpr int kKeyNone = (1 << 29) + 1;
constexpr int kKeyBc = -(1 << 29);

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\0')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

// The groups of one grouping as the walk meets them, keyed as the index
// compares texts.
class Grouping {
 public:
  // The figures of key; name() names a group met for the first time.
  template <class Name>
  Figures& At(const std::string& key, int sort_key, Name name) {
    auto it = index_.find(key);
    if (it != index_.end()) return groups_[it->second].figures;
    index_.emplace(key, groups_.size());
    groups_.push_back(Group{name(), {}});
    sort_keys_.push_back(sort_key);
    return groups_.back().figures;
  }

  // The groups kept for a chart: the largest by measure, then "others".
  // chronological: the kept groups in their sort keys' order.
  std::vector<Group> Finish(Measure measure, bool chronological) const {
    std::vector<size_t> order(groups_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto size_of = [&](size_t i) {
      const Figures& f = groups_[i].figures;
      switch (measure) {
        case Measure::kCoins:
          return static_cast<double>(f.coins);
        case Measure::kSpending:
          return f.purchase;
        case Measure::kValue:
          return f.market;
      }
      return 0.0;
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      const double sa = size_of(a), sb = size_of(b);
      if (sa != sb) return sa > sb;
      return groups_[a].name.compare(groups_[b].name, Qt::CaseInsensitive) < 0;
    });
    std::vector<size_t> kept(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                order.size(), kTopGroups)));
    if (chronological) {
      std::stable_sort(kept.begin(), kept.end(),
                       [&](size_t a, size_t b) { return sort_keys_[a] < sort_keys_[b]; });
    }
    std::vector<Group> out;
    for (size_t i : kept) out.push_back(groups_[i]);
    if (order.size() > kTopGroups) {
      Group others{L(texts::kOthers), {}};
      for (size_t i = kTopGroups; i < order.size(); ++i)
        others.figures.Add(groups_[order[i]].figures);
      out.push_back(others);
    }
    return out;
  }

 private:
  std::unordered_map<std::string, size_t> index_;
  std::vector<Group> groups_;
  std::vector<int> sort_keys_;
};

// Raw numeric field bytes as a number: blanks and what is no number give 0,
// as the table reads them.
double RawNumber(std::string_view raw) {
  raw = Trimmed(raw);
  if (raw.empty()) return 0;
  char buf[32];
  const size_t n = std::min(raw.size(), sizeof buf - 1);
  std::copy_n(raw.data(), n, buf);
  buf[n] = '\0';
  char* end = nullptr;
  const double v = std::strtod(buf, &end);
  return end == buf || !std::isfinite(v) ? 0 : v;
}

QString Amount(double value) {
  return QString::number(value, 'f', 2);
}

QString Whole(double value) {
  return QString::number(value, 'f', 0);
}

}  // namespace

QString DecadeOf(std::string_view year, int* sort_key) {
  const auto set = [&](int key) {
    if (sort_key) *sort_key = key;
  };
  year = Trimmed(year);
  if (year.empty()) {
    set(kKeyNone);
    return L(texts::kNone);
  }
  for (size_t i = 0; i + 1 < year.size(); ++i) {
    if ((year[i] == 'B' || year[i] == 'b') && (year[i + 1] == 'C' || year[i + 1] == 'c')) {
      set(kKeyBc);
      return L(texts::kBc);
    }
  }
  int value = 0;
  size_t digits = 0;
  while (digits < year.size() && digits < 7 && year[digits] >= '0' && year[digits] <= '9') {
    value = value * 10 + (year[digits] - '0');
    ++digits;
  }
  if (digits == 0) {
    set(kKeyUnknown);
    return L(texts::kUnknown);
  }
  const int decade = value / 10 * 10;
  set(decade);
  return QString::number(decade) + L(texts::kDecadeSuffix);
}

Statistics CollectStatistics(dbf::Table& table, bool search_result, const Progress& progress) {
  using namespace db;
  const auto field = [&](int no) -> dbf::Field& {
    return table.FieldByName(std::string(FieldInfoOf(no).name));
  };
  dbf::Field& country = field(kCountry);
  dbf::Field& year = field(kYear);
  dbf::Field& condition = field(kCondition);
  dbf::Field& topic = field(kTopic);
  dbf::Field& purchase = field(kPurchasePr);
  dbf::Field& market = field(kMarketValu);
  dbf::Field& quantity = field(kQuantity);
  dbf::Field& date = field(kPurchDate);
  const dbf::CodePage& cp = table.code_page();

  Statistics stats;
  stats.search_result = search_result;
  Grouping by_country, by_decade, by_condition, by_topic, by_year;
  Figures total;
  std::string key;
  // The group of a text field's value: its trimmed bytes in the code page's
  // upper case; the name is the value as read, trimmed.
  const auto text_group = [&](Grouping& g, dbf::Field& f) -> Figures& {
    const std::string_view raw = Trimmed(f.Raw());
    if (raw.empty()) {
      key.clear();
      return g.At(key, kKeyNone, [] { return L(texts::kNone); });
    }
    key.assign(raw);
    for (char& c : key) c = static_cast<char>(cp.Upper(static_cast<uint8_t>(c)));
    return g.At(key, 0, [&] { return QString::fromStdString(f.AsString()).trimmed(); });
  };

  const uint64_t counted = table.RecordCount();
  const uint32_t start = table.RecNo();
  table.DisableControls();
  struct PutBack {
    dbf::Table& table;
    uint32_t start;
    ~PutBack() {
      try {
        if (start == 0 || !table.GoTo(start)) table.First();
      } catch (...) {
      }
      table.EnableControls();
    }
  } put_back{table, start};

  for (table.First(); !table.Eof(); table.Next()) {
    const double q = RawNumber(quantity.Raw());
    const double p = RawNumber(purchase.Raw());
    const double m = RawNumber(market.Raw());
    const auto add = [&](Figures& f) { f.Add(q, p, m); };
    add(total);
    add(text_group(by_country, country));
    add(text_group(by_condition, condition));
    add(text_group(by_topic, topic));
    {
      int sort_key = 0;
      const std::string_view raw = Trimmed(year.Raw());
      // Decades are few: group by the decade itself.
      const QString decade = DecadeOf(raw, &sort_key);
      add(by_decade.At(std::to_string(sort_key), sort_key, [&] { return decade; }));
    }
    {
      const std::string_view raw = Trimmed(date.Raw());
      int y = 0;
      bool readable = raw.size() >= 4;
      for (size_t i = 0; readable && i < 4; ++i) {
        if (raw[i] < '0' || raw[i] > '9')
          readable = false;
        else
          y = y * 10 + (raw[i] - '0');
      }
      if (raw.empty()) {
        add(by_year.At("", kKeyNone, [] { return L(texts::kNone); }));
      } else if (!readable || y == 0) {
        add(by_year.At("?", kKeyUnknown, [] { return L(texts::kUnknown); }));
      } else {
        add(by_year.At(std::to_string(y), y, [&] { return QString::number(y); }));
      }
    }
    ++stats.rows;
    if (progress && stats.rows % 4096 == 0 && !progress(stats.rows, counted)) {
      stats.complete = false;
      break;
    }
  }
  if (progress && stats.complete) progress(stats.rows, counted);

  const auto chart = [&](ChartId id, Measure measure, std::vector<Group> groups) {
    Chart c;
    c.id = id;
    c.title = L(texts::kChartTitles[static_cast<int>(id)]);
    c.measure = measure;
    c.groups = std::move(groups);
    c.total = total;
    stats.charts.push_back(std::move(c));
  };
  chart(ChartId::kByCountry, Measure::kCoins, by_country.Finish(Measure::kCoins, false));
  chart(ChartId::kByDecade, Measure::kCoins, by_decade.Finish(Measure::kCoins, true));
  chart(ChartId::kByCondition, Measure::kCoins, by_condition.Finish(Measure::kCoins, false));
  chart(ChartId::kByTopic, Measure::kCoins, by_topic.Finish(Measure::kCoins, false));
  chart(ChartId::kSpendingByYear, Measure::kSpending, by_year.Finish(Measure::kSpending, true));
  chart(ChartId::kValueTotal, Measure::kValue, {Group{L(texts::kAllCoins), total}});
  chart(ChartId::kValueByCountry, Measure::kValue, by_country.Finish(Measure::kValue, false));
  return stats;
}

QStringList FigureColumns() {
  return {L(texts::kColumnGroup), L(texts::kColumnCoins), L(texts::kColumnQuantity),
          L(texts::kColumnPurchase), L(texts::kColumnMarket)};
}

QStringList FigureLine(const Group& group, const app::NumberFormats& formats) {
  return {group.name, QString::number(group.figures.coins),
          app::FormatNumber(formats, 0, 0, group.figures.quantity),
          app::FormatAmount(formats, 0, group.figures.purchase),
          app::FormatAmount(formats, 0, group.figures.market)};
}

void WriteStatisticsCsv(const Statistics& stats, const QString& path) {
  std::string out;
  const auto line = [&](const QStringList& values) {
    std::vector<std::string> v;
    for (const QString& s : values) v.push_back(s.toStdString());
    out += transfer::CsvLine(v);
    out += "\r\n";
  };
  QStringList head = FigureColumns();
  head.prepend(L(texts::kColumnChart));
  line(head);
  for (const Chart& c : stats.charts) {
    std::vector<Group> rows = c.groups;
    rows.push_back(Group{L(texts::kTotal), c.total});
    for (const Group& g : rows) {
      line({c.title, g.name, QString::number(g.figures.coins), Whole(g.figures.quantity),
            Amount(g.figures.purchase), Amount(g.figures.market)});
    }
  }
  base::Env& env = base::Env::Default();
  const std::string p = path.toStdString();
  base::ReplaceFile(env, p, [&](base::File& f) { f.WriteAt(0, out.data(), out.size()); });
  const size_t slash = p.find_last_of('/');
  env.SyncDir(slash == std::string::npos ? std::string(".") : p.substr(0, slash + 1));
}

namespace {

// What a chart's bar stands for in a group.
double BarValue(const Chart& c, const Group& g, bool second) {
  switch (c.measure) {
    case Measure::kCoins:
      return static_cast<double>(g.figures.coins);
    case Measure::kSpending:
      return g.figures.purchase;
    case Measure::kValue:
      return second ? g.figures.market : g.figures.purchase;
  }
  return 0;
}

void DrawChartPage(QPainter& p, const Chart& c, const app::NumberFormats& formats,
                   const QRect& page) {
  const int dpi = p.device()->logicalDpiY();
  const auto pt = [&](double points) { return static_cast<int>(points * dpi / 72.0); };
  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPointSizeF(16);
  title.setBold(true);
  QFont body(QStringLiteral("DejaVu Sans"));
  body.setPointSizeF(9);
  QFont bold = body;
  bold.setBold(true);

  int y = page.top();
  p.setFont(title);
  const int title_h = QFontMetrics(title, p.device()).height();
  p.drawText(QRect(page.left(), y, page.width(), title_h), Qt::AlignLeft | Qt::AlignVCenter,
             c.title);
  y += title_h + pt(12);

  // The bars: one row per group, the group's name on the left.
  p.setFont(body);
  const QFontMetrics fm(body, p.device());
  const int row_h = fm.height() + pt(4);
  const bool pairs = c.measure == Measure::kValue;
  const int label_w = page.width() / 4;
  const int value_w = page.width() / 6;
  const int bar_left = page.left() + label_w + pt(6);
  const int bar_w = page.width() - label_w - value_w - pt(12);
  double largest = 0;
  for (const Group& g : c.groups) {
    largest = std::max(largest, BarValue(c, g, false));
    if (pairs) largest = std::max(largest, BarValue(c, g, true));
  }
  const QColor first(0x33, 0x66, 0x99), second(0xcc, 0x88, 0x22);
  for (const Group& g : c.groups) {
    const int h = pairs ? 2 * row_h : row_h;
    p.setPen(Qt::black);
    p.drawText(QRect(page.left(), y, label_w, h), Qt::AlignRight | Qt::AlignVCenter,
               fm.elidedText(g.name, Qt::ElideRight, label_w));
    for (int k = 0; k < (pairs ? 2 : 1); ++k) {
      const double v = BarValue(c, g, k == 1);
      const int w = largest > 0 ? static_cast<int>(bar_w * (v / largest)) : 0;
      const QRect bar(bar_left, y + k * row_h + pt(2), std::max(w, 1), row_h - pt(4));
      p.fillRect(bar, k == 1 ? second : first);
      const QString text = c.measure == Measure::kCoins ? QString::number(static_cast<qint64>(v))
                                                        : app::FormatAmount(formats, 0, v);
      p.drawText(QRect(bar.right() + pt(4), y + k * row_h, value_w, row_h),
                 Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    y += h;
  }
  if (pairs) {
    y += pt(4);
    const int box = fm.height() - pt(4);
    p.fillRect(QRect(bar_left, y + pt(2), box, box), first);
    p.drawText(QRect(bar_left + box + pt(4), y, bar_w / 2, fm.height()), Qt::AlignVCenter,
               L(texts::kSeriesPurchase));
    p.fillRect(QRect(bar_left + bar_w / 2, y + pt(2), box, box), second);
    p.drawText(QRect(bar_left + bar_w / 2 + box + pt(4), y, bar_w / 2, fm.height()),
               Qt::AlignVCenter, L(texts::kSeriesMarket));
    y += fm.height();
  }
  y += pt(18);

  // The table beneath: each line begins with the group's name.
  const int name_w = page.width() / 3;
  const int col_w = (page.width() - name_w) / 4;
  const auto table_line = [&](const QStringList& cells, const QFont& font) {
    p.setFont(font);
    const QFontMetrics m(font, p.device());
    p.drawText(QRect(page.left(), y, name_w, row_h), Qt::AlignLeft | Qt::AlignVCenter,
               m.elidedText(cells[0], Qt::ElideRight, name_w - pt(4)));
    for (int i = 1; i < cells.size(); ++i) {
      p.drawText(QRect(page.left() + name_w + (i - 1) * col_w, y, col_w, row_h),
                 Qt::AlignRight | Qt::AlignVCenter, cells[i]);
    }
    y += row_h;
  };
  table_line(FigureColumns(), bold);
  p.drawLine(page.left(), y, page.right(), y);
  for (const Group& g : c.groups) table_line(FigureLine(g, formats), body);
  p.drawLine(page.left(), y, page.right(), y);
  table_line(FigureLine(Group{L(texts::kTotal), c.total}, formats), bold);
}

}  // namespace

bool WriteStatisticsPdf(const Statistics& stats, const app::NumberFormats& formats,
                        const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  {
    QPdfWriter writer(&file);
    writer.setTitle(L(texts::kPdfTitle));
    writer.setCreator(L(texts::kPdfTitle));
    writer.setPageSize(QPageSize(QPageSize::Letter));
    writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
    writer.setResolution(300);
    QPainter p;
    if (!p.begin(&writer)) {
      file.cancelWriting();
      return false;
    }
    const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
    const QRect area(0, 0, page.width(), page.height());
    bool first = true;
    for (const Chart& c : stats.charts) {
      if (!first) writer.newPage();
      first = false;
      DrawChartPage(p, c, formats, area);
    }
    p.end();
  }
  return file.commit();
}

}  // namespace klv::stats
