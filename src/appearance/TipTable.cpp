#include "appearance/TipTable.h"

#include <QRandomGenerator>

#include "appearance/AppearanceTexts.h"

namespace klv::appearance {

QString TipText(int number) {
  if (number < 1 || number > kTipCount) return {};
  return QString::fromLatin1(texts::kTips[number - 1]);
}

int NextTip(int number) {
  return number >= kTipCount || number < 1 ? 1 : number + 1;
}

int RandomTip() {
  // The generator is seeded from the system's entropy, which serves as the
  // clock seed would: each start shows a different tip.
  return QRandomGenerator::global()->bounded(1, kTipCount + 1);
}

}  // namespace klv::appearance
