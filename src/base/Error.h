// The one error type below the program's logic. Every failure of the file
// layer, the table engine and the settings-file layer is thrown as an Error
// carrying a numeric code (stable, usable by callers to pick their own
// messages) and a message fit to show to a user. The engine's interface
// names it dbf::DbfError.
#pragma once

#include <stdexcept>
#include <string>

namespace klv::base {

enum class ErrorCode : int {
  kIo = 1,              // a read, write, seek, rename or sync failed
  kNotFound = 2,        // a file that must exist does not
  kCorruptTable = 3,    // the .DBF contradicts itself
  kCorruptIndex = 4,    // the .MDX contradicts itself (bad page, loop, bad header)
  kIndexMismatch = 5,   // the .MDX is well formed but does not match its table
  kInUse = 6,           // the table is held by another user or program
  kRecordLocked = 7,    // the row is being edited by another user
  kBadValue = 8,        // a value cannot be stored in its field
  kCodePage = 9,        // a character the table's code page cannot hold
  kOverflow = 10,       // a number too large for its field
  kBadExpression = 11,  // an index expression that cannot be parsed or evaluated
  kUnsupported = 12,    // a field type or feature this engine does not write
  kBadState = 13,       // an operation not allowed in the table's current state
  kNoSuchField = 14,
  kNoSuchTag = 15,
  kReadOnly = 16,       // a change asked of a table opened read-only
  kBadDefinition = 17,  // field definitions that cannot make a table
  kDiskFull = 18,
  kKeyNotFound = 19,  // an index key expected in the tree is missing
};

class Error : public std::runtime_error {
 public:
  Error(ErrorCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ErrorCode code() const { return code_; }
  int number() const { return static_cast<int>(code_); }

 private:
  ErrorCode code_;
};

[[noreturn]] inline void Fail(ErrorCode code, const std::string& message) {
  throw Error(code, message);
}

}  // namespace klv::base
