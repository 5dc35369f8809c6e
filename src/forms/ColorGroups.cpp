#include "forms/ColorGroups.h"

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

}  // namespace klv::forms
