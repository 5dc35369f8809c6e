#include "edit/Defaults.h"

namespace klv::edit {

app::DefaultValues CutDefaultValues(app::DefaultValues v) {
  v.country.truncate(kDefaultCountryWidth);
  v.face_value.truncate(kDefaultFaceValueWidth);
  v.year.truncate(kDefaultYearWidth);
  v.mint_mark.truncate(kDefaultMintMarkWidth);
  v.condition.truncate(kDefaultConditionWidth);
  v.topic.truncate(kDefaultTopicWidth);
  v.description.truncate(kDefaultDescriptionWidth);
  v.comments.truncate(kDefaultCommentsWidth);
  v.miscellaneous.truncate(kDefaultMiscWidth);
  v.purchase_date.truncate(kDefaultDateWidth);
  for (QString& text : v.user_defined) text.truncate(kDefaultUserDefinedWidth);
  v.quantity.truncate(kDefaultQuantityWidth);
  v.purchase_price.truncate(kDefaultMoneyWidth);
  v.market_value.truncate(kDefaultMoneyWidth);
  v.premium_value.truncate(kDefaultMoneyWidth);
  return v;
}

void SaveCurrentValuesAsDefaults(app::AppState& state, const app::DefaultValues& current) {
  app::DefaultValues& set = state.settings.defaults;
  const bool with_add = set.load_with_add;
  const bool with_clear = set.load_with_clear;
  set = CutDefaultValues(current);
  set.load_with_add = with_add;
  set.load_with_clear = with_clear;
  app::WriteSettings(state.settings, app::kProgramSettings, state.files, QString());
}

void SetLoadDefaultsWithAdd(app::AppState& state, bool on) {
  state.settings.defaults.load_with_add = on;
}

void SetLoadDefaultsWithClear(app::AppState& state, bool on) {
  state.settings.defaults.load_with_clear = on;
}

}  // namespace klv::edit
