// The colour groups as forms take them: every form's SetColors ends with
// forms::ApplyColorGroup(this, group), and GroupColors, installed for the
// whole run, answers it from the open database's settings.
//
// The convention, by control kind (forms::ControlKind), from the group:
// - the form itself, panels, notebooks: Main Background;
// - labels and group boxes: Main Background with Minor Title text, or Major
//   Title for a label marked as a heading (MarkHeading);
// - edits: the Edit colours; combo boxes: the Combo colours; list boxes and
//   grids: the List Box colours; radio buttons and check boxes: their own;
// - buttons, speed buttons and bevels keep the system colours, and so do the
//   form's menu bar, tool bars and status bar.
//
// A form may paint some of its controls itself before it asks (a window's
// design can give some of them other colours of its group): a control whose
// palette someone else set is left as that code painted it. A control this class painted is
// painted again at each asking, so a changed group shows the next time the
// form is shown.
#pragma once

#include "app/Settings.h"
#include "forms/ColorGroups.h"

class QLabel;
class QWidget;

namespace klv::appearance {

// Paints form and its controls in colors by the convention above.
void PaintByConvention(QWidget* form, const app::ColorGroup& colors);
// Marks label as a heading of its form: it takes the Major Title colour.
void MarkHeading(QLabel* label);
// The user's label font gives headings its style; they stay bold.
void SetBold(QLabel* label);
template <class Labels>
void KeepHeadingsBold(const Labels& headings) {
  for (QLabel* label : headings) SetBold(label);
}

class GroupColors : public forms::FormColors {
 public:
  // Reads the groups from settings (not owned; outlives this object) and
  // installs itself for every form until destroyed.
  explicit GroupColors(const app::Settings& settings);
  ~GroupColors() override;
  GroupColors(const GroupColors&) = delete;
  GroupColors& operator=(const GroupColors&) = delete;

  void Apply(QWidget* form, forms::ColorGroupId group) override;

 private:
  const app::Settings& settings_;
};

}  // namespace klv::appearance
