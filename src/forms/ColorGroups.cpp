#include "forms/ColorGroups.h"

#include <cmath>
#include <cstdlib>

#include <QCheckBox>
#include <QColor>
#include <QPalette>
#include <QRadioButton>
#include <QWidget>

namespace klv::forms {
namespace {

FormColors* installed = nullptr;

}  // namespace

void SetFormColors(FormColors* colors) {
  installed = colors;
}

FormColors* InstalledFormColors() {
  return installed;
}

void ApplyColorGroup(QWidget* form, ColorGroupId group) {
  if (installed && form) installed->Apply(form, group);
}

QColor IndicatorFill(const QColor& background, const QColor& text) {
  if (!background.isValid()) return {};
  const QColor toward =
      text.isValid() && std::abs(text.lightness() - background.lightness()) >= 128
          ? text
          : (background.lightness() < 128 ? QColor(Qt::white) : QColor(Qt::black));
  constexpr double kShare = 0.4;
  const auto mix = [](int from, int to) {
    return static_cast<int>(std::lround(from + (to - from) * kShare));
  };
  return QColor(mix(background.red(), toward.red()), mix(background.green(), toward.green()),
                mix(background.blue(), toward.blue()));
}

void SetControlColors(QWidget* control, const QColor& background, const QColor& text) {
  if (control == nullptr) return;
  const bool indicator = qobject_cast<QCheckBox*>(control) != nullptr ||
                         qobject_cast<QRadioButton*>(control) != nullptr;
  QPalette palette = control->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    if (background.isValid()) {
      palette.setColor(group, QPalette::Window, background);
      palette.setColor(group, QPalette::Base,
                       indicator ? IndicatorFill(background, text) : background);
    }
    if (text.isValid()) {
      palette.setColor(group, QPalette::WindowText, text);
      palette.setColor(group, QPalette::Text, text);
    }
  }
  control->setPalette(palette);
}

}  // namespace klv::forms
