// The kit's two commands as an author meets them: tapsim-screendiff shows
// where two screens differ, tapsim-new-module writes a project or refuses in
// one line.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "front/png.h"
#include "tool_run.h"

namespace {

using quarnel::test::slurp;
using quarnel::test::ToolRun;
using quarnel::test::ToolScratch;

constexpr uint32_t kBlue = 0xFF203080, kGreen = 0xFF206040;

std::vector<uint32_t> screen(uint32_t colour, size_t changed = SIZE_MAX) {
  std::vector<uint32_t> pixels(6, colour);
  if (changed < pixels.size()) pixels[changed] = kGreen;
  return pixels;
}

struct DiffCase {
  const char* name;
  std::vector<uint32_t> actual;
  int32_t actualWidth;
  int status;
  const char* says;
};

class Screendiff : public testing::TestWithParam<DiffCase> {};

TEST_P(Screendiff, ExitsAndSaysAsTheScreensDiffer) {
  const DiffCase& c = GetParam();
  const ToolScratch scratch{SCREENDIFF_TOOL};
  std::string error;
  ASSERT_TRUE(tapsim::writePng(scratch.path("expected.png"), screen(kBlue), 3, 2, error)) << error;
  ASSERT_TRUE(tapsim::writePng(scratch.path("actual.png"), c.actual, c.actualWidth, 2, error)) << error;
  const ToolRun r = scratch.run(scratch.path("expected.png") + " " + scratch.path("actual.png") + " " +
                                scratch.path("diff.png"));
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
  const auto diff = tapsim::readPng(scratch.path("diff.png"), error);
  ASSERT_EQ(diff.has_value(), c.status == 1) << error;
  if (diff) {
    // The actual screen at a third of its brightness, the differing pixel red.
    const uint32_t dim = 0xFF0A102A;
    EXPECT_EQ(diff->argb, (std::vector<uint32_t>{dim, dim, dim, dim, 0xFFFF0000, dim}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kit, Screendiff,
    testing::Values(DiffCase{"Same", screen(kBlue), 3, 0, "the screens are the same"},
                    DiffCase{"OnePixel", screen(kBlue, 4), 3, 1, "1 of 6 pixels differ, the first at x 1, y 1"},
                    DiffCase{"OtherSize", std::vector<uint32_t>(4, kBlue), 2, 2, "is 3x2, "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Screendiff, RefusesAFileThatIsNoPicture) {
  const ToolScratch scratch{SCREENDIFF_TOOL};
  scratch.write("notes.png", std::string("not a picture"));
  const ToolRun r = scratch.run(scratch.path("notes.png") + " " + scratch.path("notes.png") + " d.png");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot read " + scratch.path("notes.png")), std::string::npos) << r.err;
}

class NewModule : public testing::Test {
 protected:
  void SetUp() override { setenv("TAPSIM_TEMPLATE_DIR", TEMPLATE_DIR, 1); }
  ToolScratch scratch_{NEW_MODULE_TOOL};
};

TEST_F(NewModule, WritesTheTemplateWithItsNameAndNoPlaceholderLeft) {
  ASSERT_EQ(scratch_.run("hello_2 " + scratch_.path("hello")).status, 0);
  const std::string lists = slurp(scratch_.path("hello/CMakeLists.txt"));
  EXPECT_NE(lists.find("add_tap_module(hello_2"), std::string::npos) << lists;
  EXPECT_EQ(lists.find('@'), std::string::npos) << lists;
  EXPECT_EQ(slurp(scratch_.path("hello/tests/pages.txt")), slurp(TEMPLATE_DIR "/tests/pages.txt"));
}

TEST_F(NewModule, RefusesInOneLineWhatItCannotDo) {
  std::filesystem::create_directory(scratch_.path("full"));
  scratch_.write("full/kept.txt", std::string("mine"));
  for (const auto& [args, says] : std::vector<std::pair<std::string, std::string>>{
           {"hello " + scratch_.path("full"), "is not empty"},
           {"9lives", "is not a letter followed by"},
           {"a-b", "is not a letter followed by"},
           {"a b c", "needs NAME and at most a DIR"},
           {"--force x", "unknown option --force"},
       }) {
    const ToolRun r = scratch_.run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find(says), std::string::npos) << args << ": " << r.err;
  }
  EXPECT_EQ(slurp(scratch_.path("full/kept.txt")), "mine");
}

}  // namespace
