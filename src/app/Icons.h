// The program's pictures, painted here so that it needs no image files and
// they look alike on every desktop: the speed buttons', the record
// navigator's and the program's own icon (the installed SVG drawn again, so
// that no image plugin is needed to show it).
#pragma once

#include <QIcon>

#include "app/Commands.h"

namespace klv::app {

// The speed button of command (an empty picture for commands without one).
QIcon SpeedIcon(Command command);
// The navigator button's glyph (MyNavigator::Button).
QIcon NavigatorIcon(int button);
// The window icon, at 16, 32, 48 and 64 pixels.
QIcon ProgramIcon();

}  // namespace klv::app
