// The coin's two pictures beside the edit form's fields: each side scaled to
// its box keeping its proportions, with Attach (Replace once there is one)
// and Remove; a double-click opens the picture large, and an image file
// dropped on a side attaches it. A new row not yet written has no pictures:
// the buttons wait until it is.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include <QImage>
#include <QLabel>
#include <QString>
#include <QWidget>

#include "pictures/PictureStore.h"

class QPushButton;

namespace klv::pictures {

class PictureBox;

class PicturePanel : public QWidget {
  Q_OBJECT

 public:
  explicit PicturePanel(QWidget* parent = nullptr);

  // Shows the pictures of row recno (0: none yet) of the table at dbf_path.
  void ShowRow(const QString& dbf_path, uint32_t recno);

  // Where a failure is shown; by default an error box.
  std::function<void(const QString&)> OnError;

  PictureBox* box(Side side) const { return boxes_[side == Side::kObverse ? 0 : 1]; }
  QPushButton* attach_button(Side side) const;
  QPushButton* remove_button(Side side) const;

  // Attaches the picture at path to the side (as a drop does).
  void AttachFile(Side side, const QString& path);

 private:
  void Refresh();
  void AttachClick(Side side);
  void RemoveClick(Side side);
  void OpenLarge(Side side);
  void Fail(const QString& message);

  QString dbf_path_;
  uint32_t recno_ = 0;
  std::array<PictureBox*, 2> boxes_{};
  std::array<QPushButton*, 2> attach_{}, remove_{};
};

// One side's picture; takes dropped files and double-clicks.
class PictureBox : public QLabel {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);
  void SetPicture(const QImage& image);
  std::function<void(const QString& path)> OnDrop;
  std::function<void()> OnDoubleClick;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Fit();
  QImage image_;
};

}  // namespace klv::pictures
