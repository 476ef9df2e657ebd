// The one warning the library ever writes, as the first pseudo-terminal that
// opens receives it.
#include <gtest/gtest.h>

#include "database.h"
#include "firmware/pts.h"

namespace quarnel::test {
namespace {

TEST(AllocationWarning, NamesLoadFirmwareDatAndTheSizeOnTheFirstTerminalThatOpens) {
  tapsim::pts::reset();
  tapsim::pts::Terminals openable;
  openable.set(3).set(5);
  tapsim::pts::setOpenable(openable);
  {
    Database db;
    db.put(Database::file({{1, 1}, {2, 2}}));
    db.platform.failAllocationOnCall(1);
    EXPECT_EQ(db.load().result, 0);
  }
  const std::string expected =
      std::string("TAP_MemAlloc_Chk Warning: TAP_MemAlloc(716) returned NULL pointer @ LoadFirmwareDat\n") +
      '\0';
  EXPECT_EQ(tapsim::pts::written(3), expected) << tapsim::pts::visible(tapsim::pts::written(3));
  EXPECT_TRUE(tapsim::pts::written(5).empty());
  EXPECT_EQ(tapsim::pts::openDescriptors(), 0u);
  tapsim::pts::reset();
}

}  // namespace
}  // namespace quarnel::test
