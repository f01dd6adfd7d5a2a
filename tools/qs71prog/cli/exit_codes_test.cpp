#include "cli/exit_codes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "case_names.h"
#include "qs71_usb_writer.h"

namespace qs71prog {
namespace {

constexpr Phase kPhases[] = {Phase::kConnect, Phase::kIdentify, Phase::kBlankCheck, Phase::kWrite,
                             Phase::kVerify};

// Every result code of the library, as its public header lists them.
constexpr int32_t kResults[] = {
    QS71_E_ECHO_60,   QS71_E_ECHO_62,   QS71_E_ECHO_64,     QS71_E_ECHO_66,     QS71_E_ECHO_68,
    QS71_E_TRANSPORT, QS71_E_ECHO,      QS71_E_CHECK_WORDS, QS71_E_FILE,        QS71_E_OTP_ID,
    QS71_E_SIZE_CODE, QS71_E_FILE_SIZE, QS71_E_READ_SIZE,   QS71_E_VERIFY_SIZE, QS71_E_WRITE_SIZE,
    QS71_E_MISMATCH,  QS71_E_NOT_BLANK, QS71_E_SYSTEM_AREA, QS71_E_STATUS,
};

struct Mapping {
  int32_t result;
  Phase phase;
  ExitCode exit;
};

class ExitMapping : public testing::TestWithParam<Mapping> {};

// "result_minus_59_in_write"
std::string MappingName(const testing::TestParamInfo<Mapping>& info) {
  const int32_t result = info.param.result;
  return CaseName("result " + std::string(result < 0 ? "minus " : "") +
                  std::to_string(result < 0 ? -result : result) + " in " +
                  PhaseName(info.param.phase));
}

TEST_P(ExitMapping, GivesTheDocumentedCode) {
  const Mapping& m = GetParam();
  EXPECT_EQ(ExitCodeFor(m.result, m.phase), m.exit)
      << "result " << m.result << " in " << PhaseName(m.phase);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExitMapping,
    testing::Values(Mapping{QS71_OK, Phase::kVerify, ExitCode::kOk},
                    Mapping{QS71_OK, Phase::kIdentify, ExitCode::kOk},
                    Mapping{QS71_E_TRANSPORT, Phase::kConnect, ExitCode::kNoProgrammer},
                    Mapping{QS71_E_STATUS, Phase::kConnect, ExitCode::kProgrammerError},
                    Mapping{QS71_E_ECHO_60, Phase::kConnect, ExitCode::kProgrammerError},
                    Mapping{QS71_E_TRANSPORT, Phase::kIdentify, ExitCode::kProgrammerError},
                    Mapping{QS71_E_OTP_ID, Phase::kIdentify, ExitCode::kChip},
                    Mapping{QS71_E_SIZE_CODE, Phase::kIdentify, ExitCode::kChip},
                    Mapping{QS71_E_SYSTEM_AREA, Phase::kIdentify, ExitCode::kChip},
                    Mapping{QS71_E_SYSTEM_AREA, Phase::kBlankCheck, ExitCode::kChip},
                    Mapping{QS71_E_NOT_BLANK, Phase::kBlankCheck, ExitCode::kNotBlank},
                    Mapping{QS71_E_MISMATCH, Phase::kBlankCheck, ExitCode::kNotBlank},
                    Mapping{QS71_E_TRANSPORT, Phase::kBlankCheck, ExitCode::kProgrammerError},
                    Mapping{QS71_E_VERIFY_SIZE, Phase::kBlankCheck, ExitCode::kProgrammerError},
                    Mapping{QS71_E_FILE, Phase::kWrite, ExitCode::kFileError},
                    Mapping{QS71_E_FILE_SIZE, Phase::kWrite, ExitCode::kImageSize},
                    Mapping{QS71_E_TRANSPORT, Phase::kWrite, ExitCode::kWriteFailed},
                    Mapping{QS71_E_STATUS, Phase::kWrite, ExitCode::kWriteFailed},
                    Mapping{QS71_E_ECHO, Phase::kWrite, ExitCode::kWriteFailed},
                    Mapping{QS71_E_WRITE_SIZE, Phase::kWrite, ExitCode::kWriteFailed},
                    Mapping{QS71_E_FILE, Phase::kVerify, ExitCode::kFileError},
                    Mapping{QS71_E_FILE_SIZE, Phase::kVerify, ExitCode::kImageSize},
                    Mapping{QS71_E_MISMATCH, Phase::kVerify, ExitCode::kVerifyMismatch},
                    Mapping{QS71_E_SYSTEM_AREA, Phase::kVerify, ExitCode::kVerifyMismatch},
                    Mapping{QS71_E_TRANSPORT, Phase::kVerify, ExitCode::kProgrammerError},
                    Mapping{QS71_E_STATUS, Phase::kVerify, ExitCode::kProgrammerError},
                    Mapping{-99, Phase::kVerify, ExitCode::kProgrammerError},
                    Mapping{7, Phase::kIdentify, ExitCode::kProgrammerError}),
    MappingName);

TEST(ExitCodes, NoFailureEndsWithZero) {
  for (int32_t result : kResults) {
    for (Phase phase : kPhases) {
      EXPECT_NE(ExitCodeFor(result, phase), ExitCode::kOk) << result << " in " << PhaseName(phase);
    }
  }
}

TEST(ExitCodes, AreDistinctAndNamedOnce) {
  std::set<int> codes;
  std::set<std::string> names;
  for (const ExitCodeInfo& info : ExitCodeTable()) {
    EXPECT_TRUE(codes.insert(static_cast<int>(info.code)).second);
    EXPECT_TRUE(names.insert(info.name).second) << info.name;
    EXPECT_EQ(DescribeExit(info.code).name, std::string(info.name));
  }
  EXPECT_EQ(codes.size(), 16u);
}

}  // namespace
}  // namespace qs71prog
