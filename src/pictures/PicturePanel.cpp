#include "pictures/PicturePanel.h"

#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "pictures/PictureFiles.h"
#include "pictures/PicturesTexts.h"
#include "platform/Prompts.h"

namespace klv::pictures {

using platform::L;
using platform::prompts;

namespace {

constexpr Side kSides[] = {Side::kObverse, Side::kReverse};

int IndexOf(Side side) {
  return side == Side::kObverse ? 0 : 1;
}

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QLabel(parent) {
  setAcceptDrops(true);
  setAlignment(Qt::AlignCenter);
  setFrameShape(QFrame::StyledPanel);
  setMinimumSize(120, 120);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PictureBox::SetPicture(const QImage& image) {
  image_ = image;
  if (image_.isNull()) {
    setPixmap(QPixmap());
    setText(L(texts::kNoPicture));
  } else {
    Fit();
  }
}

void PictureBox::Fit() {
  if (image_.isNull()) return;
  setPixmap(QPixmap::fromImage(
      image_.scaled(contentsRect().size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void PictureBox::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Fit();
}

void PictureBox::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && OnDrop) event->acceptProposedAction();
}

void PictureBox::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile() || !OnDrop) return;
  event->acceptProposedAction();
  OnDrop(urls.first().toLocalFile());
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  if (OnDoubleClick && !image_.isNull()) OnDoubleClick();
}

PicturePanel::PicturePanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PicturePanel"));
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  for (Side side : kSides) {
    const int i = IndexOf(side);
    auto* caption = new QLabel(
        L(side == Side::kObverse ? texts::kObverseCaption : texts::kReverseCaption), this);
    boxes_[i] = new PictureBox(this);
    boxes_[i]->setObjectName(side == Side::kObverse ? QStringLiteral("ObversePicture")
                                                    : QStringLiteral("ReversePicture"));
    attach_[i] = new QPushButton(L(texts::kAttachButton), this);
    remove_[i] = new QPushButton(L(texts::kRemoveButton), this);
    layout->addWidget(caption, i * 3, 0, 1, 2);
    layout->addWidget(boxes_[i], i * 3 + 1, 0, 1, 2);
    layout->addWidget(attach_[i], i * 3 + 2, 0);
    layout->addWidget(remove_[i], i * 3 + 2, 1);
    connect(attach_[i], &QPushButton::clicked, this, [this, side] { AttachClick(side); });
    connect(remove_[i], &QPushButton::clicked, this, [this, side] { RemoveClick(side); });
    boxes_[i]->OnDrop = [this, side](const QString& path) { AttachFile(side, path); };
    boxes_[i]->OnDoubleClick = [this, side] { OpenLarge(side); };
  }
  Refresh();
}

QPushButton* PicturePanel::attach_button(Side side) const {
  return attach_[IndexOf(side)];
}

QPushButton* PicturePanel::remove_button(Side side) const {
  return remove_[IndexOf(side)];
}

void PicturePanel::ShowRow(const QString& dbf_path, uint32_t recno) {
  dbf_path_ = dbf_path;
  recno_ = recno;
  Refresh();
}

void PicturePanel::Refresh() {
  PictureStore store(dbf_path_.toStdString());
  try {
    if (recno_ != 0 && !dbf_path_.isEmpty()) store.Load();
  } catch (const base::Error& e) {
    Fail(QString::fromStdString(e.what()));
  }
  for (Side side : kSides) {
    const int i = IndexOf(side);
    const Picture* p = recno_ ? store.Find(recno_, side) : nullptr;
    const QImage image = p ? ReadPicture(store, *p) : QImage();
    boxes_[i]->SetPicture(image);
    // Kept, but not shown: a picture of a kind this system cannot read.
    if (p && image.isNull()) boxes_[i]->setText(L(texts::kCannotShow));
    attach_[i]->setText(L(p ? texts::kReplaceButton : texts::kAttachButton));
    attach_[i]->setEnabled(recno_ != 0);
    remove_[i]->setEnabled(p != nullptr);
  }
}

void PicturePanel::Fail(const QString& message) {
  if (OnError) {
    OnError(message);
  } else {
    prompts().Notify(this, L(texts::kLargeCaption), message, platform::MsgIcon::kError);
  }
}

void PicturePanel::AttachFile(Side side, const QString& path) {
  if (recno_ == 0) return;
  try {
    PictureStore store(dbf_path_.toStdString());
    AttachChecked(store, recno_, side, path);
  } catch (const base::Error& e) {
    Fail(QString::fromStdString(e.what()));
  }
  Refresh();
}

void PicturePanel::AttachClick(Side side) {
  platform::FileDialogRequest request;
  request.title = L(texts::kChooseCaption);
  request.filter = L(texts::kChooseFilter);
  request.file_must_exist = true;
  // Pictures that have come loose from their coins wait in the folder: the
  // dialog starts there, and one chosen from it is attached again as it is.
  try {
    PictureStore store(dbf_path_.toStdString());
    store.Load();
    if (!store.Unattached().empty()) request.directory = QString::fromStdString(store.folder());
  } catch (const base::Error&) {
    // The dialog starts where it would; an attach says what is wrong.
  }
  const QString path = prompts().OpenFile(this, request);
  if (!path.isEmpty()) AttachFile(side, path);
}

void PicturePanel::RemoveClick(Side side) {
  const QString question =
      L(texts::kRemoveQuestion)
          .arg(QString::fromUtf8(SideName(side).data(), SideName(side).size()));
  if (prompts().MessageBox(this, L(texts::kLargeCaption), question, platform::MsgIcon::kQuestion,
                           platform::MsgButtons::kYesNo,
                           platform::MsgButton::kNo) != platform::MsgButton::kYes)
    return;
  try {
    PictureStore(dbf_path_.toStdString()).Remove(recno_, side);
  } catch (const base::Error& e) {
    Fail(QString::fromStdString(e.what()));
  }
  Refresh();
}

void PicturePanel::OpenLarge(Side side) {
  PictureStore store(dbf_path_.toStdString());
  store.Load();
  const Picture* p = store.Find(recno_, side);
  if (!p) return;
  const QImage image = ReadPicture(store, *p);
  QDialog large(this);
  large.setObjectName(QStringLiteral("LargePicture"));
  large.setWindowTitle(L(texts::kLargeCaption));
  auto* layout = new QVBoxLayout(&large);
  auto* area = new QScrollArea(&large);
  auto* label = new QLabel(area);
  // As large as the screen allows, never beyond the picture's own size.
  QSize room = QGuiApplication::primaryScreen()
                   ? QGuiApplication::primaryScreen()->availableSize() * 0.85
                   : QSize(1024, 768);
  QSize size = image.size();
  if (size.width() > room.width() || size.height() > room.height())
    size = size.scaled(room, Qt::KeepAspectRatio);
  label->setPixmap(
      QPixmap::fromImage(image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
  area->setWidget(label);
  area->setAlignment(Qt::AlignCenter);
  layout->addWidget(area);
  large.resize(size + QSize(40, 40));
  large.exec();
}

}  // namespace klv::pictures
