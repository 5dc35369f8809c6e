// Fixed texts of the main window: captions, menus, buttons, hints and
// messages, character for character (double blanks included), kept in one
// place. Texts shared with the database code (the title, "Error", the
// validity and file-type messages) are in db/DbTexts.h.
#pragma once

#include "db/DbTexts.h"

namespace klv::app::texts {

inline constexpr char kViewerLabel[] = "Coin Viewer";
inline constexpr char kNavigatorLabel[] = "Navigation Controls";
inline constexpr char kSearchOn[] = "SEARCH ON";
inline constexpr char kCoins[] = "Coins";
inline constexpr char kDefaultDatabase[] = "MASTER.DBF";
inline constexpr char kIndexTag[] = "NewIndex";

using klv::db::texts::kCaptionConfirm;
inline constexpr char kCaptionNotice[] = "Notice";

// File dialogs of the database commands.
inline constexpr char kDatabaseFilter[] = "Database Files (*.DBF)|*.DBF";
inline constexpr char kDatabaseSuffix[] = "DBF";
inline constexpr char kOpenDialogTitle[] = "Open Database File";
inline constexpr char kNewDialogTitle[] = "New Database File";

inline constexpr char kDeleteRecord[] = "Delete this record?";
inline constexpr char kLastDatabaseInvalid[] =
    "The last database used as recorded in the INI file is not a valid Kolvane Coins 97 file.  "
    "You will need to choose a new file.";
// "Your current screen resolution does not support " + "800 x 600" + " pixels."
inline constexpr char kScreenTooSmall1[] = "Your current screen resolution does not support ";
inline constexpr char kScreenTooSmall2[] = " pixels.";

// Our own messages, for faults the program reports instead of failing
// silently. Each is shown with caption "Error".
// Start-up could not create the default database; the reason follows.
inline constexpr char kCannotCreateDefault1[] = "The default database \"";
inline constexpr char kCannotCreateDefault2[] = "\" could not be created.  ";
inline constexpr char kCannotStart[] = "Kolvane Coins 97 cannot start without a database.";
// A database switch failed part way; the engine's message comes first.
inline constexpr char kSwitchFailed[] = "The database could not be opened.  ";
inline constexpr char kPreviousReopened[] = "The database open before is open again.";

// The general error display: an error a command did not catch, shown with
// the engine's own message under the program's title.
inline constexpr const char* kGeneralErrorCaption = klv::db::texts::kTitle;

// About box.
inline constexpr char kAboutCaption[] = "About Kolvane Coins 97";
inline constexpr char kAboutVersion[] = "Version %1";
inline constexpr char kAboutComments[] =
    "A catalogue for coin collections.  Each collection is a dBase table with its "
    "production index, which other dBase software can read.";
inline constexpr char kAboutOk[] = "OK";

// Menus. The "&1" to "&5" items read "&" + digit + three blanks + path.
inline constexpr char kMenuFile[] = "&File";
inline constexpr char kMenuNew[] = "&New Database";
inline constexpr char kMenuOpen[] = "&Open Database";
inline constexpr char kMenuUpdate[] = "&Update Database";
inline constexpr char kMenuBackup[] = "&Back Up Data";
inline constexpr char kMenuRestore[] = "&Restore Data";
inline constexpr char kMenuPrint[] = "&Print";
inline constexpr char kMenuExit[] = "E&xit";
inline constexpr char kLastFileGap[] = "   ";

inline constexpr char kMenuRecords[] = "&Records";
inline constexpr char kMenuAdd[] = "&Add";
inline constexpr char kMenuEdit[] = "&Edit";
inline constexpr char kMenuCopy[] = "&Copy";
inline constexpr char kMenuDelete[] = "&Delete";
inline constexpr char kMenuImport[] = "&Import";
inline constexpr char kMenuExport[] = "E&xport";

inline constexpr char kMenuNavigate[] = "Navi&gate";
inline constexpr char kMenuSearch[] = "&Search (Query)";
inline constexpr char kMenuEndSearch[] = "&End Search";
inline constexpr char kMenuLocate[] = "&Locate";
inline constexpr char kMenuLocateNext[] = "Locate &Next";
inline constexpr char kMenuReports[] = "&Reports";
inline constexpr char kMenuViewer[] = "&Viewer";

inline constexpr char kMenuOptions[] = "&Options";
inline constexpr char kMenuSortOrder[] = "Sort &Order";
inline constexpr char kMenuScreenSize[] = "Screen Si&ze";
inline constexpr char kMenuScreenSizes[4][12] = {"640 x 480", "800 x 600", "1024 x 768",
                                                 "1280 x 1024"};
inline constexpr char kMenuScreenAccess[] = "&Screen Access";
inline constexpr char kMenuSpeedButtons[] = "&Speed Buttons";
inline constexpr char kMenuLetteredButtons[] = "&Lettered Buttons";
inline constexpr char kMenuNoButtons[] = "&None";
inline constexpr char kMenuColor[] = "&Color";
inline constexpr char kMenuColors[6][26] = {"&Main Window Color",      "&Edit Window Color",
                                            "&Search Window Color",    "&Report Window Color",
                                            "&Configure Window Color", "&ALL Windows Color"};
inline constexpr char kMenuListMaintenance[] = "List &Maintenance";
inline constexpr char kMenuLists[6][18] = {
    "&Save As Defaults", "Load In &Defaults", "&Country", "&Topic", "C&ondition", "&Miscellaneous"};
inline constexpr char kMenuCurrencyFormat[] = "C&urrency Format";
inline constexpr char kMenuUSDollars[] = "&U.S. Dollars";
inline constexpr char kMenuNumericFormat[] = "&Numeric Format";
inline constexpr char kMenuUSFormat[] = "&U.S. Format";
inline constexpr char kMenuWindowsSetting[] = "&Windows Setting";
inline constexpr char kMenuDateFormat[] = "&Date Format";
inline constexpr char kMenuLeadingZeros[] = "&Leading Zeros";
inline constexpr char kMenuLabelFont[] = "&Label Font";
inline constexpr char kMenuEditFont[] = "&Edit Font";
inline constexpr char kMenuButtonFont[] = "&Button Font";

inline constexpr char kMenuTools[] = "&Tools";
inline constexpr char kMenuSearchReplace[] = "&Search and Replace";
inline constexpr char kMenuRebuild[] = "&Rebuild Indexes";
inline constexpr char kMenuPack[] = "&Pack Database";
inline constexpr char kMenuRecall[] = "Recall &Deleted Rows";
inline constexpr char kMenuStatistics[] = "S&tatistics";
inline constexpr char kMenuWantList[] = "&Want List";
// The recall form's own controls.
inline constexpr char kRecallButton[] = "&Recall";
inline constexpr char kRecallCancel[] = "&Cancel";
inline constexpr char kRecallLabel[] = "Tick the deleted rows to bring back:";
inline constexpr char kRecallRecord[] = "Record";

inline constexpr char kMenuHelp[] = "&Help";
inline constexpr char kMenuContents[] = "&Contents";
inline constexpr char kMenuTips[] = "&Review \"Tips of the Day\"";
inline constexpr char kMenuAbout[] = "&About";
inline constexpr char kMenuOpenSample[] = "Open &Sample Collection";

// Lettered buttons.
inline constexpr char kButtonAdd[] = "&Add";
inline constexpr char kButtonEdit[] = "&Edit";
inline constexpr char kButtonCopy[] = "&Copy";
inline constexpr char kButtonDelete[] = "&Delete";
inline constexpr char kButtonSearch[] = "&Search";
inline constexpr char kButtonEndSearch[] = "E&nd Srch";
inline constexpr char kButtonReports[] = "&Reports";
inline constexpr char kButtonViewer[] = "&Viewer";
inline constexpr char kButtonHelp[] = "He&lp";
inline constexpr char kButtonExit[] = "E&xit";

// Speed button hints.
inline constexpr char kHintNew[] = "New Database";
inline constexpr char kHintOpen[] = "Open Database";
inline constexpr char kHintAdd[] = "Add Record";
inline constexpr char kHintEdit[] = "Edit Record";
inline constexpr char kHintCopy[] = "Copy Record";
inline constexpr char kHintDelete[] = "Delete Record";
inline constexpr char kHintImport[] = "Import Records";
inline constexpr char kHintExport[] = "Export Records";
inline constexpr char kHintSearch[] = "Search Records";
inline constexpr char kHintEndSearch[] = "End Search";
inline constexpr char kHintLocate[] = "Locate Record";
inline constexpr char kHintLocateNext[] = "Locate Next Record";
inline constexpr char kHintReports[] = "Reports";
inline constexpr char kHintViewer[] = "Viewer Configuration";
inline constexpr char kHintSortOrder[] = "Set Sorting Order";
inline constexpr char kHintColor[] = "Color Setup";
inline constexpr char kHintHelp[] = "Help";

// Navigator button hints, in button order (MyNavigator::Button).
inline constexpr const char* kNavigatorHints[10] = {
    "First record",  "Prior record", "Next record", "Last record", "Insert record",
    "Delete record", "Edit record",  "Post edit",   "Cancel edit", "Refresh data"};

// Command line.
inline constexpr char kBrowseSwitch[] = "/BROWSE";
inline constexpr char kUsage[] =
    "Usage: klvcoin [/BROWSE | --browse] [FILE.DBF]\n"
    "   or: klvcoin --report NAME --output FILE.TXT|FILE.PDF [--paper a4|letter] [FILE.DBF]\n"
    "   or: klvcoin --statistics --output FILE.PDF|FILE.CSV [FILE.DBF]\n"
    "   or: klvcoin --want-list --output FILE.PDF|FILE.CSV|FILE.TXT [FILE.DBF]\n"
    "\n"
    "Kolvane Coins 97, a catalogue for coin collections.\n"
    "\n"
    "  /BROWSE, --browse  browse-only mode: no adding, copying or deleting of\n"
    "                     records, no field editing in the viewer grid\n"
    "  FILE.DBF           open this collection database instead of the last one\n"
    "  --report NAME      run the report NAME without a window, in the database's\n"
    "                     sort order, into the --output file: a text file as\n"
    "                     Print To File writes it, or a PDF of the printed pages;\n"
    "                     exit status 0 done, 1 failed, 2 no such report\n"
    "  --paper a4|letter  the report's paper; default: the default printer's, or\n"
    "                     the one the locale uses\n"
    "  --statistics       the collection's statistics into the --output file: each\n"
    "                     chart on a PDF page with its table, or the tables as CSV\n"
    "  --want-list        the coins wanted into the --output file: PDF, CSV or text\n"
    "  --help             show this text and exit\n"
    "  --version          show the version and exit\n";

}  // namespace klv::app::texts
