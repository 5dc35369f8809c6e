#include "report/Repprev.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

#include "forms/ColorGroups.h"
#include "platform/Prompts.h"
#include "report/PrtRange.h"
#include "report/ReportTexts.h"

namespace klv::report {

namespace {

QString L(const char* text) {
  return QString::fromLatin1(text);
}

// A magnifier with a sign in it, or a page with arrows: the zoom buttons'
// pictures.
QIcon ZoomIcon(int kind) {
  QPixmap pixmap(20, 20);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QPen pen(Qt::black, 1.6);
  p.setPen(pen);
  if (kind <= 1) {
    p.drawEllipse(QRectF(2, 2, 11, 11));
    p.drawLine(QPointF(11.5, 11.5), QPointF(17, 17));
    p.drawLine(QPointF(5, 7.5), QPointF(10, 7.5));
    if (kind == 0) p.drawLine(QPointF(7.5, 5), QPointF(7.5, 10));
  } else {
    p.setBrush(Qt::white);
    p.drawRect(QRectF(kind == 2 ? 2 : 5, 2, kind == 2 ? 16 : 10, 16));
    if (kind == 2) {
      p.drawLine(QPointF(4, 10), QPointF(16, 10));
      p.drawLine(QPointF(4, 10), QPointF(7, 7));
      p.drawLine(QPointF(16, 10), QPointF(13, 7));
    }
  }
  return QIcon(pixmap);
}

}  // namespace

TMyPreview::TMyPreview(QIODevice* stream, const QString& report_name, int printer,
                       app::AppState& state, QWidget* parent)
    : QDialog(parent), state_(state), name_(report_name) {
  setObjectName(QStringLiteral("MyPreview"));
  setWindowTitle(report_name);
  setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::WindowMinMaxButtonsHint);
  FormCreate();
  FilePreview->SetStream(stream);
  FilePrinter.SelectPrinter(printer);
  FilePrinter.SetMessageParent(this);
  const app::WindowPlace& place = state_.settings.report_window;
  setGeometry(place.left, place.top, std::max(place.width, 200), std::max(place.height, 150));
}

TMyPreview::~TMyPreview() = default;

