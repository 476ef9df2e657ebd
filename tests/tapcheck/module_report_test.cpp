// The reader on the PC build of Quarnel.tap: what it reports, and how each
// set of rules judges it.
#include <elf.h>
#include <gtest/gtest.h>

#include "module_files.h"

namespace {

using namespace tapcheck_test;

class PcModule : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto inspection = tapelf::inspect(QUARNEL_PC_MODULE);
    ASSERT_TRUE(inspection) << inspection.error;
    report_ = new tapelf::ModuleReport(std::move(*inspection.report));
  }
  static void TearDownTestSuite() {
    delete report_;
    report_ = nullptr;
  }
  static const tapelf::ModuleReport& report() { return *report_; }

 private:
  static inline tapelf::ModuleReport* report_ = nullptr;
};

TEST_F(PcModule, ReportsThisPcsMachineClassAndByteOrder) {
#if defined(__x86_64__)
  EXPECT_EQ(report().machine, EM_X86_64);
  EXPECT_EQ(tapelf::machineName(report().machine), "x86-64");
#endif
  EXPECT_EQ(report().elfClass, sizeof(void*) * 8);
  EXPECT_EQ(report().littleEndian, __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
  EXPECT_EQ(report().type, ET_DYN);
}

TEST_F(PcModule, IsJudgedByPcRulesAndPassesThem) {
  EXPECT_EQ(tapelf::rulesFor(report()), tapelf::Rules::pc);
  EXPECT_EQ(joined(tapelf::problems(report(), tapelf::Rules::pc)), "");
}

TEST_F(PcModule, ReceiverRulesRejectItForItsMachine) {
  const std::string found = joined(tapelf::problems(report(), tapelf::Rules::receiver));
  EXPECT_TRUE(contains(found, "the receiver runs MIPS code; this module is for " +
                                  tapelf::machineName(report().machine)))
      << found;
  EXPECT_TRUE(contains(found, "needs a 32-bit ELF file")) << found;
}

TEST_F(PcModule, StartUpAndRunTimeEntriesAreExportedFunctions) {
  for (std::string_view name : {"__TAP_Init_", "abort", "__builtin_new", "_init", "_finit",
                                "TAP_Main", "TAP_EventHandler"}) {
    const tapelf::Symbol* symbol = tapelf::findExported(report(), name);
    ASSERT_NE(symbol, nullptr) << name;
    EXPECT_TRUE(symbol->function) << name;
  }
}

TEST_F(PcModule, InitEntryOfTheDynamicSectionIsTheModulesInit) {
  ASSERT_TRUE(report().initAddress.has_value());
  EXPECT_EQ(report().initSymbol, "_init");
  EXPECT_FALSE(report().hasFini);
}

TEST_F(PcModule, RecordsAreReadInTheListedOrderWithTheirSizes) {
  ASSERT_EQ(report().records.size(), tapelf::recordLayouts().size());
  for (std::size_t i = 0; i < report().records.size(); ++i) {
    const auto& record = report().records[i];
    EXPECT_EQ(record.layout.symbol, tapelf::recordLayouts()[i].symbol);
    EXPECT_TRUE(record.exported) << record.layout.symbol;
    EXPECT_EQ(record.bytes.size(), record.layout.size) << record.layout.symbol;
  }
}

}  // namespace
