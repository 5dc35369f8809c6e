// Fixed texts of the statistics window, its files and the want list, kept in
// one place.
#pragma once

namespace klv::stats::texts {

// The charts, in the order the window lists them.
inline constexpr const char* kChartTitles[] = {
    "Coins by Country",
    "Coins by Decade",
    "Coins by Condition",
    "Coins by Topic",
    "Spending by Purchase Year",
    "Purchase Price against Market Value",
    "Purchase Price against Market Value by Country",
};

// Group names of their own.
inline constexpr char kNone[] = "(none)";
inline constexpr char kUnknown[] = "(unknown)";
inline constexpr char kBc[] = "BC";
inline constexpr char kOthers[] = "others";
inline constexpr char kTotal[] = "Total";
inline constexpr char kAllCoins[] = "All coins";
inline constexpr char kDecadeSuffix[] = "s";

// The columns of each chart's table.
inline constexpr char kColumnGroup[] = "Group";
inline constexpr char kColumnCoins[] = "Coins";
inline constexpr char kColumnQuantity[] = "Quantity";
inline constexpr char kColumnPurchase[] = "Purchase Total";
inline constexpr char kColumnMarket[] = "Market Total";
inline constexpr char kColumnChart[] = "Chart";

// Bar sets of the charts.
inline constexpr char kSeriesCoins[] = "Coins";
inline constexpr char kSeriesSpending[] = "Purchase Total";
inline constexpr char kSeriesPurchase[] = "Purchase Total";
inline constexpr char kSeriesMarket[] = "Market Total";

// The statistics window.
inline constexpr char kWindowCaption[] = "Statistics";
inline constexpr char kRefreshButton[] = "&Refresh";
inline constexpr char kCloseButton[] = "&Close";
inline constexpr char kWholeTable[] = "All coins of the collection.";
inline constexpr char kSearchResult[] = "Statistics of the search result only.";
inline constexpr char kCountStart[] = "Rows counted: ";
inline constexpr char kStopped[] = "  The count was stopped; the figures are incomplete.";
inline constexpr char kPdfTitle[] = "Kolvane Coins 97 Statistics";

// The want list.
inline constexpr char kWantListName[] = "Want List";
inline constexpr char kWantListTitle[] = "Want List";
inline constexpr char kWantedYes[] = "Yes";
inline constexpr char kWantCaption[] = "Want List";
inline constexpr char kWantIntro[] = "The coins marked Wanted, by country and year.";
inline constexpr char kWantViewButton[] = "&View";
inline constexpr char kWantPrintButton[] = "&Print";
inline constexpr char kWantPdfButton[] = "Print To P&DF";
inline constexpr char kWantCloseButton[] = "&Close";
inline constexpr char kSavePdfTitle[] = "Save Want List As a PDF File";
inline constexpr char kSavePdfFilter[] = "PDF Files (*.PDF)|*.PDF";
inline constexpr char kSavePdfSuffix[] = "PDF";

}  // namespace klv::stats::texts
