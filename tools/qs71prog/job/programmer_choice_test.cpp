#include "job/programmer_choice.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qs71prog {
namespace {

ProgrammerIdentity Info(const char* path, const char* serial) {
  ProgrammerIdentity identity{};
  std::strncpy(identity.info.path, path, sizeof identity.info.path - 1);
  std::strncpy(identity.info.serial, serial, sizeof identity.info.serial - 1);
  identity.info.release = 0x0101;
  return identity;
}

struct ChoiceCase {
  const char* name;
  std::string wanted;
  int index;              // -1: refused
  std::string complaint;  // a part of the reason when refused
};

class ProgrammerChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(ProgrammerChoice, ByNumberSerialOrPath) {
  const ChoiceCase& c = GetParam();
  const std::vector<ProgrammerIdentity> found = {
      Info("/dev/hidraw1", "SN-A"), Info("/dev/hidraw4", ""), Info("/dev/hidraw7", "3"),
      Info("/dev/hidraw8", "TWIN"), Info("/dev/hidraw9", "TWIN")};
  std::string problem;
  EXPECT_EQ(ChooseProgrammer(found, c.wanted, problem), c.index);
  EXPECT_NE(problem.find(c.complaint), std::string::npos) << problem;
}

// A serial number that is all digits loses to the list number: the list is what the
// operator has in front of them.
INSTANTIATE_TEST_SUITE_P(
    Attached, ProgrammerChoice,
    testing::Values(ChoiceCase{"Number", "2", 1, ""}, ChoiceCase{"NumberBeforeSerial", "3", 2, ""},
                    ChoiceCase{"Serial", "SN-A", 0, ""}, ChoiceCase{"Path", "/dev/hidraw4", 1, ""},
                    ChoiceCase{"EmptySerialMatchesNothing", "", -1, "serial number or path"},
                    ChoiceCase{"NumberZero", "0", -1, "5 are attached"},
                    ChoiceCase{"NumberTooHigh", "6", -1, "no programmer 6"},
                    ChoiceCase{"Unknown", "SN-B", -1, "\"SN-B\""},
                    // A serial two programmers report names neither; their paths do.
                    ChoiceCase{"SerialOfTwo", "TWIN", -1,
                               "two programmers report serial TWIN: they are told apart by "
                               "their USB port; name one by its id or path"},
                    ChoiceCase{"PathOfOneOfTwo", "/dev/hidraw9", 4, ""}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST(ProgrammerList, OneLinePerProgrammerNumberedFromOne) {
  EXPECT_EQ(ProgrammerListText({Info("/dev/hidraw1", "SN-A"), Info("/dev/hidraw4", "")}),
            "id  path  serial  release\n"
            "1  /dev/hidraw1  SN-A  0x0101\n"
            "2  /dev/hidraw4  -  0x0101\n");
  EXPECT_EQ(ProgrammerListText({}), "no programmer attached\n");
}

}  // namespace
}  // namespace qs71prog
