// A FormColors that notes which form asked for which colour group, installed
// for as long as the object lives.
#pragma once

#include <utility>
#include <vector>

#include "forms/ColorGroups.h"

namespace klv::test {

class RecordedColors : public forms::FormColors {
 public:
  RecordedColors() { forms::SetFormColors(this); }
  ~RecordedColors() override { forms::SetFormColors(nullptr); }
  RecordedColors(const RecordedColors&) = delete;
  RecordedColors& operator=(const RecordedColors&) = delete;

  void Apply(QWidget* form, forms::ColorGroupId group) override { asked.emplace_back(form, group); }
  std::vector<std::pair<QWidget*, forms::ColorGroupId>> asked;
};

}  // namespace klv::test
