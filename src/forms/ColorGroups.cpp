#include "forms/ColorGroups.h"

#include <QColor>
#include <QPalette>
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

void SetControlColors(QWidget* control, const QColor& background, const QColor& text) {
  if (control == nullptr) return;
  QPalette palette = control->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    if (background.isValid()) {
      palette.setColor(group, QPalette::Window, background);
      palette.setColor(group, QPalette::Base, background);
    }
    if (text.isValid()) {
      palette.setColor(group, QPalette::WindowText, text);
      palette.setColor(group, QPalette::Text, text);
    }
  }
  control->setPalette(palette);
}

}  // namespace klv::forms
