#include "appearance/Tips.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRadialGradient>

#include "appearance/AppearanceTexts.h"
#include "appearance/TipTable.h"
#include "platform/Prompts.h"
#include "forms/DialogRoutines.h"

namespace klv::appearance {
namespace {

using platform::L;

// The panel's picture: a gold coin with a light on it.
QPixmap CoinPicture() {
  QPixmap pixmap(38, 41);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient gold(QPointF(14, 14), 24);
  gold.setColorAt(0, QColor(255, 240, 160));
  gold.setColorAt(1, QColor(190, 140, 30));
  p.setPen(QPen(QColor(120, 85, 10), 1.5));
  p.setBrush(gold);
  p.drawEllipse(QRectF(2, 4, 34, 34));
  p.setPen(QPen(QColor(140, 100, 20), 1));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(7, 9, 24, 24));
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(14);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRectF(2, 4, 34, 34), Qt::AlignCenter, QStringLiteral("?"));
  return pixmap;
}

}  // namespace

TTipOfDay::TTipOfDay(app::AppState& state, QWidget* parent) : QDialog(parent), state_(state) {
  setObjectName(QStringLiteral("TipOfDay"));
  setWindowTitle(L(texts::kTipCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(13);
  setFont(f);
  setFixedSize(400, 210);

  TipPanel = new QFrame(this);
  TipPanel->setObjectName(QStringLiteral("TipPanel"));
  TipPanel->setFrameShape(QFrame::Panel);
  TipPanel->setFrameShadow(QFrame::Sunken);
  TipPanel->setGeometry(8, 8, 384, 150);
  QPalette white = TipPanel->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  TipPanel->setPalette(white);
  TipPanel->setAutoFillBackground(true);

  Picture = new QLabel(TipPanel);
  Picture->setObjectName(QStringLiteral("Picture"));
  Picture->setPixmap(CoinPicture());
  Picture->setGeometry(12, 12, 38, 41);

  Label1 = new QLabel(L(texts::kDidYouKnow), TipPanel);
  Label1->setObjectName(QStringLiteral("Label1"));
  QFont bold = Label1->font();
  bold.setPixelSize(17);
  bold.setBold(true);
  Label1->setFont(bold);
  Label1->setGeometry(64, 14, 300, 24);

  TipComment = new QLabel(TipPanel);
  TipComment->setObjectName(QStringLiteral("TipComment"));
  TipComment->setWordWrap(true);
  TipComment->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  TipComment->setGeometry(64, 46, 306, 96);

  ShowTips = new QCheckBox(L(texts::kShowTips), this);
  ShowTips->setObjectName(QStringLiteral("ShowTips"));
  ShowTips->setGeometry(10, 172, 190, 22);

  NextTipButton = new QPushButton(L(texts::kNextTip), this);
  NextTipButton->setObjectName(QStringLiteral("NextTipButton"));
  NextTipButton->setGeometry(208, 170, 88, 27);
  connect(NextTipButton, &QPushButton::clicked, this, &TTipOfDay::NextTipButtonClick);
  CloseButton = new QPushButton(L(texts::kCloseButton), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  CloseButton->setGeometry(304, 170, 88, 27);
  CloseButton->setDefault(true);
  connect(CloseButton, &QPushButton::clicked, this, &TTipOfDay::CloseButtonClick);
}

void TTipOfDay::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
  QDialog::showEvent(event);
}

void TTipOfDay::FormShow() {
  forms::ScaleAndCentre(this, state_.scale_factor);
  ShowTips->setChecked(state_.settings.show_tips);
  ShowTip(RandomTip());
}

void TTipOfDay::ShowTip(int number) {
  current_ = number;
  TipComment->setText(TipText(number));
}

void TTipOfDay::NextTipButtonClick() {
  ShowTip(NextTip(current_));
}

void TTipOfDay::CloseButtonClick() {
  accept();
}

void TTipOfDay::done(int result) {
  // The close box, Escape and "&Close" alike.
  state_.settings.show_tips = ShowTips->isChecked();
  QDialog::done(result);
}

void ShowTipOfDay(app::AppState& state, QWidget* owner) {
  TTipOfDay dialog(state, owner);
  dialog.exec();
}

}  // namespace klv::appearance
