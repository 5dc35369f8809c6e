// The colour groups as the colour configuration edits them: which group the
// dialog starts from for each of its targets, where a confirmed working copy
// goes, and the twelve predefined colour combinations.
#pragma once

#include "app/Settings.h"

namespace klv::appearance {

// What the dialog is opened for: one group, or all five.
enum ColorTarget : int {
  kTargetMain = 1,
  kTargetEdit,
  kTargetSearch,
  kTargetReport,
  kTargetConfigure,
  kTargetAll,
};

// The group a target's dialog starts from: its own group, the Main group for
// "all windows" (and for a target outside 1 to 6).
app::ColorGroup StartingGroup(const app::Settings& settings, int target);

// Copies a confirmed working copy into the target's group, or into all five
// for kTargetAll. True when the main window's colours must be applied again
// (the Main group changed). A target outside 1 to 6 changes nothing.
bool StoreColorGroup(app::Settings& settings, int target, const app::ColorGroup& colors);

// The number of predefined combinations; the chooser lists an empty entry 0
// before them.
inline constexpr int kColorPresetCount = 12;

// Sets six colours of group from combination entry (1 to 12) and derives the
// other seven from them: list and combo colours from the edit colours, radio
// and check backgrounds from the main background, check text from the radio
// text. Entry 0 (or any other number) leaves group as it is.
void ApplyColorPreset(int entry, app::ColorGroup& group);

}  // namespace klv::appearance