void TMyPreview::FormCreate() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  MenuBar = new QMenuBar(this);
  layout->setMenuBar(MenuBar);
  ToolBar = new QToolBar(this);
  ToolBar->setObjectName(QStringLiteral("ToolBar"));
  layout->addWidget(ToolBar);
  FilePreview = new engine::TFilePreview(this);
  FilePreview->setObjectName(QStringLiteral("FilePreview"));
  layout->addWidget(FilePreview, 1);

  const auto ctrl = [](Qt::Key key) { return QKeySequence(Qt::CTRL | key); };
  QMenu* file = MenuBar->addMenu(L(texts::kPreviewFile));
  file->addAction(L(texts::kPreviewPrintPage), ctrl(Qt::Key_P), this,
                  &TMyPreview::MenuPrintPageClick);
  file->addAction(L(texts::kPreviewPrintReport), ctrl(Qt::Key_R), this,
                  &TMyPreview::MenuPrintReportClick);
  file->addAction(L(texts::kPreviewPrintRange), ctrl(Qt::Key_G), this,
                  &TMyPreview::MenuPrintRangeClick);
  file->addSeparator();
  file->addAction(L(texts::kPreviewExit), ctrl(Qt::Key_X), this, &QDialog::close);

  QMenu* navigate = MenuBar->addMenu(L(texts::kPreviewNavigate));
  const auto prev_page = [this] { Guarded([this] { FilePreview->PrevPage(); }); };
  const auto next_page = [this] { Guarded([this] { FilePreview->NextPage(); }); };
  navigate->addAction(L(texts::kPreviewPrevPage), ctrl(Qt::Key_E), this, prev_page);
  navigate->addAction(L(texts::kPreviewNextPage), ctrl(Qt::Key_N), this, next_page);
  navigate->addAction(L(texts::kPreviewFirstPage), ctrl(Qt::Key_F), this, [this] {
    Guarded([this] { FilePreview->PrintPage(FilePreview->FirstPage()); });
  });
  navigate->addAction(L(texts::kPreviewLastPage), ctrl(Qt::Key_L), this, [this] {
    Guarded([this] { FilePreview->PrintPage(FilePreview->PageCount()); });
  });

  QMenu* view = MenuBar->addMenu(L(texts::kPreviewView));
  MenuUseColor = view->addAction(L(texts::kPreviewUseColor), ctrl(Qt::Key_C), this,
                                 &TMyPreview::MenuUseColorClick);
  MenuUseColor->setCheckable(true);
  MenuUseColor->setChecked(true);
  MenuZoomIn = view->addMenu(L(texts::kPreviewZoomIn));
  const double in[] = {100, 200};
  for (int i = 0; i < 2; ++i) {
    const double zoom = in[i];
    MenuZoomIn->addAction(L(texts::kPreviewZoomInItems[i]), this, [this, zoom] { SetZoom(zoom); });
  }
  MenuZoomOut = view->addMenu(L(texts::kPreviewZoomOut));
  const double out[] = {100, 50, 33.3, 25, 20};
  for (int i = 0; i < 5; ++i) {
    const double zoom = out[i];
    MenuZoomOut->addAction(L(texts::kPreviewZoomOutItems[i]), this,
                           [this, zoom] { SetZoom(zoom); });
  }
  // The two submenus open from the keyboard too.
  auto* zoom_in_key = new QShortcut(ctrl(Qt::Key_I), this);
  connect(zoom_in_key, &QShortcut::activated, this,
          [this] { MenuZoomIn->popup(mapToGlobal(QPoint(40, 40))); });
  auto* zoom_out_key = new QShortcut(ctrl(Qt::Key_O), this);
  connect(zoom_out_key, &QShortcut::activated, this,
          [this] { MenuZoomOut->popup(mapToGlobal(QPoint(40, 40))); });
  view->addAction(L(texts::kPreviewZoomPageWidth), ctrl(Qt::Key_Z), this,
                  [this] { SetZoom(FilePreview->ZoomPageWidthFactor()); });
  view->addAction(L(texts::kPreviewZoomWholePage), ctrl(Qt::Key_W), this,
                  [this] { SetZoom(FilePreview->ZoomPageFactor()); });

  QStyle* s = style();
  auto speed = [this](const QIcon& icon, const char* hint) {
    QAction* a = ToolBar->addAction(icon, QString());
    a->setToolTip(L(hint));
    a->setStatusTip(L(hint));
    return a;
  };
  ZoomInSpeed = speed(ZoomIcon(0), texts::kHintZoomIn);
  ZoomOutSpeed = speed(ZoomIcon(1), texts::kHintZoomOut);
  ZoomPageWidthSpeed = speed(ZoomIcon(2), texts::kHintZoomPageWidth);
  ZoomWholePageSpeed = speed(ZoomIcon(3), texts::kHintZoomWholePage);
  ToolBar->addSeparator();
  PrevPageSpeed = speed(s->standardIcon(QStyle::SP_ArrowLeft), texts::kHintPrevPage);
  NextPageSpeed = speed(s->standardIcon(QStyle::SP_ArrowRight), texts::kHintNextPage);
  PrintPageSpeed = speed(s->standardIcon(QStyle::SP_FileIcon), texts::kHintPrintPage);
  DoneSpeed = speed(s->standardIcon(QStyle::SP_DialogCloseButton), texts::kHintDone);
  ToolBar->addSeparator();
  ToolBar->addWidget(new QLabel(L(texts::kZoomLabel) + QLatin1Char(' '), ToolBar));
  ZoomEdit = new QLineEdit(ToolBar);
  ZoomEdit->setObjectName(QStringLiteral("ZoomEdit"));
  ZoomEdit->setFixedWidth(56);
  ToolBar->addWidget(ZoomEdit);
  ToolBar->addWidget(
      new QLabel(QStringLiteral("  ") + L(texts::kPageNumberLabel) + QLatin1Char(' '), ToolBar));
  PageEdit = new QLineEdit(ToolBar);
  PageEdit->setObjectName(QStringLiteral("PageEdit"));
  PageEdit->setFixedWidth(56);
  ToolBar->addWidget(PageEdit);
  PageLabel = new QLabel(ToolBar);
  PageLabel->setObjectName(QStringLiteral("PageLabel"));
  PageLabel->setMinimumWidth(120);
  ToolBar->addWidget(new QLabel(QStringLiteral("  "), ToolBar));
  ToolBar->addWidget(PageLabel);

  connect(ZoomInSpeed, &QAction::triggered, FilePreview, &engine::TFilePreview::ZoomIn);
  connect(ZoomOutSpeed, &QAction::triggered, FilePreview, &engine::TFilePreview::ZoomOut);
  connect(ZoomPageWidthSpeed, &QAction::triggered, this,
          [this] { SetZoom(FilePreview->ZoomPageWidthFactor()); });
  connect(ZoomWholePageSpeed, &QAction::triggered, this,
          [this] { SetZoom(FilePreview->ZoomPageFactor()); });
  connect(PrevPageSpeed, &QAction::triggered, this, prev_page);
  connect(NextPageSpeed, &QAction::triggered, this, next_page);
  connect(PrintPageSpeed, &QAction::triggered, this, &TMyPreview::MenuPrintPageClick);
  connect(DoneSpeed, &QAction::triggered, this, &QDialog::close);
  connect(ZoomEdit, &QLineEdit::editingFinished, this, &TMyPreview::ZoomEditDone);
  connect(PageEdit, &QLineEdit::editingFinished, this, &TMyPreview::PageEditDone);
  connect(FilePreview, &engine::TFilePreview::OnPageChange, this, &TMyPreview::PageChanged);
  connect(FilePreview, &engine::TFilePreview::OnZoomChange, this, &TMyPreview::ZoomChanged);
}

