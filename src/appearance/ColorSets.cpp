#include "appearance/ColorSets.h"

#include <array>

namespace klv::appearance {
namespace {

using app::ColorGroup;

struct Preset {
  // Main background, major title, minor title, edit background, edit text,
  // radio text: red, green, blue each.
  std::array<std::array<int, 3>, 6> rgb;
};

constexpr std::array<Preset, kColorPresetCount> kPresets = {{
    {{{{255, 255, 255}, {0, 0, 0}, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {0, 0, 0}}}},
    {{{{192, 192, 192}, {0, 0, 0}, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {0, 0, 0}}}},
    {{{{0, 0, 0}, {192, 192, 192}, {255, 255, 255}, {127, 127, 127}, {0, 0, 0}, {255, 255, 255}}}},
    {{{{255, 255, 128}, {0, 0, 0}, {0, 0, 0}, {255, 255, 0}, {0, 0, 0}, {0, 0, 0}}}},
    {{{{255, 128, 255}, {0, 0, 255}, {0, 0, 0}, {128, 0, 128}, {0, 255, 255}, {0, 0, 0}}}},
    {{{{0, 255, 255}, {255, 0, 0}, {0, 0, 0}, {255, 255, 255}, {0, 0, 128}, {0, 0, 0}}}},
    {{{{255, 0, 0}, {0, 0, 128}, {0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 0}}}},
    {{{{0, 255, 0}, {255, 255, 255}, {255, 0, 0}, {255, 0, 0}, {255, 255, 255}, {255, 0, 0}}}},
    {{{{128, 0, 64}, {255, 0, 0}, {255, 0, 255}, {128, 0, 128}, {255, 0, 0}, {255, 0, 255}}}},
    {{{{0, 255, 128}, {255, 0, 255}, {128, 0, 128}, {0, 255, 255}, {0, 0, 255}, {128, 0, 128}}}},
    {{{{0, 0, 0}, {0, 255, 0}, {0, 255, 0}, {0, 255, 0}, {0, 0, 0}, {0, 255, 0}}}},
    {{{{128, 128, 0},
       {0, 128, 0},
       {127, 127, 127},
       {0, 128, 128},
       {192, 192, 192},
       {127, 127, 127}}}},
}};

constexpr std::array<int, 6> kPresetRoles = {app::kMainBackground, app::kMajorTitle,
                                             app::kMinorTitle,     app::kEditBackground,
                                             app::kEditText,       app::kRadioText};

int GroupOf(int target) {
  return target - kTargetMain;  // kMainColors .. kConfigureColors
}

}  // namespace

ColorGroup StartingGroup(const app::Settings& settings, int target) {
  if (target >= kTargetMain && target < kTargetAll)
    return settings.colors[static_cast<size_t>(GroupOf(target))];
  return settings.colors[app::kMainColors];
}

bool StoreColorGroup(app::Settings& settings, int target, const ColorGroup& colors) {
  if (target == kTargetAll) {
    settings.colors.fill(colors);
    return true;
  }
  if (target < kTargetMain || target > kTargetConfigure) return false;
  settings.colors[static_cast<size_t>(GroupOf(target))] = colors;
  return target == kTargetMain;
}

void ApplyColorPreset(int entry, ColorGroup& group) {
  if (entry < 1 || entry > kColorPresetCount) return;
  const Preset& p = kPresets[static_cast<size_t>(entry - 1)];
  for (size_t i = 0; i < kPresetRoles.size(); ++i) {
    group[static_cast<size_t>(kPresetRoles[i])] = QColor(p.rgb[i][0], p.rgb[i][1], p.rgb[i][2]);
  }
  group[app::kListBoxBackground] = group[app::kComboBackground] = group[app::kEditBackground];
  group[app::kListBoxText] = group[app::kComboText] = group[app::kEditText];
  group[app::kRadioBackground] = group[app::kCheckBackground] = group[app::kMainBackground];
  group[app::kCheckText] = group[app::kRadioText];
}

}  // namespace klv::appearance
