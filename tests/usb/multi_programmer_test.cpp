// Several programmers through the emulated library, loaded by path as a host loads it: the
// listing, jobs on two programmers from two threads at once, the sockets fed from part files,
// and the host's output function against standard output.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "captured_cout.h"
#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

constexpr uint32_t kSize = 262144;
constexpr uint32_t kStuck = 0x2345;
const std::string kEmptySocket = "[ERROR] Invalid OTP ID! (0xFF,0xFF,0xFF,0xFF)\n";

class MultiProgrammer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    ASSERT_NE(lib.writerOn, nullptr);
    lib.reset();
    systemArea = FreshSystemArea(lib);
    folder = CleanScratchFolder(QS71_TEST_TMPDIR, "multi");
  }
  void TearDown() override { lib.reset(); }

  // An image a fresh part takes, whose cell kStuck cannot be programmed into a part with
  // that cell stuck.
  std::string Image(const std::string& name, uint32_t seed) {
    std::vector<uint8_t> image = ValidImage(kSize, systemArea, seed);
    image[kStuck] = 0x00;
    images[name] = image;
    const std::string path = (folder / name).string();
    WriteFile(path, image);
    return path;
  }
  // An empty part file (a fresh part), and its faults when given.
  std::string Part(const std::filesystem::path& path, const std::string& faults = "") {
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path.string(), {});
    if (!faults.empty()) {
      WriteFile(std::filesystem::path(path).replace_extension(".faults").string(),
                std::vector<uint8_t>(faults.begin(), faults.end()));
    }
    return path.string();
  }

  const WriterLibrary& lib = Emulated();
  std::vector<uint8_t> systemArea;
  std::filesystem::path folder;
  std::map<std::string, std::vector<uint8_t>> images;
};

TEST_F(MultiProgrammer, ListsEveryProgrammerInPathOrder) {
  struct Row {
    const char* programmers;  // QS71_EMU_PROGRAMMERS
    const char* faults;
    int count;
  };
  const Row rows[] = {{"", "", 1}, {"3", "", 3}, {"12", "", 12}, {"2", "no-device", 0}};
  for (const Row& row : rows) {
    ScopedEnv programmers("QS71_EMU_PROGRAMMERS", row.programmers);
    ScopedEnv faults("QS71_EMU_FAULTS", row.faults);
    const std::vector<Qs71ProgrammerInfo> list = lib.Programmers();
    ASSERT_EQ(static_cast<int>(list.size()), row.count) << row.programmers;
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(list[i].release, 0x0101);
      EXPECT_NE(list[i].serial[0], '\0');
      if (i == 0) continue;
      EXPECT_LT(std::strcmp(list[i - 1].path, list[i].path), 0) << list[i].path;
      EXPECT_STRNE(list[i - 1].serial, list[i].serial);
    }
  }
  // A short list is filled as far as it goes, and the count is still all of them.
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "3");
  Qs71ProgrammerInfo list[2] = {};
  list[1].release = 0x4242;
  EXPECT_EQ(lib.listProgrammers(list, 1), 3);
  EXPECT_EQ(list[1].release, 0x4242);
  EXPECT_EQ(lib.listProgrammers(nullptr, 0), 3);
}

