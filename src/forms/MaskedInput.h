// Masked edits that take what is typed wherever the user clicked.
//
// A masked line edit puts its cursor where a click lands, and past the blank
// positions of an unfilled mask every key typed would be dropped. A click
// past the text typed so far puts the cursor at the end of that text instead:
// the end of the filled positions of the part of the mask clicked, parts
// being separated by runs of two or more literal characters (the " AND < "
// of a range), so a single literal such as a date separator keeps the
// positions on both sides one part. A key the mask refuses sounds the bell.
#pragma once

class QLineEdit;

namespace klv::forms {

// Installs the click and key handling above on edit (once; a later mask
// change needs no new call).
void TakeTypedInput(QLineEdit* edit);

// Where a click at position should leave the cursor of edit under its
// current mask: position itself when it lies inside or at the end of the
// typed text, else the end of the text typed before it in its part.
int TypedInputPosition(const QLineEdit& edit, int position);

}  // namespace klv::forms
