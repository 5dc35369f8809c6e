// The report engine's fixed texts.
#pragma once

namespace klv::report::engine::texts {

inline constexpr char kNoPrinters[] = "No printers are defined, aborting print job.";
inline constexpr char kCaptionError[] = "Error";

}  // namespace klv::report::engine::texts
