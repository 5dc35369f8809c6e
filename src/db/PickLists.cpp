#include "db/PickLists.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringListModel>

#include "db/DbTexts.h"
#include "db/FieldTable.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"

namespace klv::db {

namespace t = texts;
using platform::MsgButton;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::prompts;

const ListInfo& InfoOf(ListKind kind) {
  static const ListInfo kLists[] = {
      {kCountry, t::kCountryListName, 20, t::kCountryListFile},
      {kTopic, t::kTopicListName, 20, t::kTopicListFile},
      {kCondition, t::kConditionListName, 30, t::kConditionListFile},
      {0, t::kMiscListName, 25, t::kMiscListFile},
  };
  return kLists[static_cast<int>(kind) - 1];
}

namespace {

void ReportIo(const char* what, const QString& path, const QString& reason) {
  prompts().Notify(nullptr, t::kCaptionError, QString::fromUtf8(what).arg(path, reason),
                   MsgIcon::kError);
}

}  // namespace

QStringList ReadListFile(const QString& path) {
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return {};
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    ReportIo(t::kListReadError, path, file.errorString());
    // Only whole lines count: a partial last line may be cut anywhere.
    qsizetype end = bytes.lastIndexOf('\n');
    bytes.truncate(end < 0 ? 0 : end + 1);
  }
  return ParseListBytes(bytes);
}

bool WriteListFile(const QString& path, const QStringList& entries) {
  if (path.isEmpty()) return false;
  const QByteArray bytes = ListFileBytes(entries);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (file.write(bytes) != bytes.size() || !file.commit()) {
    QString reason = file.errorString();
    file.cancelWriting();
    ReportIo(t::kListWriteError, path, reason);
    return false;
  }
  return true;
}

int InstallDefaultLists(const QString& program_dir, const QString& source_dir) {
  int copied = 0;
  for (const char* name :
       {t::kCountryListFile, t::kTopicListFile, t::kConditionListFile, t::kMiscListFile}) {
    const QString file = QString::fromLatin1(name);
    if (!platform::FindFileNoCase(program_dir, file).isEmpty()) continue;
    const QString source = platform::FindFileNoCase(source_dir, file);
    if (source.isEmpty()) continue;
    const QString target = QDir(program_dir).filePath(file);
    // Copy to a temporary name first so that a failed copy never leaves a
    // half list that would then count as the user's own.
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    if (QFile::copy(source, partial) && QFile::rename(partial, target)) {
      QFile(target).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup | QFileDevice::ReadOther);
      ++copied;
    } else {
      QFile::remove(partial);
    }
  }
  return copied;
}

QString DefaultListSourceDir() {
  return platform::ShippedFilesDir(QString::fromLatin1(t::kCountryListFile));
}

PickLists::PickLists(QString program_dir, QString base)
    : program_dir_(std::move(program_dir)), base_(std::move(base)) {
  for (int i = 0; i < 3; ++i) {
    form_[i] = new QStringListModel;
    grid_[i] = new QStringListModel;
  }
}

PickLists::~PickLists() {
  for (int i = 0; i < 3; ++i) {
    delete form_[i];
    delete grid_[i];
  }
}

int PickLists::Slot(ListKind kind) {
  int i = static_cast<int>(kind) - 1;
  Q_ASSERT(i >= 0 && i < 3);
  return i;
}

QStringListModel* PickLists::FormModel(ListKind kind) const {
  return form_[Slot(kind)];
}

QStringListModel* PickLists::GridModel(ListKind kind) const {
  return grid_[Slot(kind)];
}

QStringList PickLists::FormList(ListKind kind) const {
  return FormModel(kind)->stringList();
}

QStringList PickLists::GridList(ListKind kind) const {
  return GridModel(kind)->stringList();
}

void PickLists::OnGridListChanged(QObject* context,
                                  std::function<void(ListKind, const QStringList&)> changed) {
  for (ListKind kind : {ListKind::kCountry, ListKind::kTopic, ListKind::kCondition}) {
    QStringListModel* model = GridModel(kind);
    auto tell = [model, kind, changed] { changed(kind, model->stringList()); };
    QObject* owner = context != nullptr ? context : model;
    QObject::connect(model, &QAbstractItemModel::modelReset, owner, tell);
    QObject::connect(model, &QAbstractItemModel::dataChanged, owner, tell);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, owner, tell);
    tell();
  }
}

QString PickLists::DatabaseFile(ListKind kind) const {
  if (base_.isEmpty()) return {};
  QFileInfo info(base_);
  const QString name = info.fileName() + QStringLiteral(".00") + QString::number(Slot(kind) + 1);
  return platform::CompanionFile(info.path(), name);
}

QString PickLists::DefaultFile(ListKind kind) const {
  return platform::CompanionFile(program_dir_, QString::fromLatin1(InfoOf(kind).default_file));
}

void PickLists::LoadList(const QString& path, ListKind kind) {
  FormModel(kind)->setStringList({});
  GridModel(kind)->setStringList({});
  QStringList entries = ReadListFile(path);
  FormModel(kind)->setStringList(entries);
  GridModel(kind)->setStringList(entries);
}

void PickLists::SaveList(const QString& path, ListKind kind) const {
  WriteListFile(path, FormList(kind));
}

void PickLists::LoadAllList() {
  const QString country = DatabaseFile(ListKind::kCountry);
  if (country.isEmpty() || !QFileInfo(country).isFile()) return LoadDefaultList();
  LoadList(country, ListKind::kCountry);
  LoadList(DatabaseFile(ListKind::kTopic), ListKind::kTopic);
  LoadList(DatabaseFile(ListKind::kCondition), ListKind::kCondition);
}

void PickLists::LoadDefaultList() {
  for (ListKind kind : {ListKind::kCountry, ListKind::kTopic, ListKind::kCondition})
    LoadList(DefaultFile(kind), kind);
}

void PickLists::SaveAllLists() const {
  if (base_.isEmpty()) return;
  for (ListKind kind : {ListKind::kCountry, ListKind::kTopic, ListKind::kCondition})
    SaveList(DatabaseFile(kind), kind);
}

void PickLists::SaveDefaultLists() const {
  for (ListKind kind : {ListKind::kCountry, ListKind::kTopic, ListKind::kCondition})
    SaveList(DefaultFile(kind), kind);
}

namespace {

bool AddTo(QStringListModel* model, const QString& text) {
  const QString entry = TrimBlanks(text);
  if (entry.isEmpty()) return false;
  if (model->stringList().contains(entry, Qt::CaseSensitive)) return false;
  const int row = model->rowCount();
  model->insertRows(row, 1);
  model->setData(model->index(row), entry);
  return true;
}

}  // namespace

bool PickLists::AddToList(ListKind kind, const QString& text) {
  return AddTo(FormModel(kind), text);
}

bool PickLists::AddToListTwwDB(ListKind kind, const QString& text) {
  return AddTo(GridModel(kind), text);
}

void PickLists::Replace(ListKind kind, const QStringList& entries) {
  FormModel(kind)->setStringList(entries);
  GridModel(kind)->setStringList(entries);
}

void PickLists::SwitchDatabase(const QString& new_base, bool new_database) {
  SaveAllLists();
  base_ = new_base;
  if (new_database)
    LoadDefaultList();
  else
    LoadAllList();
}

}  // namespace klv::db
