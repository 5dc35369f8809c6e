// The commands of the main window's command table. Each has a menu item and
// possibly a lettered button and a speed button; the subsystems that carry
// them out register their handlers with the main window.
#pragma once

namespace klv::app {

// The commands of the command table. Each has a menu item and possibly a
// lettered button and a speed button.
enum Command : int {
  kNew,
  kOpen,
  kUpdate,
  kBackup,
  kRestore,
  kPrint,
  kExit,
  kAdd,
  kEdit,
  kCopy,
  kDelete,
  kImport,
  kExport,
  kSearch,
  kEndSearch,
  kLocate,
  kLocateNext,
  kReports,
  kViewer,
  kSortOrder,
  kColorMain,
  kColorEdit,
  kColorSearch,
  kColorReport,
  kColorConfigure,
  kColorAll,
  kListSaveDefaults,
  kListLoadDefaults,
  kListCountry,
  kListTopic,
  kListCondition,
  kListMiscellaneous,
  kSearchReplace,
  kRebuildIndexes,
  kPackDatabase,
  kRecallDeleted,
  kHelpContents,
  kReviewTips,
  kAbout,
  kOpenSample,
  kStatistics,
  kWantList,
  kCommandCount
};

}  // namespace klv::app
