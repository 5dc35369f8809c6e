#include "forms/DialogRoutines.h"

#include <cmath>
#include <functional>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>

#include "forms/FormsTexts.h"
#include "platform/Prompts.h"

namespace klv::forms {

namespace {

// Widgets whose children are their own working parts, never controls of the
// form: the search for controls does not look inside them.
bool IsSelfContained(const QWidget* widget) {
  if (qobject_cast<const QScrollArea*>(widget) != nullptr) return false;
  return qobject_cast<const QAbstractButton*>(widget) != nullptr ||
         qobject_cast<const QComboBox*>(widget) != nullptr ||
         qobject_cast<const QLineEdit*>(widget) != nullptr ||
         qobject_cast<const QLabel*>(widget) != nullptr ||
         qobject_cast<const QAbstractScrollArea*>(widget) != nullptr ||  // views, text edits
         qobject_cast<const QAbstractSpinBox*>(widget) != nullptr ||
         qobject_cast<const QAbstractSlider*>(widget) != nullptr ||
         qobject_cast<const QTabBar*>(widget) != nullptr ||
         qobject_cast<const QCalendarWidget*>(widget) != nullptr ||
         qobject_cast<const QKeySequenceEdit*>(widget) != nullptr ||
         qobject_cast<const QMenuBar*>(widget) != nullptr;
}

// Qt names the helper widgets it makes inside its own ones "qt_...": such a
// widget is searched through (a tab widget's page stack) but is no control.
bool IsQtHelper(const QWidget* widget) {
  return widget->objectName().startsWith(QLatin1String("qt_"));
}

void VisitControls(QWidget* parent, const std::function<bool(QWidget*)>& visit, bool& stopped) {
  for (QObject* child : parent->children()) {
    if (stopped) return;
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget == nullptr || widget->isWindow()) continue;
    if (!IsQtHelper(widget) && KindOf(widget) != ControlKind::kOther && !visit(widget)) {
      stopped = true;
      return;
    }
    if (!IsSelfContained(widget)) VisitControls(widget, visit, stopped);
  }
}

// Calls visit for each control of form until it answers false; returns
// false when it was stopped so.
bool ForEachControl(QWidget* form, const std::function<bool(QWidget*)>& visit) {
  bool stopped = false;
  if (form != nullptr) VisitControls(form, visit, stopped);
  return !stopped;
}

const QFont* UserFontFor(ControlKind kind, const UserFonts& fonts) {
  switch (kind) {
    case ControlKind::kLabel:
    case ControlKind::kListBox:
    case ControlKind::kCheckBox:
    case ControlKind::kRadioButton:
    case ControlKind::kGroupBox:
      return &fonts.label;
    case ControlKind::kGrid:
    case ControlKind::kEdit:
    case ControlKind::kComboBox:
      return &fonts.edit;
    case ControlKind::kButton:
      return &fonts.button;
    case ControlKind::kOther:
    case ControlKind::kSpeedButton:
    case ControlKind::kNotebook:
    case ControlKind::kBevel:
    case ControlKind::kPanel:
      return nullptr;
  }
  return nullptr;
}

FontSize SizeOf(const QFont& font) {
  FontSize size;
  if (font.pointSizeF() > 0) {
    size.points = font.pointSizeF();
  } else {
    size.pixels = font.pixelSize();
  }
  return size;
}

void SetFontSize(QWidget* widget, const FontSize& size, double factor) {
  QFont font = widget->font();
  if (size.points > 0) {
    font.setPointSizeF(size.points * factor);
  } else if (size.pixels > 0) {
    font.setPixelSize(std::max(1, qRound(size.pixels * factor)));
  } else {
    return;
  }
  widget->setFont(font);
}

int Scaled(int value, double factor) {
  return static_cast<int>(std::lround(value * factor));
}

// Scales edges rather than widths, so that controls that touch still touch.
QRect ScaledRect(const QRect& rect, double factor) {
  const int left = Scaled(rect.x(), factor);
  const int top = Scaled(rect.y(), factor);
  const int right = Scaled(rect.x() + rect.width(), factor);
  const int bottom = Scaled(rect.y() + rect.height(), factor);
  return QRect(left, top, right - left, bottom - top);
}

// A widget of fixed size (minimum = maximum) would refuse any other size;
// its fixed size is what scales.
void SetSize(QWidget* widget, const QSize& size) {
  if (widget->minimumSize() == widget->maximumSize()) {
    widget->setFixedSize(size);
  } else {
    widget->resize(size);
  }
}

void SetGeometry(QWidget* widget, const QRect& rect) {
  if (widget->minimumSize() == widget->maximumSize()) {
    widget->setFixedSize(rect.size());
    widget->move(rect.topLeft());
  } else {
    widget->setGeometry(rect);
  }
}

SavedDimensions Capture(QWidget* form, bool limited) {
  SavedDimensions saved;
  if (form == nullptr) return saved;
  saved.client_size = form->size();
  saved.font_size = SizeOf(form->font());
  ForEachControl(form, [&](QWidget* control) {
    if (limited && static_cast<int>(saved.controls.size()) >= kMaxSavedControls) {
      saved.complete = false;
      platform::prompts().Notify(form, QLatin1String(texts::kCaptionError),
                                 QLatin1String(texts::kTooManyComponents),
                                 platform::MsgIcon::kError);
      return false;
    }
    SavedControl entry;
    entry.widget = control;
    entry.geometry = control->geometry();
    entry.has_font = KindOf(control) != ControlKind::kBevel;
    if (entry.has_font) entry.font_size = SizeOf(control->font());
    saved.controls.push_back(entry);
    return true;
  });
  return saved;
}

QScreen* ScreenOf(const QWidget* form) {
  QScreen* screen = form->screen();
  return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

}  // namespace

ControlKind KindOf(const QWidget* widget) {
  if (widget == nullptr) return ControlKind::kOther;
  if (qobject_cast<const QCheckBox*>(widget) != nullptr) return ControlKind::kCheckBox;
  if (qobject_cast<const QRadioButton*>(widget) != nullptr) return ControlKind::kRadioButton;
  if (qobject_cast<const QToolButton*>(widget) != nullptr) return ControlKind::kSpeedButton;
  if (qobject_cast<const QAbstractButton*>(widget) != nullptr) return ControlKind::kButton;
  if (qobject_cast<const QComboBox*>(widget) != nullptr) return ControlKind::kComboBox;
  if (qobject_cast<const QLineEdit*>(widget) != nullptr) return ControlKind::kEdit;
  if (qobject_cast<const QTableView*>(widget) != nullptr) return ControlKind::kGrid;
  if (qobject_cast<const QListView*>(widget) != nullptr) return ControlKind::kListBox;
  if (qobject_cast<const QTabWidget*>(widget) != nullptr) return ControlKind::kNotebook;
  if (qobject_cast<const QGroupBox*>(widget) != nullptr) return ControlKind::kGroupBox;
  if (qobject_cast<const QLabel*>(widget) != nullptr) return ControlKind::kLabel;
  if (widget->metaObject() == &QFrame::staticMetaObject) {
    const auto* frame = static_cast<const QFrame*>(widget);
    const bool line = frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine;
    const bool holds_widgets = frame->findChild<QWidget*>() != nullptr;
    return line || !holds_widgets ? ControlKind::kBevel : ControlKind::kPanel;
  }
  return ControlKind::kOther;
}

std::vector<QWidget*> FormControls(QWidget* form) {
  std::vector<QWidget*> controls;
  ForEachControl(form, [&](QWidget* control) {
    controls.push_back(control);
    return true;
  });
  return controls;
}

void ApplyUserFonts(QWidget* form, const UserFonts& fonts) {
  ForEachControl(form, [&](QWidget* control) {
    const ControlKind kind = KindOf(control);
    // Only string grids are typed into like edits; a grid over a table (the
    // viewer grid) keeps the grid font it was given.
    if (kind == ControlKind::kGrid && qobject_cast<QTableWidget*>(control) == nullptr) return true;
    const QFont* user = UserFontFor(kind, fonts);
    if (user == nullptr) return true;
    QFont font = control->font();
    font.setFamily(user->family());
    if (!user->families().isEmpty()) font.setFamilies(user->families());
    font.setWeight(user->weight());
    font.setStyle(user->style());
    font.setUnderline(user->underline());
    font.setStrikeOut(user->strikeOut());
    control->setFont(font);
    return true;
  });
}

SavedDimensions SaveDimensions(QWidget* form) {
  return Capture(form, /*limited=*/true);
}

double EffectiveScaleFactor(double factor) {
  return std::round(factor * 100.0) / 100.0;
}

void ScaleDialog(QWidget* form, const SavedDimensions& saved, double factor) {
  if (form == nullptr) return;
  const double f = EffectiveScaleFactor(factor);
  // Restoring and scaling in one step: each value is computed from the
  // saved one, never from what the form shows now.
  SetFontSize(form, saved.font_size, f);
  for (const SavedControl& control : saved.controls) {
    if (control.widget == nullptr) continue;
    if (control.has_font) SetFontSize(control.widget, control.font_size, f);
    SetGeometry(control.widget, ScaledRect(control.geometry, f));
  }
  SetSize(form, QSize(Scaled(saved.client_size.width(), f), Scaled(saved.client_size.height(), f)));
  CentreOnScreen(form);
}

void ScaleAndCentre(QWidget* form, double factor) {
  ScaleDialog(form, Capture(form, /*limited=*/false), factor);
}

void CentreOnScreen(QWidget* form) {
  if (form == nullptr || !form->isWindow()) return;
  const QScreen* screen = ScreenOf(form);
  if (screen == nullptr) return;
  const QRect area = screen->geometry();
  const QSize size = form->frameGeometry().size();
  const int x = area.x() + std::max(0, (area.width() - size.width()) / 2);
  const int y = area.y() + std::max(0, (area.height() - size.height()) / 2);
  form->move(x, y);
}

void MoveUpTenPixels(QWidget* form) {
  if (form == nullptr) return;
  const QScreen* screen = ScreenOf(form);
  const int screen_top = screen != nullptr ? screen->geometry().top() : 0;
  const QPoint position = form->pos();
  if (position.y() - screen_top > 10) form->move(position.x(), position.y() - 10);
}

const ScreenSize* FindScreenSize(int setting) {
  for (const ScreenSize& size : kScreenSizes) {
    if (size.setting == setting) return &size;
  }
  return nullptr;
}

bool ScreenCanShow(const ScreenSize& size, int screen_width, int screen_height) {
  return screen_width >= size.min_width && screen_height >= size.min_height;
}

const ScreenSize& ScreenSizeInForce(int setting, int screen_width, int screen_height) {
  const ScreenSize* size = FindScreenSize(setting);
  if (size != nullptr && ScreenCanShow(*size, screen_width, screen_height)) return *size;
  return kScreenSizes.front();
}

}  // namespace klv::forms
