// The fixed texts of the colour configuration, the viewer configuration and
// the tip of the day, character for character as the user sees them (double
// blanks included).
#pragma once

namespace klv::appearance::texts {

// Colour configuration.
constexpr char kColorCaption[] = "Color Configuration";
constexpr char kWindowLabel[] = "Window";
constexpr char kRadioLabel[] = "Radio Button";
constexpr char kCheckLabel[] = "Check Box";
constexpr char kEditLabel[] = "Edit Box";
constexpr char kComboLabel[] = "Combo Box";
constexpr char kListLabel[] = "List Box";
constexpr char kPresetLabel[] = "Predefined Color Combinations";
constexpr char kSampleText[] = "Sample Text";
constexpr char kBackground[] = "Background";
constexpr char kMajorTitles[] = "Major Titles";
constexpr char kMinorTitles[] = "Minor Titles";
constexpr char kText[] = "Text";
constexpr char kOkButton[] = "&Ok";
constexpr char kCancelButton[] = "&Cancel";
// The predefined colour combinations, entries 1 to 12 of the chooser.
constexpr const char* kPresetNames[12] = {
    "Monochrome",    "Gray Mist",    "Midnight Black", "Desert Sunset",
    "Easter Pastel", "Ocean Blue",   "Fiery Red",      "Christmas Season",
    "Wine",          "More Pastels", "Green Glow",     "Camouflage",
};

// Viewer configuration.
constexpr char kViewCaption[] = "Viewer Configuration";
constexpr char kPageTitle[] = "&Title";
constexpr char kPageLook[] = "&Look and Feel";
constexpr char kPageShow[] = "Fields to &Show";
constexpr char kPageWidths[] = "Field &Widths";
constexpr char kPageOrder[] = "Field &Order";
constexpr char kPageNames[] = "Field &Names";
constexpr char kShowGridTitle[] = "Show Column Titles";
constexpr char kTitleFontLabel[] = "Title Font";
constexpr char kNewFont[] = "New &Font";
constexpr char kNewColor[] = "New &Color";
// Beside "New Font": the colour the font is drawn in.
constexpr char kFontColor[] = "Font Colo&r";
constexpr char kAlignmentLabel[] = "Alignment";
constexpr char kTitleLeft[] = "Left Justify";
constexpr char kTitleCenter[] = "Center";
constexpr char kTitleRight[] = "Right Justify";
constexpr char kGridOptionsLabel[] = "Grid Options";
constexpr char kColumnLines[] = "Show lines between columns";
constexpr char kRowLines[] = "Show lines between rows";
constexpr char kRowIndicator[] = "Show current row indicator";
constexpr char kFieldEditing[] = "Allow field editing";
constexpr char kCellColorLabel[] = "Cell Color";
constexpr char kCellFontLabel[] = "Cell Font";
constexpr char kShowInstruction[] =
    "For each field that you would like displayed in the Viewer, select 'Yes'.  If you do not "
    "wish a field to appear in the Viewer, then select 'No' for that field.  Double Click on the "
    "field to change between 'Yes' and 'No'.";
constexpr char kFieldHeading[] = "FIELD";
constexpr char kDisplayHeading[] = "DISPLAY IT";
constexpr char kWidthHeading[] = "WIDTH";
constexpr char kNameHeading[] = "NAME TO USE";
constexpr char kOrderField[] = "Field";
constexpr char kOrderOrdering[] = "Ordering";
constexpr char kOrderUp[] = "&Up";
constexpr char kOrderDown[] = "&Down";
constexpr char kOrderDefaults[] = "D&efaults";
constexpr char kExitButton[] = "E&xit";
constexpr char kHelpButton[] = "&Help";
constexpr char kYes[] = "Yes";
constexpr char kNo[] = "No";
constexpr char kPointsBetween[] = "pt ";  // size + this + font name: "12pt Arial"
constexpr char kReOrderCaption[] = "Re-Order";
constexpr char kReOrderQuestion[] =
    "This will set the order of fields to the program defaults.  Continue?";
constexpr char kErrorCaption[] = "Error";
// The duplicate caption message: kDuplicateStart + caption in double quotes +
// kDuplicateEnd.
constexpr char kDuplicateStart[] = "Two field names have the same name \"";
constexpr char kDuplicateEnd[] = "\".  Please change one.";
// Help keywords of the six pages, in page order.
constexpr const char* kViewHelpKeywords[6] = {
    "Viewer Configuration Title",  "Viewer Configuration Look",  "Viewer Configuration Show",
    "Viewer Configuration Widths", "Viewer Configuration Order", "Viewer Configuration Names",
};

// Tip of the day.
constexpr char kTipCaption[] = "Tip of the Day";
constexpr char kDidYouKnow[] = "Did you know?";
constexpr char kShowTips[] = "&Show Tips at Startup";
constexpr char kNextTip[] = "&Next Tip";
constexpr char kCloseButton[] = "&Close";
constexpr const char* kTips[24] = {
    "You can rename database fields to your liking.",
    "You can edit data directly on the Main Window Viewer.",
    "You can choose to see only those database fields you desire in the Main Window Viewer.",
    "You can choose the order in which the database fields appear in the Main Window Viewer.",
    "You can select the font for edit boxes allowing for support of foreign language input.",
    "You can do a global search and replace on any database field.",
    "You can select numeric and currency formats for reports to either match your Windows setup "
    "or to be a U.S. format.",
    "You can choose from among several date formats to be used through out the program.",
    "You can sort your data by any database field and go four levels deep.",
    "You can maintain multiple databases and Kolvane will display the last five used in the menu "
    "for easy retrieval.",
    "You can easily import data from ASCII Delimited or DBase compatible files.",
    "You can export data to ASCII Delimited or DBase compatible files and choose which database "
    "fields to export and the order.",
    "When exporting data, you can limit the data to export by first doing a search.",
    "When printing a report, you can limit the data to print by first doing a search.",
    "You can preview reports, print reports to a text file or send them directly to the "
    "printer.",
    "You can design and build as many of your own report layouts as you like.",
    "You can choose to have speed buttons or large lettered buttons on the main window for quick "
    "program functions.",
    "You can choose among popular screen sizes allowing program windows to appear the size you "
    "prefer.",
    "You can choose the font style for text input, labels and buttons allowing for a more "
    "personal appearance.",
    "You can narrow the data that is displayed in the Main Window Viewer to just the result of a "
    "search.",
    "Logical OR searches can be performed: Find all records where the item = xxxx OR where the "
    "item = yyyy.",
    "User defined reports allow for Title Lines, Font Selection, Margin Settings, Page Numbers, "
    "Date On Pages and More.",
    "User defined reports allow for Column Headers, Vertical and Horizontal lines, Grouping of "
    "Data, Totals and More.",
    "A \"Browse Mode\" is available where a user has access to the data, but cannot change it.",
};

}  // namespace klv::appearance::texts
