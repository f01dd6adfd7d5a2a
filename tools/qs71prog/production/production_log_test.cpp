#include "production/production_log.h"

#include <gtest/gtest.h>

#include <fstream>

#include "test_scratch.h"

namespace qs71prog {
namespace {

struct FieldCase {
  const char* name;
  std::string text;
  std::string field;
};

class CsvFields : public testing::TestWithParam<FieldCase> {};

TEST_P(CsvFields, AreQuotedOnlyWhenTheyMustBe) {
  EXPECT_EQ(CsvField(GetParam().text), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc4180, CsvFields,
    testing::Values(FieldCase{"Plain", "/tmp/a b/demo.bin", "/tmp/a b/demo.bin"},
                    FieldCase{"Empty", "", ""}, FieldCase{"Comma", "a,b.bin", "\"a,b.bin\""},
                    FieldCase{"Quote", "say \"hi\".bin", "\"say \"\"hi\"\".bin\""},
                    FieldCase{"LineEnd", "a\nb", "\"a\nb\""},
                    FieldCase{"CarriageReturn", "a\rb", "\"a\rb\""}),
    [](const testing::TestParamInfo<FieldCase>& info) { return info.param.name; });

struct CellCase {
  const char* name;
  std::string text;
  std::string cell;
};

class SpreadsheetCells : public testing::TestWithParam<CellCase> {};

TEST_P(SpreadsheetCells, NeverStartAFormula) { EXPECT_EQ(Neutralised(GetParam().text), GetParam().cell); }

INSTANTIATE_TEST_SUITE_P(
    CsvInjection, SpreadsheetCells,
    testing::Values(CellCase{"Equals", "=1+1.bin", "'=1+1.bin"}, CellCase{"Plus", "+x", "'+x"},
                    CellCase{"Minus", "-cmd", "'-cmd"},
                    CellCase{"NegativeNumber", "-20", "-20"}, CellCase{"MinusOnly", "-", "'-"}, CellCase{"At", "@SUM(A1)", "'@SUM(A1)"},
                    CellCase{"Tab", "\t=1", "'\t=1"}, CellCase{"CarriageReturn", "\r=1", "'\r=1"},
                    CellCase{"Inside", "a=1+1", "a=1+1"}, CellCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<CellCase>& info) { return info.param.name; });

TEST(CsvRows, ColumnsInTheirOrderWithOnlyTheStepsThatRan) {
  PartRecord record;
  record.time = "2026-12-07T19:40:00.123Z";
  record.host = "=bench-2";
  record.programmer = 3;
  record.programmerPath = "emulated:3";
  record.part = 7;
  record.chipId = "6D 61 00 01";
  record.otpSize = 262144;
  record.image = "x,y.bin";
  record.sha256 = "ab12";
  record.exit = 8;
  record.status = "verify-mismatch";
  record.seconds = 2.5;
  record.stepSeconds = {0.1, 0.25, -1.0, 1.0};
  record.blocks = {"0x002300-0x0023FF", "0x004000-0x0040FF"};
  record.run = "20261207T194000Z-4711";
  record.station = "line 2";
  record.operatorName = "Ana";
  record.code = -12;
  EXPECT_EQ(CsvHeader(),
            "time,host,programmer,part,chip_id,otp_size,image,sha256,result,exit,"
            "blank_check_s,write_s,verify_s,blocks,programmer_path,programmer_serial,status,"
            "seconds,run,station,operator,code,event\n");
  EXPECT_EQ(CsvRow(record),
            "2026-12-07T19:40:00.123Z,'=bench-2,3,7,6D 61 00 01,262144,\"x,y.bin\",ab12,fail,8,"
            "0.250,,1.000,0x002300-0x0023FF 0x004000-0x0040FF,emulated:3,,verify-mismatch,"
            "2.500,20261207T194000Z-4711,line 2,Ana,-12,part\n");
  record.event = "lost";
  EXPECT_EQ(CsvRow(record).substr(0, 74),
            "2026-12-07T19:40:00.123Z,'=bench-2,3,7,6D 61 00 01,262144,\"x,y.bin\",ab12,,");
}

// A new run numbers each programmer's parts after its last in the log, whether the log has
// the event column or comes from before it; rows of events and quoted fields count right.
TEST(LastPartNumbers, GoOnFromTheLogOfAnyVersion) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "LastPartNumbers");
  const struct {
    const char* name;
    std::string log;
    std::map<int, int> last;
  } cases[] = {
      {"none", "", {}},
      {"before events", "time,host,programmer,part,image\nt,h,1,4,\"a,b\"\nt,h,2,9,x\nt,h,1,3,x\n",
       {{1, 4}, {2, 9}}},
      {"with events", "programmer,part,event\n1,7,part\n1,99,end\n2,0,start\n2,5,no-chip\n",
       {{1, 7}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / (std::string(c.name) + ".csv");
    if (!c.log.empty()) std::ofstream(path, std::ios::binary) << c.log;
    EXPECT_EQ(LastPartNumbers(path.string()), c.last);
  }
}

}  // namespace
}  // namespace qs71prog
