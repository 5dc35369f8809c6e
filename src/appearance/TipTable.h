// The tips of the day: 24 fixed hints numbered 1 to 24, and the walk through
// them.
#pragma once

#include <QString>

namespace klv::appearance {

inline constexpr int kTipCount = 24;

// The text of tip number (1 to 24); an empty text for any other number.
QString TipText(int number);
// The tip after number: one up, from 24 back to 1.
int NextTip(int number);
// A tip number drawn uniformly from 1 to 24.
int RandomTip();

}  // namespace klv::appearance
