// The preview window, TMyPreview: the stored pages of a view run shown page
// by page with zoom, and printed again from there (the current page, all
// pages or a range). Its place and size are the "Report Viewing Window"
// settings; its caption is the report's name.
//
// A command of the preview that fails (a printer that refuses, stored pages
// that cannot be read) is caught where it runs and shown at once through
// OnError, with the preview still open; nothing is thrown through Qt's
// event handlers.
#pragma once

#include <functional>

#include <QDialog>

#include "app/AppState.h"
#include "report/engine/FilePreview.h"
#include "report/engine/ReportPrinter.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QToolBar;

namespace klv::report {

class TMyPreview : public QDialog {
  Q_OBJECT

 public:
  // stream: the pages a TReportFiler wrote (not owned); printer: the index
  // prints go to (-1 the default printer).
  TMyPreview(QIODevice* stream, const QString& report_name, int printer, app::AppState& state,
             QWidget* parent = nullptr);
  ~TMyPreview() override;

  // Shows a failed command's message (the general error display); unset, a
  // message box says it.
  std::function<void(const QString&)> OnError;

  engine::TFilePreview* FilePreview = nullptr;
  engine::TFilePrinter FilePrinter;
  QMenuBar* MenuBar = nullptr;
  QToolBar* ToolBar = nullptr;
  QLineEdit* ZoomEdit = nullptr;
  QLineEdit* PageEdit = nullptr;
  QLabel* PageLabel = nullptr;
  QAction* MenuUseColor = nullptr;
  QAction* ZoomInSpeed = nullptr;
  QAction* ZoomOutSpeed = nullptr;
  QAction* ZoomPageWidthSpeed = nullptr;
  QAction* ZoomWholePageSpeed = nullptr;
  QAction* PrevPageSpeed = nullptr;
  QAction* NextPageSpeed = nullptr;
  QAction* PrintPageSpeed = nullptr;
  QAction* DoneSpeed = nullptr;
  QMenu* MenuZoomIn = nullptr;
  QMenu* MenuZoomOut = nullptr;

  void MenuPrintPageClick();
  void MenuPrintReportClick();
  void MenuPrintRangeClick();
  void MenuUseColorClick();
  void SetZoom(double percent);
  void ZoomEditDone();
  void PageEditDone();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void done(int result) override;

 private:
  void FormCreate();
  void SetColors();
  void PageChanged();
  void ZoomChanged();
  bool RefuseWhileBusy();
  void StorePlace();
  // Runs one command, showing what it throws.
  void Guarded(const std::function<void()>& command);

  app::AppState& state_;
  QString name_;
  bool started_ = false;
  bool place_stored_ = false;
};

}  // namespace klv::report
