#include "edit/MyMisc.h"

#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

#include "db/PickLists.h"
#include "edit/EditTexts.h"
#include "forms/DialogRoutines.h"
#include "platform/Paths.h"

namespace klv::edit {

using db::ReadListFile;
using db::TrimBlanks;

namespace t = edit::texts;

QStringList SplitMiscText(const QString& text) {
  QStringList out;
  QString rest = text;
  while (!rest.isEmpty()) {
    const qsizetype comma = rest.indexOf(u',');
    const QString piece = comma < 0 ? rest : rest.left(comma);
    if (!piece.isEmpty()) out.append(piece);
    if (comma < 0) break;
    rest = TrimBlanks(rest.mid(comma + 1));
  }
  return out;
}

QString JoinMiscText(const QStringList& phrases) {
  return phrases.join(QStringLiteral(", "));
}

bool MiscLess(const QString& a, const QString& b) {
  const int c = QString::compare(a, b, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : a < b;
}

TMyMiscellaneous::TMyMiscellaneous(QWidget* parent, const app::AppState& state,
                                   const QString& misc_text)
    : QDialog(parent), state_(state) {
  setObjectName(QStringLiteral("MyMiscellaneous"));
  setWindowTitle(QString::fromLatin1(t::kMiscCaption));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);

  MiscList = new QListWidget(this);
  MiscList->setObjectName(QStringLiteral("MiscList"));
  // Each click toggles one entry, as in a multiple-selection list box.
  MiscList->setSelectionMode(QAbstractItemView::MultiSelection);
  MiscList->setGeometry(8, 8, 224, 232);
  OkButton = new QPushButton(QString::fromLatin1(t::kOkButton), this);
  OkButton->setObjectName(QStringLiteral("OkButton"));
  OkButton->setGeometry(28, 250, 84, 27);
  OkButton->setDefault(true);
  CancelButton = new QPushButton(QString::fromLatin1(t::kCancelButton), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setGeometry(128, 250, 84, 27);
  resize(240, 286);
  connect(OkButton, &QPushButton::clicked, this, &TMyMiscellaneous::OkButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TMyMiscellaneous::CancelButtonClick);

  const QString path = platform::CompanionFile(state_.program_dir,
                                               QString::fromLatin1(klv::db::texts::kMiscListFile));
  for (const QString& phrase : ReadListFile(path)) Insert(phrase);
  for (const QString& phrase : SplitMiscText(misc_text))
    MiscList->item(Insert(phrase))->setSelected(true);
  // Start at the first phrase already chosen, so the user sees it.
  int first = 0;
  for (int i = 0; i < MiscList->count(); ++i) {
    if (MiscList->item(i)->isSelected()) {
      first = i;
      break;
    }
  }
  if (MiscList->count() > 0) MiscList->setCurrentRow(first, QItemSelectionModel::NoUpdate);
}

int TMyMiscellaneous::Insert(const QString& text) {
  int lo = 0, hi = MiscList->count();
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (MiscLess(MiscList->item(mid)->text(), text))
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo < MiscList->count() && MiscList->item(lo)->text() == text) return lo;
  MiscList->insertItem(lo, text);
  return lo;
}

QStringList TMyMiscellaneous::Items() const {
  QStringList out;
  for (int i = 0; i < MiscList->count(); ++i) out.append(MiscList->item(i)->text());
  return out;
}

QStringList TMyMiscellaneous::SelectedItems() const {
  QStringList out;
  for (int i = 0; i < MiscList->count(); ++i)
    if (MiscList->item(i)->isSelected()) out.append(MiscList->item(i)->text());
  return out;
}

void TMyMiscellaneous::OkButtonClick() {
  result_ = JoinMiscText(SelectedItems());
  accept();
}

void TMyMiscellaneous::CancelButtonClick() {
  reject();
}

void TMyMiscellaneous::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    forms::ApplyUserFonts(this, state_.fonts);
    forms::ScaleAndCentre(this, state_.scale_factor);
    if (QListWidgetItem* current = MiscList->currentItem()) MiscList->scrollToItem(current);
  }
  QDialog::showEvent(event);
}

QString PickMiscellaneous(QWidget* parent, const app::AppState& state, const QString& misc_text) {
  TMyMiscellaneous picker(parent, state, misc_text);
  if (picker.exec() != QDialog::Accepted) return misc_text;
  return picker.result_text();
}

}  // namespace klv::edit
