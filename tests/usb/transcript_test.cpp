// The report transcript of the emulated library, read back by a reader that knows only the
// programmer's command set: which commands carry a reply, where data and flags sit.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

using Report = std::array<uint8_t, 64>;

struct Exchange {
  Report request;
  std::optional<Report> reply;
};

// Commands sent without waiting for a reply.
bool IsWriteOnly(uint8_t command) { return command == 0x74 || command == 0x7A || command == 0x43; }

bool ParseHex(const std::string& text, Report& report) {
  if (text.size() != 128) return false;
  for (size_t i = 0; i < 64; ++i) {
    const std::string pair = text.substr(2 * i, 2);
    if (pair.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    report[i] = static_cast<uint8_t>(std::stoul(pair, nullptr, 16));
  }
  return true;
}

// Reads a transcript into exchanges; any malformed line or misplaced reply fails the test.
std::vector<Exchange> ReadTranscript(const std::filesystem::path& path, int& comments) {
  std::vector<Exchange> exchanges;
  std::ifstream in(path);
  std::string line;
  comments = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '#') {
      ++comments;
      continue;
    }
    Report report;
    EXPECT_TRUE(line.size() == 130 && line[1] == ' ' && ParseHex(line.substr(2), report)) << line;
    if (line[0] == '>') {
      exchanges.push_back({report, std::nullopt});
    } else {
      EXPECT_EQ(line[0], '<') << line;
      EXPECT_FALSE(exchanges.empty() || exchanges.back().reply.has_value()) << "stray reply";
      if (!exchanges.empty()) exchanges.back().reply = report;
    }
  }
  return exchanges;
}

class TranscriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    lib.reset();
    transcript = ScratchFolder(QS71_TEST_TMPDIR, "transcript") / "run.txt";
    std::filesystem::remove(transcript);
  }
  void TearDown() override { lib.reset(); }

  const WriterLibrary& lib = Emulated();
  std::filesystem::path transcript;
};

// Splits the exchanges of one command into its ranges, each from its begin command.
std::vector<std::vector<const Exchange*>> Ranges(const std::vector<Exchange>& all,
                                                 uint8_t begin, uint8_t data) {
  std::vector<std::vector<const Exchange*>> ranges;
  for (const Exchange& e : all) {
    if (e.request[0] == begin) ranges.emplace_back();
    if (e.request[0] == data && !ranges.empty()) ranges.back().push_back(&e);
  }
  return ranges;
}

TEST_F(TranscriptTest, FullRunOfA256KPartCanBeCheckedFromTheWireAlone) {
  const uint32_t size = 262144;
  const std::vector<uint8_t> systemArea = FreshSystemArea(lib);
  const std::vector<uint8_t> image = ValidImage(size, systemArea, 23);
  const std::string imagePath =
      (ScratchFolder(QS71_TEST_TMPDIR, "transcript") / "image.bin").string();
  WriteFile(imagePath, image);
  Job job;
  job.blankCheck = job.write = job.verify = true;
  job.imageFile = imagePath.c_str();
  {
    ScopedEnv env("QS71_EMU_TRANSCRIPT", transcript.string());
    ASSERT_EQ(lib.Call(job).result, 0);
  }
  int comments = 0;
  const std::vector<Exchange> exchanges = ReadTranscript(transcript, comments);
  EXPECT_EQ(comments, 2);  // attached, detached

  std::map<uint8_t, int> requests;
  for (const Exchange& e : exchanges) {
    ++requests[e.request[0]];
    EXPECT_EQ(e.reply.has_value(), !IsWriteOnly(e.request[0])) << std::hex << int{e.request[0]};
    if (e.reply && e.request[0] != 0x77) {
      EXPECT_EQ((*e.reply)[0], e.request[0]);
    }
  }
  EXPECT_EQ(requests[0x74], 8192);
  EXPECT_EQ(requests[0x7A], 8176 + 8176);
  EXPECT_EQ(requests[0x70], 1);
  EXPECT_EQ(requests[0x71], 1);
  EXPECT_EQ(exchanges.front().request[0], 0x70);
  EXPECT_EQ(exchanges.front().request[4], 0x55);
  EXPECT_EQ(exchanges.front().request[5], 0x01);
  EXPECT_EQ(exchanges.back().request[0], 0x71);

  // Identify, blank check and verify each read the system area through 0xFFFE00.
  int systemAreaReads = 0;
  for (const Exchange& e : exchanges) {
    if (e.request[0] != 0x76) continue;
    ++systemAreaReads;
    EXPECT_EQ(e.request[16], 0x00);
    EXPECT_EQ(e.request[17], 0xFE);
    EXPECT_EQ(e.request[18], 0xFF);
  }
  EXPECT_EQ(systemAreaReads, 3);

  // Every data request carries its chunk at 32..63, in address order from the begin
  // address; only the last of a range has byte 8 = 0x00.
  const std::vector<uint8_t> blank(size, 0xFF);
  struct RangeCheck {
    uint8_t begin, data;
    uint32_t chunk;
    std::vector<const std::vector<uint8_t>*> expected;
  } checks[] = {
      {0x73, 0x74, 32, {&image}},
      {0x79, 0x7A, 32, {&blank, &image}},
      {0x76, 0x77, 64, {nullptr, nullptr, nullptr}},
  };
  for (const RangeCheck& check : checks) {
    const auto ranges = Ranges(exchanges, check.begin, check.data);
    ASSERT_EQ(ranges.size(), check.expected.size()) << std::hex << int{check.begin};
    for (size_t r = 0; r < ranges.size(); ++r) {
      for (size_t i = 0; i < ranges[r].size(); ++i) {
        const Report& request = ranges[r][i]->request;
        const bool last = i + 1 == ranges[r].size();
        ASSERT_EQ(request[8], last ? 0x00 : 0xFF) << std::hex << int{check.data} << " #" << i;
        if (check.expected[r] == nullptr) continue;
        ASSERT_TRUE(std::equal(request.begin() + 32, request.end(),
                               check.expected[r]->begin() + i * check.chunk))
            << std::hex << int{check.data} << " chunk " << std::dec << i;
      }
    }
  }
  EXPECT_EQ(lib.Chip(), Programmed(size, systemArea, image));
}

TEST_F(TranscriptTest, CallsAppendAndFailedReportsLeaveNoLine) {
  lib.setTranscript(transcript.string().c_str());
  ASSERT_EQ(lib.addFaults("write-fails:0x72,no-reply:0x71"), 0);
  EXPECT_EQ(lib.Call(Job{}).result, -20);
  EXPECT_EQ(lib.Call(Job{}).result, -20);
  int comments = 0;
  const std::vector<Exchange> exchanges = ReadTranscript(transcript, comments);
  EXPECT_EQ(comments, 4);
  // Per call: 0x70 with its reply, the 0x72 that never left the host is absent, and 0x71
  // went out but its reply never came.
  ASSERT_EQ(exchanges.size(), 4u);
  for (size_t call = 0; call < 2; ++call) {
    EXPECT_EQ(exchanges[2 * call].request[0], 0x70);
    EXPECT_TRUE(exchanges[2 * call].reply.has_value());
    EXPECT_EQ(exchanges[2 * call + 1].request[0], 0x71);
    EXPECT_FALSE(exchanges[2 * call + 1].reply.has_value());
  }
}

}  // namespace
}  // namespace qs71::test
