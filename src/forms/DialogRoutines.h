// The routines every window of the program uses when it is shown: the user's
// fonts, and scaling to the chosen screen size with centring on the screen.
//
// A form's controls are its child widgets, found through containers (group
// boxes, panels, tab pages, scroll areas, plain widgets) but never inside a
// control: the line edit of a combo box, the headers of a table or the
// buttons of a tab bar belong to their control and are left alone, as are
// other top-level windows parented to the form. Controls are classified by
// the Qt class standing for each kind of control the program's windows use
// (ControlKind below).
//
// Scaling restores the form from dimensions saved once and scales from
// there, so showing a form any number of times never compounds the scaling.
// Forms with layouts are scaled too: their fonts and size change and the
// layout places the controls.
#pragma once

#include <array>
#include <vector>

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include "platform/UserFonts.h"

namespace klv::forms {

using platform::UserFonts;

// The kinds of control the dialog routines tell apart, with the Qt classes
// that stand for them. The order of the tests is the order listed: the first
// that fits decides.
enum class ControlKind {
  kOther,
  kCheckBox,     // QCheckBox
  kRadioButton,  // QRadioButton
  kSpeedButton,  // QToolButton
  kButton,       // QPushButton (and any other push button)
  kComboBox,     // QComboBox
  kEdit,         // QLineEdit (plain and masked: an input mask is a property)
  kGrid,         // QTableView (string grids, data grids)
  kListBox,      // QListView
  kNotebook,     // QTabWidget (tabbed notebooks)
  kGroupBox,     // QGroupBox (group boxes and radio groups alike)
  kLabel,        // QLabel
  kBevel,        // a QFrame of its own class drawing a line, or holding no widgets
  kPanel,        // a QFrame of its own class holding widgets
};
ControlKind KindOf(const QWidget* widget);
// The controls of form (see above), in the order of the widget tree: parents
// before their children, siblings in creation order.
std::vector<QWidget*> FormControls(QWidget* form);

// Sets the family and style (weight, italic, underline, strike-out) of each
// control's font, keeping its size: labels, list boxes, check boxes, radio
// buttons and group boxes take the label font; grids, edits and combo boxes
// the edit font; buttons the button font. Other kinds are left alone. Of the
// grids only string grids (QTableWidget) take the edit font: a grid over a
// table model has a font of its own.
void ApplyUserFonts(QWidget* form, const UserFonts& fonts);

// A font's size as it was set: in points or in pixels (the other is -1).
struct FontSize {
  qreal points = -1;
  int pixels = -1;
};

struct SavedControl {
  QPointer<QWidget> widget;  // null once the control is gone: then skipped
  QRect geometry;            // relative to its parent
  bool has_font = false;     // false for bevels
  FontSize font_size;
};

// A form's design dimensions, taken once and restored before every scaling.
struct SavedDimensions {
  QSize client_size;   // the form's size without its frame
  FontSize font_size;  // the form's own font, which uncounted widgets inherit
  std::vector<SavedControl> controls;
  // False when the form has more controls than can be recorded; the first
  // kMaxSavedControls are recorded and scaled, the others keep their size.
  bool complete = true;
};

// The most controls SaveDimensions records.
inline constexpr int kMaxSavedControls = 101;

// Records the form's client size and font size and, for each control of the
// kinds buttons, labels, list boxes, speed buttons, grids, check boxes,
// edits, radio buttons, group boxes, panels, bevels, combo boxes and
// notebooks, its geometry and font size (bevels: no font). At the 102nd such
// control it says texts::kTooManyComponents through prompts() and stops.
SavedDimensions SaveDimensions(QWidget* form);

// The factor scaling uses: factor as a whole percentage (1.254 scales by
// 125 %).
double EffectiveScaleFactor(double factor);

// Puts the form back to saved, then scales it and every recorded control by
// EffectiveScaleFactor(factor) (positions, sizes, font sizes) and centres the
// form on its screen.
void ScaleDialog(QWidget* form, const SavedDimensions& saved, double factor);
// For a form created for one use: scales it from its present dimensions, with
// no limit on the number of controls and no message, and centres it.
void ScaleAndCentre(QWidget* form, double factor);

// Places the form (its frame, once it has one) in the middle of its screen;
// a form larger than the screen is placed at the screen's top or left edge,
// so its title bar can always be reached.
void CentreOnScreen(QWidget* form);
// Moves the form up 10 pixels when its top edge lies more than 10 pixels
// below the top of its screen; several forms do so after centring, to leave
// room below them.
void MoveUpTenPixels(QWidget* form);

// The screen sizes the user can choose for dialogs ("Window Size" setting),
// with the factor dialogs are scaled by and the smallest screen that can show
// them.
struct ScreenSize {
  int setting;  // the "Window Size" value
  double factor;
  int min_width;
  int min_height;
};
inline constexpr std::array<ScreenSize, 4> kScreenSizes{{
    {640, 1.0, 0, 0},
    {800, 1.25, 800, 600},
    {1024, 1.6, 1024, 768},
    {1280, 2.0, 1280, 1024},
}};
// The entry of a setting, or null for a value that is none of the four.
const ScreenSize* FindScreenSize(int setting);
bool ScreenCanShow(const ScreenSize& size, int screen_width, int screen_height);
// The size in force for a stored setting on a screen: the setting's own when
// it is one of the four and the screen can show it, else 640 (factor 1.0).
const ScreenSize& ScreenSizeInForce(int setting, int screen_width, int screen_height);

}  // namespace klv::forms
