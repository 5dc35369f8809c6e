// The default values for new records: one set for all collection databases,
// kept in the program settings (section "Defaults") and applied by the edit
// form's Clear when the user asks for it. This is the part that needs no
// window: cutting a set to its widths, making the current values the set and
// saving it, and the two switches.
#pragma once

#include "app/AppState.h"
#include "app/Settings.h"

namespace klv::edit {

// The widths each default text is kept to.
inline constexpr int kDefaultCountryWidth = 20;
inline constexpr int kDefaultFaceValueWidth = 20;
inline constexpr int kDefaultYearWidth = 7;
inline constexpr int kDefaultMintMarkWidth = 3;
inline constexpr int kDefaultConditionWidth = 30;
inline constexpr int kDefaultTopicWidth = 20;
inline constexpr int kDefaultDescriptionWidth = 40;
inline constexpr int kDefaultCommentsWidth = 80;
inline constexpr int kDefaultMiscWidth = 110;
inline constexpr int kDefaultDateWidth = 10;
inline constexpr int kDefaultUserDefinedWidth = 40;
inline constexpr int kDefaultQuantityWidth = 10;
inline constexpr int kDefaultMoneyWidth = 20;

// values with every text cut to its width (blanks kept: texts are stored as
// the controls showed them).
app::DefaultValues CutDefaultValues(app::DefaultValues values);

// Makes current (the controls' texts and check states) the default set, cut
// to the widths, keeping the two switches as they are, and writes the whole
// program settings file, which stores the switches too. Throws
// klv::dbf::DbfError when the file cannot be written; the set in memory is
// changed all the same and is written again at close.
void SaveCurrentValuesAsDefaults(app::AppState& state, const app::DefaultValues& current);

// The switches "Load Defaults With Add" and "Load Defaults With Clear". They
// reach the settings file at its next writing.
void SetLoadDefaultsWithAdd(app::AppState& state, bool on);
void SetLoadDefaultsWithClear(app::AppState& state, bool on);

}  // namespace klv::edit