// Each programmer programs its own part at the same time as the other; every part ends up
// with its own image. Once through the calls that name a file, once through Qs71UsbJob with
// the bytes, whose polled cells a third thread reads meanwhile, as a host's display would.
TEST_F(MultiProgrammer, JobsOnTwoProgrammersAtOnceKeepTheirOwnParts) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "2");
  ScopedEnv socket("QS71_EMU_SOCKET", (folder / "tray").string());
  const std::vector<Qs71ProgrammerInfo> list = lib.Programmers();
  ASSERT_EQ(list.size(), 2u);
  const std::string files[] = {Image("one.bin", 1), Image("two.bin", 2)};
  const char* names[] = {"one.bin", "two.bin"};
  for (const bool jobCall : {false, true}) {
    SCOPED_TRACE(jobCall ? "Qs71UsbJob" : "Qs71UsbWriterOn");
    const std::string parts[] = {Part(folder / "tray" / "1" / "p.otp"),
                                 Part(folder / "tray" / "2" / "p.otp")};
    Outcome outcomes[2];
    Qs71JobResult results[2] = {};
    std::atomic<bool> running = true;
    std::vector<std::thread> threads;
    for (size_t k = 0; k < 2; ++k) {
      results[k].size = sizeof results[k];
      threads.emplace_back([&, k] {
        Job job;
        job.blankCheck = job.write = job.verify = true;
        job.imageFile = files[k].c_str();
        if (!jobCall) {
          outcomes[k] = lib.CallOn(list[k].path, job);
          return;
        }
        Qs71JobRequest request = JobRequest(job, images.at(names[k]));
        request.programmer = list[k].path;
        request.output = AppendText;
        request.context = &outcomes[k].output;
        outcomes[k].result = lib.job(&request, &results[k]);
      });
    }
    std::thread poller([&] {
      while (running.load()) {
        for (Qs71JobResult& result : results) {
          const int32_t stage = std::atomic_ref<int32_t>(result.stage).load();
          const int32_t step = std::atomic_ref<int32_t>(result.lastStep).load();
          const int32_t progress = std::atomic_ref<int32_t>(result.progress).load();
          EXPECT_TRUE(stage >= 0 && stage <= 3 && step >= 0 && step < QS71_STEP_COUNT &&
                      progress >= 0 && progress < static_cast<int32_t>(kSize));
        }
      }
    });
    for (std::thread& thread : threads) thread.join();
    running = false;
    poller.join();
    for (size_t k = 0; k < 2; ++k) {
      EXPECT_EQ(outcomes[k].result, 0) << outcomes[k].output;
      EXPECT_NE(outcomes[k].output.find("Verify OTP complete.\n"), std::string::npos);
      EXPECT_EQ(ReadFileBytes(parts[k]), Programmed(kSize, systemArea, images[names[k]])) << k;
      if (jobCall) {
        EXPECT_EQ(results[k].failedStep, QS71_STEP_NONE);
      }
    }
  }
}

// One programmer's socket over a session, as a socket on a bench: a part stays in it until it
// is taken out (its file moved away, or the control call), whatever the host does; parts come
// in name order, each written back to its own file; a restart finds the part where the last
// session left it; a part's faults; the empty socket; the control calls.
TEST_F(MultiProgrammer, SocketHoldsEachPartUntilItIsTakenOut) {
  enum Call { kIdentify, kJob, kRange, kTakeOut, kRestart, kInsert, kRemove };
  struct Row {
    Call call;
    int result;
    const char* says;  // among the call's text
  };
  const Row rows[] = {
      {kIdentify, 0, "OTP test started"},       // a.otp, fresh
      {kJob, 0, "Verify OTP complete.\n"},      // a.otp programmed
      {kRange, 0, ""},                          // a step after the job: the part stays
      {kIdentify, 0, "OTP size: 262144 bytes"}, // the host waits: a.otp is still in
      {kIdentify, 0, "OTP size: 262144 bytes"},
      {kTakeOut, 0, "OTP test started"},        // a.otp moved away: b.otp
      {kJob, -56, "[ERROR] Data NOT match!\n"}, // b.faults: a stuck cell
      {kRestart, 0, "OTP test started"},        // a new session takes up b.otp, not a.otp
      {kRemove, -50, kEmptySocket.c_str()},     // no other part file left
      {kInsert, 0, "Verify OTP complete.\n"},   // c.otp put in by the control interface
      {kIdentify, 0, "OTP test started"},
      {kRemove, -50, kEmptySocket.c_str()},
  };
  ScopedEnv socket("QS71_EMU_SOCKET", (folder / "tray").string());
  const std::string a = Part(folder / "tray" / "a.otp");
  const std::string b = Part(folder / "tray" / "b.otp", "stuck:0x2345\n");
  const std::string c = Part(folder / "c.otp");
  Part(folder / "tray" / "notes.txt");
  const std::string image = Image("image.bin", 3);
  Job job;
  job.write = job.verify = true;
  job.imageFile = image.c_str();
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    Outcome outcome;
    if (row.call == kTakeOut) std::filesystem::rename(a, folder / "a.otp");
    if (row.call == kRestart) lib.reset();
    if (row.call == kInsert) {
      ASSERT_EQ(lib.insertChip(1, c.c_str()), 0);
    }
    if (row.call == kRemove) {
      ASSERT_EQ(lib.removeChip(1), 0);
    }
    if (row.call == kRange) {
      outcome.result = lib.verifyRangeOn(nullptr, nullptr, nullptr, &outcome.otpSize, 0, kSize,
                                         5.0, image.c_str());
    } else {
      outcome = lib.CallOn("", row.call == kJob || row.call == kInsert ? job : Job{});
    }
    EXPECT_EQ(outcome.result, row.result) << "row " << i << "\n" << outcome.output;
    EXPECT_NE(outcome.output.find(row.says), std::string::npos) << "row " << i;
  }
  const std::vector<uint8_t> programmed = Programmed(kSize, systemArea, images["image.bin"]);
  EXPECT_EQ(ReadFileBytes(folder / "a.otp"), programmed);
  EXPECT_EQ(ReadFileBytes(c), programmed);
  std::vector<uint8_t> stuck = programmed;
  stuck[kStuck] = 0xFF;
  EXPECT_EQ(ReadFileBytes(b), stuck);
}

