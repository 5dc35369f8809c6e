// Fixed texts of the routines every form uses, character for character.
#pragma once

namespace klv::forms::texts {

// The error box SaveDimensions shows when a form has more controls than it
// records; spelled as users have always seen it.
inline constexpr char kTooManyComponents[] = "Too many compenents to save dimensions.";
inline constexpr char kCaptionError[] = "Error";

}  // namespace klv::forms::texts
