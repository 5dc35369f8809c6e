#include "report/MyRep1.h"

#include <memory>

#include <QAction>
#include <QBuffer>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTimer>

#include "forms/ColorGroups.h"
#include "platform/HelpViewer.h"
#include "platform/Prompts.h"
#include "report/PrtSel.h"
#include "report/ReportTexts.h"
#include "report/Repprev.h"
#include "report/Rpform.h"
#include "report/UrpFile.h"
#include "report/UserRep1.h"
#include "report/engine/PaintedReport.h"
#include "report/engine/ReportFiler.h"
#include "report/engine/ReportPrinter.h"

namespace klv::report {

namespace {

QString L(const char* text) {
  return QString::fromLatin1(text);
}

}  // namespace

TMyReport::TMyReport(app::OpenDatabase& db, TPrintSelect& print_select, QWidget* parent)
    : QDialog(parent), db_(db), print_select_(print_select) {
  setObjectName(QStringLiteral("MyReport"));
  setWindowTitle(L(texts::kChooserCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  setModal(true);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  FormCreate();
  dimensions_ = forms::SaveDimensions(this);
  // The designer on the definitions file; the list follows what it wrote.
  SetDesigner([](TMyReport& chooser, const ReportDef&, int index) {
    UrpFile file(chooser.UrpPath());
    TUserReport designer(&chooser, chooser.db_.state(), file);
    const DesignResult r = index < 0 ? designer.EditNew() : designer.EditExisting(index);
    if (r.changed) chooser.LoadReports(r.select_index);
  });
}

TMyReport::~TMyReport() = default;

void TMyReport::FormCreate() {
  MenuBar = new QMenuBar(this);
  MenuBar->setGeometry(0, 0, 456, 22);
  const auto ctrl = [](Qt::Key key) { return QKeySequence(Qt::CTRL | key); };
  QMenu* file = MenuBar->addMenu(L(texts::kMenuFile));
  file->addAction(L(texts::kMenuView), ctrl(Qt::Key_V), this, &TMyReport::ViewButtonClick);
  file->addAction(L(texts::kMenuPrint), ctrl(Qt::Key_P), this, &TMyReport::PrintButtonClick);
  file->addAction(L(texts::kMenuPrintToFile), ctrl(Qt::Key_F), this, &TMyReport::FileButtonClick);
  file->addAction(L(texts::kMenuPrintToPdf), ctrl(Qt::Key_D), this, &TMyReport::PdfButtonClick);
  file->addAction(L(texts::kMenuPrinterSetup), ctrl(Qt::Key_S), this,
                  &TMyReport::MenuPrinterSetupClick);
  file->addSeparator();
  file->addAction(L(texts::kMenuExit), ctrl(Qt::Key_X), this, &TMyReport::ExitButtonClick);
  QMenu* options = MenuBar->addMenu(L(texts::kMenuOptions));
  MenuModify = options->addAction(L(texts::kMenuModify), ctrl(Qt::Key_M), this,
                                  &TMyReport::ModifyButtonClick);
  MenuNew =
      options->addAction(L(texts::kMenuNew), ctrl(Qt::Key_N), this, &TMyReport::NewButtonClick);
  QMenu* help = MenuBar->addMenu(L(texts::kMenuHelp));
  help->addAction(L(texts::kMenuHelp).remove(QLatin1Char('&')), this, &TMyReport::HelpButtonClick);

  ReportBox = new QListWidget(this);
  ReportBox->setObjectName(QStringLiteral("ReportBox"));
  ReportBox->setGeometry(8, 30, 264, 200);
  connect(ReportBox, &QListWidget::itemDoubleClicked, this, &TMyReport::ViewButtonClick);

  WhatToPrint = new QGroupBox(L(texts::kWhatToPrint), this);
  WhatToPrint->setGeometry(8, 236, 264, 68);
  EntireButton = new QRadioButton(L(texts::kPrintEntire), WhatToPrint);
  EntireButton->setObjectName(QStringLiteral("EntireButton"));
  EntireButton->setGeometry(10, 20, 240, 20);
  SearchButton = new QRadioButton(L(texts::kPrintSearch), WhatToPrint);
  SearchButton->setObjectName(QStringLiteral("SearchButton"));
  SearchButton->setGeometry(10, 42, 240, 20);

  auto* sort_box = new QGroupBox(L(texts::kCurrentSortOrder), this);
  sort_box->setGeometry(8, 310, 440, 48);
  SortPanel = new QLabel(sort_box);
  SortPanel->setObjectName(QStringLiteral("SortPanel"));
  SortPanel->setGeometry(10, 20, 420, 20);

  auto button = [this](const char* text, const char* name, int top) {
    auto* b = new QPushButton(L(text), this);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(288, top, 160, 27);
    b->setAutoDefault(false);
    return b;
  };
  ViewButton = button(texts::kViewButton, "ViewButton", 30);
  ViewButton->setDefault(true);
  PrintButton = button(texts::kPrintButton, "PrintButton", 62);
  FileButton = button(texts::kPrintToFileButton, "FileButton", 94);
  PdfButton = button(texts::kPrintToPdfButton, "PdfButton", 126);
  ModifyButton = button(texts::kModifyButton, "ModifyButton", 166);
  NewButton = button(texts::kNewButton, "NewButton", 198);
  HelpButton = button(texts::kHelpButton, "HelpButton", 238);
  ExitButton = button(texts::kExitButton, "ExitButton", 270);
  resize(456, 366);

  connect(ViewButton, &QPushButton::clicked, this, &TMyReport::ViewButtonClick);
  connect(PrintButton, &QPushButton::clicked, this, &TMyReport::PrintButtonClick);
  connect(FileButton, &QPushButton::clicked, this, &TMyReport::FileButtonClick);
  connect(PdfButton, &QPushButton::clicked, this, &TMyReport::PdfButtonClick);
  connect(ModifyButton, &QPushButton::clicked, this, &TMyReport::ModifyButtonClick);
  connect(NewButton, &QPushButton::clicked, this, &TMyReport::NewButtonClick);
  connect(HelpButton, &QPushButton::clicked, this, &TMyReport::HelpButtonClick);
  connect(ExitButton, &QPushButton::clicked, this, &TMyReport::ExitButtonClick);
}

void TMyReport::SetDesigner(Designer designer) {
  designer_ = std::move(designer);
  const bool on = static_cast<bool>(designer_);
  ModifyButton->setEnabled(on);
  NewButton->setEnabled(on);
  MenuModify->setEnabled(on);
  MenuNew->setEnabled(on);
}

QString TMyReport::UrpPath() const {
  return DefinitionsFilePath(db_.state().program_dir);
}

QString TMyReport::LoadReports(int select) {
  const UrpFile::Contents contents = UrpFile(UrpPath()).Load();
  ReportBox->clear();
  for (const ReportDef& def : contents.defs) ReportBox->addItem(def.name);
  if (select >= 0 && select < ReportBox->count()) ReportBox->setCurrentRow(select);
  return contents.problem;
}

void TMyReport::ShowModal() {
  QString problem;
  try {
    problem = LoadReports();
  } catch (const std::exception& e) {
    if (OnError) OnError(QString::fromUtf8(e.what()));
    return;
  }
  // A damaged file is said at once, over the chooser.
  if (!problem.isEmpty()) {
    QTimer::singleShot(0, this, [this, problem] {
      platform::prompts().Notify(this, L(texts::kWarning), problem, platform::MsgIcon::kWarning);
    });
  }
  exec();
}

void TMyReport::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

QString TMyReport::SortOrderText() const {
  const app::Settings& s = db_.state().settings;
  QStringList captions;
  for (int level : s.sort_levels) {
    if (level >= 1 && level <= db::kFieldCount)
      captions << s.field_names[static_cast<size_t>(level)];
  }
  return captions.isEmpty() ? L(texts::kNoSortOrder) : captions.join(QStringLiteral(", "));
}

void TMyReport::FormShow() {
  const app::AppState& state = db_.state();
  forms::ScaleDialog(this, dimensions_, state.scale_factor);
  forms::ApplyUserFonts(this, state.fonts);
  const bool searching = db_.searching();
  SearchButton->setEnabled(searching);
  EntireButton->setEnabled(true);
  (searching ? SearchButton : EntireButton)->setChecked(true);
  SortPanel->setText(SortOrderText());
  const int last = state.settings.last_report;
  ReportBox->setCurrentRow(last >= 0 && last < ReportBox->count() ? last : -1);
  if (last < 0 || last >= ReportBox->count()) ReportBox->clearSelection();
  ReportBox->setFocus();
  SetColors();
}

void TMyReport::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

int TMyReport::SelectedIndex() const {
  const QList<QListWidgetItem*> items = ReportBox->selectedItems();
  return items.isEmpty() ? -1 : ReportBox->row(items.front());
}

void TMyReport::done(int result) {
  db_.state().settings.last_report = SelectedIndex();
  QDialog::done(result);
}

bool TMyReport::CheckSelection() {
  if (SelectedIndex() >= 0) return true;
  platform::prompts().Beep();
  platform::prompts().Notify(this, L(texts::kError), L(texts::kNoReportSelected),
                             platform::MsgIcon::kError);
  ReportBox->setFocus();
  return false;
}

void TMyReport::ViewButtonClick() {
  RunReport(kModeView, QString());
}
void TMyReport::PrintButtonClick() {
  RunReport(kModePrint, QString());
}

void TMyReport::FileButtonClick() {
  platform::FileDialogRequest request;
  request.title = L(texts::kSaveTextTitle);
  request.filter = L(texts::kSaveTextFilter);
  request.default_suffix = L(texts::kSaveTextSuffix);
  request.overwrite_prompt = true;
  request.path_must_exist = true;
  const QString file = platform::prompts().SaveFile(this, request);
  if (file.isEmpty()) return;
  RunReport(kModeFile, file);
}

void TMyReport::PdfButtonClick() {
  platform::FileDialogRequest request;
  request.title = L(texts::kSavePdfTitle);
  request.filter = L(texts::kSavePdfFilter);
  request.default_suffix = L(texts::kSavePdfSuffix);
  request.overwrite_prompt = true;
  request.path_must_exist = true;
  const QString file = platform::prompts().SaveFile(this, request);
  if (file.isEmpty()) return;
  RunReport(kModePrint, QString(), file);
}

void TMyReport::MenuPrinterSetupClick() {
  print_select_.exec();
}

void TMyReport::RunReport(int mode, const QString& file, const QString& pdf) {
  if (!CheckSelection()) return;
  const int index = SelectedIndex();
  ReportDef def;
  try {
    def = UrpFile(UrpPath()).Read(index);
  } catch (const std::exception&) {
    platform::prompts().Beep();
    platform::prompts().Notify(this, L(texts::kError), L(texts::kReportNotFound),
                               platform::MsgIcon::kError);
    return;
  }

  // The whole table for this run; the search is put back in force after it.
  const bool end_search = db_.searching() && EntireButton->isChecked();
  struct SearchBack {
    app::OpenDatabase& db;
    bool active;
    ~SearchBack() {
      if (!active) return;
      try {
        db.SetSearchMode(true);
        db.ReopenMyTable();
      } catch (...) {
      }
      emit db.ViewerSettingsNeeded();
    }
  } search_back{db_, end_search};
  try {
    if (end_search) db_.EndSearch();

    const int printer = TPrintSelect::PrinterOf(db_.state().settings);
    std::unique_ptr<engine::TBaseReport> target;
    QByteArray pages;
    QBuffer stream(&pages);
    if (!pdf.isEmpty()) {
      auto t = std::make_unique<engine::TPdfReport>(pdf);
      t->SetTitle(def.name);
      t->SetPaper(engine::PrinterPaper(printer));
      target = std::move(t);
    } else if (mode == kModePrint) {
      auto t = std::make_unique<engine::TReportPrinter>();
      t->SetMessageParent(this);
      target = std::move(t);
    } else {
      auto t = std::make_unique<engine::TReportFiler>();
      if (mode == kModeView) {
        stream.open(QIODevice::ReadWrite);
        t->SetStream(&stream);
      }
      t->SetPaper(engine::PrinterPaper(printer));
      target = std::move(t);
    }
    target->SelectPrinter(printer);

    bool aborted = true;
    {
      TReportForm status(def, mode, db_, *target, file, this);
      status.OnError = OnError;
      status.exec();
      aborted = status.Aborted();
    }
    if (mode == kModeView && !aborted) {
      TMyPreview preview(&stream, def.name, printer, db_.state(), this);
      preview.OnError = OnError;
      preview.exec();
    }
  } catch (const std::exception& e) {
    if (OnError) OnError(QString::fromUtf8(e.what()));
  }
}

void TMyReport::ModifyButtonClick() {
  if (!designer_) return;
  if (!CheckSelection()) return;
  const int index = SelectedIndex();
  ReportDef def;
  try {
    def = UrpFile(UrpPath()).Read(index);
  } catch (const std::exception& e) {
    if (OnError) OnError(QString::fromUtf8(e.what()));
    return;
  }
  designer_(*this, def, index);
}

void TMyReport::NewButtonClick() {
  if (!designer_) return;
  designer_(*this, NewReportDef(), -1);
}

void TMyReport::HelpButtonClick() {
  platform::ShowHelp(this, L(texts::kChooserHelpKeyword));
}

void TMyReport::ExitButtonClick() {
  accept();
}

}  // namespace klv::report
