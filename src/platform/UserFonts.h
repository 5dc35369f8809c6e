// The five fonts the user chooses. Grid title and grid font style the viewer
// grid; the label, edit and button fonts every form. Only their family and
// style are applied to forms, never their size.
//
// QtGui only: the settings record holds these fonts and the form routines
// apply them, so the struct sits below both.
#pragma once

#include <QFont>

namespace klv::platform {

struct UserFonts {
  QFont grid_title;
  QFont grid;
  QFont label;
  QFont edit;
  QFont button;
};

}  // namespace klv::platform
