// Qt text from the standard strings the engine and temporary directories use.
#pragma once

#include <string>

#include <QString>

namespace klv::test {

inline QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace klv::test
