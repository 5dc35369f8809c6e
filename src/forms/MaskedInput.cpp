#include "forms/MaskedInput.h"

#include <algorithm>

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <vector>

namespace klv::forms {
namespace {

constexpr char kHandlerName[] = "klvTypedInput";

// For each display position of mask: true where the user types, false for a
// literal. Modifiers (> < !) and the reserved brackets take no position.
std::vector<bool> EditablePositions(const QString& mask, QChar* blank) {
  const qsizetype delimiter = mask.indexOf(u';');
  const QString picture = delimiter < 0 ? mask : mask.left(delimiter);
  *blank = delimiter >= 0 && delimiter + 1 < mask.size() ? mask[delimiter + 1] : QChar(u' ');
  static const QString kEditable = QStringLiteral("AaNnXx90Dd#HhBb");
  static const QString kNoPosition = QStringLiteral("<>![]{}");
  std::vector<bool> out;
  bool escaped = false;
  for (QChar c : picture) {
    if (escaped) {
      out.push_back(false);
      escaped = false;
    } else if (c == u'\\') {
      escaped = true;
    } else if (!kNoPosition.contains(c)) {
      out.push_back(kEditable.contains(c));
    }
  }
  return out;
}

class TypedInputFilter : public QObject {
 public:
  explicit TypedInputFilter(QLineEdit* edit) : QObject(edit) {
    setObjectName(QLatin1String(kHandlerName));
    connect(edit, &QLineEdit::inputRejected, this, [] { QApplication::beep(); });
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    // The press has placed the cursor; the release leaves it be, so it is
    // corrected here, before a drag could have made a selection of it.
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      auto* edit = static_cast<QLineEdit*>(watched);
      if (!edit->inputMask().isEmpty() && !edit->hasSelectedText()) {
        const int at = TypedInputPosition(*edit, edit->cursorPosition());
        if (at != edit->cursorPosition()) edit->setCursorPosition(at);
      }
    }
    return false;
  }
};

}  // namespace

int TypedInputPosition(const QLineEdit& edit, int position) {
  QChar blank;
  const std::vector<bool> editable = EditablePositions(edit.inputMask(), &blank);
  const QString shown = edit.displayText();
  const int size = std::min(static_cast<int>(editable.size()), static_cast<int>(shown.size()));
  position = std::clamp(position, 0, size);
  const auto filled = [&](int i) { return editable[static_cast<size_t>(i)] && shown[i] != blank; };
  // The start of the part clicked.
  int start = position;
  while (start > 0) {
    if (editable[static_cast<size_t>(start - 1)]) {
      --start;
      continue;
    }
    int literals = start;
    while (literals > 0 && !editable[static_cast<size_t>(literals - 1)]) --literals;
    if (start - literals >= 2 && literals > 0) break;
    start = literals;
  }
  // The edit moves a cursor set back onto a literal further back, onto the
  // last typed position: the next position to type is given instead.
  const auto next_to_type = [&](int i) {
    while (i < size && !editable[static_cast<size_t>(i)]) ++i;
    return i;
  };
  for (int i = position - 1; i >= start; --i)
    if (filled(i)) return std::min(next_to_type(i + 1), position);
  // Nothing typed before the click in its part: its first position to type.
  while (start < position && !editable[static_cast<size_t>(start)]) ++start;
  return start;
}

void TakeTypedInput(QLineEdit* edit) {
  if (edit->findChild<QObject*>(QLatin1String(kHandlerName), Qt::FindDirectChildrenOnly)) return;
  edit->installEventFilter(new TypedInputFilter(edit));
}

}  // namespace klv::forms