void TMyPreview::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  SetColors();
  Guarded([this] { FilePreview->Start(); });
  PageChanged();
  ZoomChanged();
}

void TMyPreview::SetColors() {
  forms::ApplyColorGroup(this, forms::ColorGroupId::kReport);
}

void TMyPreview::PageChanged() {
  const int page = FilePreview->CurrentPage();
  PageEdit->setText(QString::number(page));
  PageLabel->setText(L(texts::kPageLabelStart) +
                     QString::number(page - FilePreview->FirstPage() + 1) + L(texts::kPageLabelOf) +
                     QString::number(FilePreview->PageCount()));
}

void TMyPreview::ZoomChanged() {
  ZoomEdit->setText(QString::number(FilePreview->ZoomFactor(), 'f', 1));
}

void TMyPreview::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    const QString message = QString::fromUtf8(e.what());
    if (OnError) {
      OnError(message);
    } else {
      platform::prompts().Notify(this, L(texts::kError), message, platform::MsgIcon::kError);
    }
  }
}

void TMyPreview::SetZoom(double percent) {
  Guarded([this, percent] {
    FilePreview->SetZoomFactor(percent);
    FilePreview->RedrawPage();
  });
}

void TMyPreview::ZoomEditDone() {
  bool ok = false;
  const double zoom = ZoomEdit->text().trimmed().toDouble(&ok);
  if (ok && zoom != FilePreview->ZoomFactor()) SetZoom(zoom);
  ZoomChanged();
}

void TMyPreview::PageEditDone() {
  bool ok = false;
  const int page = PageEdit->text().trimmed().toInt(&ok);
  if (ok && page != FilePreview->CurrentPage())
    Guarded([this, page] { FilePreview->PrintPage(page); });
  PageChanged();
}

bool TMyPreview::RefuseWhileBusy() {
  if (!FilePrinter.Busy()) return false;
  platform::prompts().Notify(this, L(texts::kError), L(texts::kPrintJobBusy),
                             platform::MsgIcon::kError);
  return true;
}

void TMyPreview::MenuPrintPageClick() {
  if (RefuseWhileBusy()) return;
  const int page = FilePreview->CurrentPage();
  Guarded([this, page] { FilePrinter.PrintPages(FilePreview->pages(), page, page, 1); });
}

void TMyPreview::MenuPrintReportClick() {
  if (RefuseWhileBusy()) return;
  Guarded([this] { FilePrinter.Print(FilePreview->pages()); });
}

void TMyPreview::MenuPrintRangeClick() {
  if (RefuseWhileBusy()) return;
  TPrintRange range(FilePreview->PageCount(), state_.scale_factor, this);
  if (range.exec() != QDialog::Accepted) return;
  Guarded([this, &range] {
    FilePrinter.PrintPages(FilePreview->pages(), range.first(), range.last(), 1);
  });
}

void TMyPreview::MenuUseColorClick() {
  const int page = FilePreview->CurrentPage();
  FilePreview->Finish();
  FilePreview->SetMonochrome(!FilePreview->Monochrome());
  MenuUseColor->setChecked(!FilePreview->Monochrome());
  Guarded([this, page] {
    FilePreview->Start();
    if (page > 1) FilePreview->PrintPage(page);
  });
}

void TMyPreview::StorePlace() {
  if (place_stored_) return;
  place_stored_ = true;
  app::WindowPlace& place = state_.settings.report_window;
  const QRect g = geometry();
  place = app::WindowPlace{g.left(), g.top(), g.width(), g.height()};
  FilePreview->Finish();
}

void TMyPreview::closeEvent(QCloseEvent* event) {
  StorePlace();
  QDialog::closeEvent(event);
}

void TMyPreview::done(int result) {
  StorePlace();
  QDialog::done(result);
}

}  // namespace klv::report