// With an operator (QS71_EMU_OPERATOR=0) a part a job ran on is taken out as soon as the host
// waits for the socket to be empty: its file goes to the folder's out/, and neither this
// session nor the next takes it again.
TEST_F(MultiProgrammer, AnOperatorTakesFinishedPartsOut) {
  ScopedEnv socket("QS71_EMU_SOCKET", (folder / "tray").string());
  ScopedEnv operatorAtTheBench("QS71_EMU_OPERATOR", "0");
  Part(folder / "tray" / "a.otp");
  const std::string b = Part(folder / "tray" / "b.otp");
  const std::string image = Image("image.bin", 5);
  Job job;
  job.write = job.verify = true;
  job.imageFile = image.c_str();
  EXPECT_EQ(lib.CallOn("", job).result, 0);
  const Outcome waiting = lib.CallOn("", Job{});
  EXPECT_EQ(waiting.result, -50) << waiting.output;
  EXPECT_EQ(ReadFileBytes(folder / "tray" / "out" / "a.otp"),
            Programmed(kSize, systemArea, images["image.bin"]));
  lib.reset();
  EXPECT_EQ(lib.CallOn("", job).result, 0);
  EXPECT_EQ(ReadFileBytes(b), Programmed(kSize, systemArea, images["image.bin"]));
}

// The output function gets exactly what standard output would, and standard output nothing.
TEST_F(MultiProgrammer, OutputFunctionGetsWhatStandardOutputWould) {
  const std::string image = Image("image.bin", 4);
  struct Row {
    const char* name;
    const char* faults;
    const char* programmer;
    bool write;
    const char* printedAs;  // the faults that make Qs71UsbWriter print the same
  };
  const Row rows[] = {
      {"a job that goes well", "", nullptr, true, ""},
      {"a failing step", "stuck:0x2345", nullptr, true, "stuck:0x2345"},
      {"no programmer", "no-device", nullptr, false, "no-device"},
      {"a programmer not attached", "", "emulated:02", false, "no-device"},
      {"the first programmer by path", "", "emulated:01", false, ""},
  };
  for (const Row& row : rows) {
    Job job;
    job.blankCheck = true;
    job.write = job.verify = row.write;
    job.imageFile = image.c_str();
    Outcome printed;
    {
      ScopedEnv faults("QS71_EMU_FAULTS", row.printedAs);
      printed = lib.Call(job);
    }
    ScopedEnv faults("QS71_EMU_FAULTS", row.faults);
    std::string stdoutText = "unset";
    const Outcome given = lib.CallOn(row.programmer, job, &stdoutText);
    EXPECT_EQ(given.result, printed.result) << row.name;
    EXPECT_EQ(given.output, printed.output) << row.name;
    EXPECT_EQ(stdoutText, "") << row.name;
    EXPECT_NE(given.output, "") << row.name;
  }
}

}  // namespace
}  // namespace qs71::test
