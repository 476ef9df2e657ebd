// What each page draws, in which order, and how paging folds the number.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "fresh_module.h"
#include "page_calls.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAreArray;

constexpr int kRegion = 7;

class Pages : public ::testing::Test {
 protected:
  void SetUp() override { module.variable<uint16_t>("rgn") = kRegion; }

  // Shows the page that the next-page key lands on from `before`.
  std::vector<std::string> stepFrom(uint16_t before, uint32_t key = kNext) {
    module.variable<uint16_t>("pagenumber") = before;
    platform.clearCalls();
    EXPECT_EQ(handler()(0x100, key, 0), 0x100u);
    return screenCalls(platform.calls());
  }
  uint16_t page() const { return module.variable<uint16_t>("pagenumber"); }
  uint16_t windowNumber() const { return module.variable<uint16_t>("windownumber"); }
  TapEventHandler handler() const {
    return module.function<uint32_t(uint32_t, uint32_t, uint32_t)>("TAP_EventHandler");
  }

  FakePlatform platform;
  FreshModule module;
};

std::vector<std::string> withSync(std::vector<std::string> calls) {
  calls.push_back("TAP_Osd_Sync()");
  return calls;
}

TEST_F(Pages, RampPageIsOneBlackFillThenSevenRowsPerLevelInLevelOrder) {
  EXPECT_THAT(stepFrom(21), ElementsAreArray(withSync(pageCalls(1, kRegion))));
  EXPECT_EQ(page(), 1);
  EXPECT_EQ(stepFrom(21).size(), 1u + 255u * 7u + 1u);
}

TEST_F(Pages, LevelStepsPageWritesEachValueOnItsStep) {
  EXPECT_THAT(stepFrom(1), ElementsAreArray(withSync(pageCalls(2, kRegion))));
}

TEST_F(Pages, ColourColumnsPageDrawsFiveColumns) {
  EXPECT_THAT(stepFrom(2), ElementsAreArray(withSync(pageCalls(3, kRegion))));
}

struct FieldPage {
  uint16_t page;
  uint32_t colour;
  const char* label;  // null: the page carries no label
};

class FieldPages : public Pages, public ::testing::WithParamInterface<FieldPage> {};

TEST_P(FieldPages, FillsTheWholeScreenAndLabelsOnlyTheGreyLevels) {
  const FieldPage field = GetParam();
  std::vector<std::string> expected;
  if (field.label != nullptr) expected.push_back(sprint("%i%%", field.label));
  expected.push_back(fill(kRegion, 0, 0, 720, 576, field.colour));
  if (field.label != nullptr) expected.push_back(puts(kRegion, 50, 50, field.label, 0xFFFF0000));
  expected.push_back("TAP_Osd_Sync()");
  EXPECT_THAT(stepFrom(static_cast<uint16_t>(field.page - 1)), ElementsAreArray(expected));
  EXPECT_EQ(page(), field.page);
  EXPECT_EQ(windowNumber(), field.page - 3);
}

INSTANTIATE_TEST_SUITE_P(
    AllFields, FieldPages,
    ::testing::Values(FieldPage{4, 0xFFFF0000, nullptr}, FieldPage{5, 0xFF00FF00, nullptr},
                      FieldPage{6, 0xFF0000FF, nullptr}, FieldPage{7, 0xFFFFFF00, nullptr},
                      FieldPage{8, 0xFF00FFFF, nullptr}, FieldPage{9, 0xFFFF00FF, nullptr},
                      FieldPage{10, 0xFFFFFFFF, nullptr}, FieldPage{11, 0xFF101010, "0%"},
                      FieldPage{12, 0xFF1A1A1A, "10%"}, FieldPage{13, 0xFF333333, "20%"},
                      FieldPage{14, 0xFF4D4D4D, "30%"}, FieldPage{15, 0xFF666666, "40%"},
                      FieldPage{16, 0xFF808080, "50%"}, FieldPage{17, 0xFF999999, "60%"},
                      FieldPage{18, 0xFFB3B3B3, "70%"}, FieldPage{19, 0xFFCCCCCC, "80%"},
                      FieldPage{20, 0xFFE6E6E6, "90%"}, FieldPage{21, 0xFFFFFFFF, "100%"}),
    [](const auto& info) { return "Page" + std::to_string(info.param.page); });

TEST_F(Pages, WindowNumberIsLeftAloneOnTheFirstThreePages) {
  module.variable<uint16_t>("windownumber") = 9;
  stepFrom(1);
  stepFrom(2);
  stepFrom(21);
  EXPECT_EQ(windowNumber(), 9);
}

struct Fold {
  uint16_t before;
  uint32_t key;
  uint16_t shown;
};

class Folding : public Pages, public ::testing::WithParamInterface<Fold> {};

TEST_P(Folding, PageNumberFoldsIntoOneToTwentyOneAndStaysFolded) {
  const Fold fold = GetParam();
  const auto calls = stepFrom(fold.before, fold.key);
  EXPECT_EQ(page(), fold.shown);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "TAP_Osd_Sync()");
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "TAP_Osd_Sync()"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    WrapAround, Folding,
    ::testing::Values(Fold{1, kPrevious, 21},       // previous on the first page shows the last
                      Fold{21, kNext, 1},           // next on the last page shows the first
                      Fold{0, kPrevious, 1},        // 0 - 1 is 65535 in 16 bits, past the end
                      Fold{65535, kNext, 21},       // 65535 + 1 is 0 in 16 bits
                      Fold{100, kNext, 1}, Fold{23, kPrevious, 1}, Fold{10, kNext, 11}));

}  // namespace
}  // namespace quarnel::test
