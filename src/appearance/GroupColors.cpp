#include "appearance/GroupColors.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPalette>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QVariant>
#include <QWidget>
#include <vector>

#include "forms/DialogRoutines.h"

namespace klv::appearance {
namespace {

using forms::ControlKind;

// The property holding the colours this code gave a control, by palette role.
constexpr char kPaintedProperty[] = "klvGroupPainted";
constexpr char kHeadingProperty[] = "klvHeading";

struct RoleColor {
  QPalette::ColorRole role;
  QColor color;
};

// True when the control's palette is free for the convention: nobody set one,
// or the colours it holds are still the ones this code set.
bool Paintable(const QWidget* w) {
  if (!w->testAttribute(Qt::WA_SetPalette)) return true;
  const QVariant mark = w->property(kPaintedProperty);
  if (!mark.isValid()) return false;
  const QVariantList painted = mark.toList();
  const QPalette& palette = w->palette();
  for (qsizetype i = 0; i + 1 < painted.size(); i += 2) {
    const auto role = static_cast<QPalette::ColorRole>(painted[i].toInt());
    if (palette.color(QPalette::Active, role) != painted[i + 1].value<QColor>()) return false;
  }
  return true;
}

void Paint(QWidget* w, std::initializer_list<RoleColor> colors, bool fill) {
  if (!Paintable(w)) return;
  QPalette palette = w->palette();
  QVariantList mark;
  for (const RoleColor& c : colors) {
    if (!c.color.isValid()) continue;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive})
      palette.setColor(g, c.role, c.color);
    mark << static_cast<int>(c.role) << c.color;
  }
  w->setPalette(palette);
  w->setProperty(kPaintedProperty, mark);
  if (fill) w->setAutoFillBackground(true);
}

void PaintControl(QWidget* w, const app::ColorGroup& c) {
  const QColor& main = c[app::kMainBackground];
  switch (forms::KindOf(w)) {
    case ControlKind::kLabel: {
      const bool heading = w->property(kHeadingProperty).toBool();
      Paint(w,
            {{QPalette::Window, main},
             {QPalette::WindowText, c[heading ? app::kMajorTitle : app::kMinorTitle]}},
            false);
      break;
    }
    case ControlKind::kGroupBox:
      Paint(w, {{QPalette::Window, main}, {QPalette::WindowText, c[app::kMinorTitle]}}, false);
      break;
    case ControlKind::kPanel:
      Paint(w, {{QPalette::Window, main}}, false);
      break;
    case ControlKind::kNotebook: {
      Paint(w, {{QPalette::Window, main}}, false);
      // The pages fill with it; the style draws the pane lighter otherwise.
      auto* tabs = static_cast<QTabWidget*>(w);
      for (int i = 0; i < tabs->count(); ++i) tabs->widget(i)->setAutoFillBackground(true);
      break;
    }
    case ControlKind::kEdit:
      Paint(w, {{QPalette::Base, c[app::kEditBackground]}, {QPalette::Text, c[app::kEditText]}},
            false);
      break;
    case ControlKind::kComboBox:
      // A drop-down list draws its face with the button roles, an editable
      // one its text field with the base roles: both take the combo colours.
      Paint(w,
            {{QPalette::Base, c[app::kComboBackground]},
             {QPalette::Button, c[app::kComboBackground]},
             {QPalette::Text, c[app::kComboText]},
             {QPalette::ButtonText, c[app::kComboText]}},
            false);
      break;
    case ControlKind::kListBox:
    case ControlKind::kGrid:
      Paint(w,
            {{QPalette::Base, c[app::kListBoxBackground]},
             {QPalette::AlternateBase, c[app::kListBoxBackground]},
             {QPalette::Text, c[app::kListBoxText]}},
            false);
      break;
    case ControlKind::kRadioButton:
      Paint(w,
            {{QPalette::Window, c[app::kRadioBackground]},
             {QPalette::WindowText, c[app::kRadioText]},
             {QPalette::ButtonText, c[app::kRadioText]},
             {QPalette::Base, forms::IndicatorFill(c[app::kRadioBackground], c[app::kRadioText])},
             {QPalette::Text, c[app::kRadioText]}},
            true);
      w->setBackgroundRole(QPalette::Window);
      break;
    case ControlKind::kCheckBox:
      Paint(w,
            {{QPalette::Window, c[app::kCheckBackground]},
             {QPalette::WindowText, c[app::kCheckText]},
             {QPalette::ButtonText, c[app::kCheckText]},
             {QPalette::Base, forms::IndicatorFill(c[app::kCheckBackground], c[app::kCheckText])},
             {QPalette::Text, c[app::kCheckText]}},
            true);
      w->setBackgroundRole(QPalette::Window);
      break;
    case ControlKind::kOther:
    case ControlKind::kSpeedButton:
    case ControlKind::kButton:
    case ControlKind::kBevel:
      break;
  }
}

// The form's own bars keep the system colours rather than inherit the
// form's background, whatever palette they were given before.
void KeepBarsPlain(QWidget* form) {
  std::vector<QWidget*> bars;
  for (QMenuBar* bar : form->findChildren<QMenuBar*>()) bars.push_back(bar);
  for (QToolBar* bar : form->findChildren<QToolBar*>()) bars.push_back(bar);
  for (QStatusBar* bar : form->findChildren<QStatusBar*>()) bars.push_back(bar);
  for (QWidget* bar : bars) {
    // Every colour set, so that none is taken from the form.
    const QPalette system = QApplication::palette(bar);
    QPalette plain;
    for (int g = 0; g < QPalette::NColorGroups; ++g) {
      for (int r = 0; r < QPalette::NColorRoles; ++r) {
        const auto group = static_cast<QPalette::ColorGroup>(g);
        const auto role = static_cast<QPalette::ColorRole>(r);
        plain.setColor(group, role, system.color(group, role));
      }
    }
    bar->setPalette(plain);
  }
}

}  // namespace

void PaintByConvention(QWidget* form, const app::ColorGroup& colors) {
  if (form == nullptr) return;
  KeepBarsPlain(form);
  Paint(form, {{QPalette::Window, colors[app::kMainBackground]}}, true);
  for (QWidget* control : forms::FormControls(form)) PaintControl(control, colors);
}

void MarkHeading(QLabel* label) {
  if (label) label->setProperty(kHeadingProperty, true);
}

void SetBold(QLabel* label) {
  if (label == nullptr) return;
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
}

GroupColors::GroupColors(const app::Settings& settings) : settings_(settings) {
  forms::SetFormColors(this);
}

GroupColors::~GroupColors() {
  if (forms::InstalledFormColors() == this) forms::SetFormColors(nullptr);
}

void GroupColors::Apply(QWidget* form, forms::ColorGroupId group) {
  const int g = static_cast<int>(group);
  if (g < 0 || g >= app::kColorGroupCount) return;
  PaintByConvention(form, settings_.colors[static_cast<size_t>(g)]);
}

}  // namespace klv::appearance
