// What the files of the main window (MainWin*.cpp) share; included by them
// only.
#pragma once

#include <QString>

#include "platform/Prompts.h"

namespace klv::app::mainwin {

using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

inline QString Latin(const char* s) {
  return QString::fromLatin1(s);
}

}  // namespace klv::app::mainwin
