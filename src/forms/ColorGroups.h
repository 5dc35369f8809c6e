// The hook through which a form takes its colour group. Every form calls
// ApplyColorGroup from its SetColors with the group it belongs to; what the
// group means in colours is decided by whoever installs a FormColors (the
// appearance configuration). With none installed the call leaves the form's
// palette as it is, so a form can be written and tested before colours
// exist.
#pragma once

class QColor;
class QWidget;

namespace klv::forms {

// The five colour groups, one per kind of window.
enum class ColorGroupId : int { kMain, kEdit, kSearch, kReport, kConfigure };
inline constexpr int kColorGroupIdCount = 5;

class FormColors {
 public:
  virtual ~FormColors() = default;
  // Paints form (its palette, its controls) in group's colours.
  virtual void Apply(QWidget* form, ColorGroupId group) = 0;
};

// Installs colors for every later ApplyColorGroup (not owned; nullptr puts
// the default back). The installer keeps it alive while it is installed.
void SetFormColors(FormColors* colors);
FormColors* InstalledFormColors();

// Gives form its group's colours through the installed FormColors; without
// one, does nothing.
void ApplyColorGroup(QWidget* form, ColorGroupId group);

// Background and text colour of one control, as the colour groups paint
// them (a null colour leaves that part alone). Button colours are not
// touched, so push buttons inside keep the system colours. A check box or
// radio button fills its indicator with IndicatorFill of the two.
void SetControlColors(QWidget* control, const QColor& background, const QColor& text);

// The inside of a check box's or radio button's indicator on background:
// the background moved a good way towards the text colour, or towards black
// or white where the text is too near the background, so that an unticked
// box shows on any background and the tick (drawn in the text colour) reads
// on it. Null when background is.
QColor IndicatorFill(const QColor& background, const QColor& text);

}  // namespace klv::forms
