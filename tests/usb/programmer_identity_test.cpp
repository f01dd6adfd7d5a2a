// A programmer is its device: the calls that name a Qs71ProgrammerIdentity reach that device
// or none, whatever the bus did to its path (another programmer plugged into it, one of the
// same serial, the node made again), and a hold is of the device, never of a path. The bus is
// the emulator's bus file, rewritten between the listing and the call as a test would pull and
// plug programmers.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "process_runner.h"
#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

class ProgrammerIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    ASSERT_NE(lib.listIdentities, nullptr);
    lib.reset();
    folder = CleanScratchFolder(QS71_TEST_TMPDIR, "identity");
    bus = (folder / "bus").string();
  }
  void TearDown() override { lib.reset(); }

  void Bus(const std::string& lines) const { std::ofstream(bus, std::ios::trunc) << lines; }

  std::vector<Qs71ProgrammerIdentity> Identities() const {
    std::vector<Qs71ProgrammerIdentity> list(8);
    const int32_t count = lib.listIdentities(list.data(), static_cast<int32_t>(list.size()));
    list.resize(count < 0 ? 0 : static_cast<size_t>(count));
    return list;
  }

  // One identification on the device named, its text kept.
  int32_t IdentifyOn(const Qs71ProgrammerIdentity& identity, std::string& text) const {
    Qs71JobRequest request{};
    request.size = sizeof request;
    request.identity = &identity;
    request.output = AppendText;
    request.context = &text;
    Qs71JobResult result{};
    result.size = sizeof result;
    return lib.job(&request, &result);
  }

  const WriterLibrary& lib = Emulated();
  std::filesystem::path folder;
  std::string bus;
};

// The listing with nodes is the listing: the same programmers in the same order, each with a
// node of its own even where two report one serial.
TEST_F(ProgrammerIdentity, TheListingGivesEachDeviceItsNode) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "3");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  Bus("3 emulated:09 SAME\n1 emulated:01 SAME\n2 emulated:02 OTHER 4\n");
  const std::vector<Qs71ProgrammerIdentity> identities = Identities();
  const std::vector<Qs71ProgrammerInfo> infos = lib.Programmers();
  ASSERT_EQ(identities.size(), 3u);
  ASSERT_EQ(infos.size(), 3u);
  const char* nodes[] = {"emulated 1", "emulated 2/4", "emulated 3"};
  for (size_t i = 0; i < identities.size(); ++i) {
    EXPECT_STREQ(identities[i].info.path, infos[i].path);
    EXPECT_STREQ(identities[i].info.serial, infos[i].serial);
    EXPECT_EQ(identities[i].info.release, infos[i].release);
    EXPECT_STREQ(identities[i].node, nodes[i]);
  }
}

// Rows: the bus when the host listed, the bus when it called, and what the call on the first
// device listed gets. A device refused sends nothing; one gone from its path is missing.
TEST_F(ProgrammerIdentity, ACallReachesTheDeviceNamedOrNone) {
  const struct {
    const char* name;
    const char* before;
    const char* after;
    int result;
    const char* says;
  } rows[] = {
      {"still there", "1 emulated:01 A\n2 emulated:02 B\n", "1 emulated:01 A\n2 emulated:02 B\n", 0,
       "OTP test started"},
      {"another programmer took its path between two polls", "1 emulated:01 A\n",
       "2 emulated:01 B\n", -64,
       "[ERROR] Programmer replaced: emulated:01 is not the device named (serial B, emulated "
       "2)! (-64)\n"},
      {"one of the same serial took its path", "1 emulated:01 X\n2 emulated:02 X\n",
       "2 emulated:01 X\n", -64,
       "[ERROR] Programmer replaced: emulated:01 is not the device named (serial X, emulated "
       "2)! (-64)\n"},
      {"its node made again at the same path", "1 emulated:01 A\n", "1 emulated:01 A 2\n", -64,
       "(serial A, emulated 1/2)! (-64)\n"},
      {"moved to another path", "1 emulated:01 A\n", "1 emulated:05 A\n", -20,
       "Failed to start OTP test!! (-20)\n"},
  };
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "2");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bus(row.before);
    const std::vector<Qs71ProgrammerIdentity> identities = Identities();
    ASSERT_FALSE(identities.empty());
    Bus(row.after);
    std::string text;
    EXPECT_EQ(IdentifyOn(identities[0], text), row.result) << text;
    EXPECT_NE(text.find(row.says), std::string::npos) << text;
    if (row.result == -64) {
      EXPECT_EQ(lib.requestCount(-1), 0u) << "a request reached the device at the path";
      char why[160] = "";
      EXPECT_EQ(lib.holdProgrammer(&identities[0], why, sizeof why), -64);
      EXPECT_NE(std::string(why).find("is not the device named"), std::string::npos) << why;
    }
  }
}

// The old calls keep naming a path: whoever is there now gets the call.
TEST_F(ProgrammerIdentity, APathStillNamesWhateverIsThere) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "2");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  Bus("2 emulated:01 B\n");
  const Outcome outcome = lib.CallOn("emulated:01", Job{});
  EXPECT_EQ(outcome.result, 0) << outcome.output;
}

// "The first programmer" is one: Qs71UsbHold(NULL) holds the one Qs71UsbRelease(NULL) lets
// go, however the bus lists them; the first by path is programmer 1 here, whose chip file
// holds it.
TEST_F(ProgrammerIdentity, HoldAndReleaseOfNoneNameOneDevice) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "2");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  ScopedEnv chip("QS71_EMU_OTP_FILE", (folder / "part.otp").string());
  Bus("2 emulated:02 B\n1 emulated:01 A\n");
  char why[128] = "x";
  EXPECT_EQ(lib.hold(nullptr, why, sizeof why), 0) << why;
  testsupport::ProcessOptions options;
  options.folder = folder;
  options.environment = {{"QS71_EMU_PROGRAMMERS", "2"}, {"QS71_EMU_BUS", bus},
                         {"QS71_EMU_OTP_FILE", (folder / "part.otp").string()}};
  testsupport::LiveProcess other({QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "hold", "emulated:01"},
                                 options);
  std::string line;
  ASSERT_TRUE(other.ReadLine(line));
  EXPECT_EQ(line.rfind("hold -62 process ", 0), 0u) << line;
  EXPECT_EQ(lib.release(nullptr), 0);
  EXPECT_EQ(lib.release(nullptr), -61);
}

// Another programmer on a held programmer's path is another device: this process does not
// hold it for having held the path, and a second process may take it first.
TEST_F(ProgrammerIdentity, AHoldIsOfTheDeviceNotItsPath) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "2");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  ScopedEnv sockets("QS71_EMU_SOCKET", (folder / "sockets").string());
  for (const char* k : {"1", "2"}) std::filesystem::create_directories(folder / "sockets" / k);
  Bus("1 emulated:01 A\n");
  const std::vector<Qs71ProgrammerIdentity> before = Identities();
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(lib.holdProgrammer(&before[0], nullptr, 0), 0);
  Bus("2 emulated:01 B\n");
  testsupport::ProcessOptions options;
  options.folder = folder;
  options.environment = {{"QS71_EMU_PROGRAMMERS", "2"}, {"QS71_EMU_BUS", bus},
                         {"QS71_EMU_SOCKET", (folder / "sockets").string()}};
  testsupport::LiveProcess other({QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "hold", "emulated:01"},
                                 options);
  std::string line;
  ASSERT_TRUE(other.ReadLine(line));
  EXPECT_EQ(line, "hold 0 ");
  char why[128] = "";
  EXPECT_EQ(lib.hold("emulated:01", why, sizeof why), -62);
  EXPECT_EQ(std::string(why), "process " + std::to_string(other.Pid()) + " (qs71_hold_helpe)");
  // The first device's hold goes with a release by its identity, gone from the bus or not.
  EXPECT_EQ(lib.releaseProgrammer(&before[0]), 0);
  EXPECT_EQ(lib.releaseProgrammer(&before[0]), -61);
}

// A careless host fills an identity's fields to the brim, without their NUL: the library reads
// no byte beyond the structure, and refuses what names no device. The structure ends where
// the page ends and the next page cannot be read, so a read past it is a crash of the call.
TEST_F(ProgrammerIdentity, AnIdentityWithoutItsNulsIsReadNoFurtherThanItsFields) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "1");
  const long page = sysconf(_SC_PAGESIZE);
  const struct {
    const char* name;
    int call;  // 0 hold, 1 release, 2 identify
  } rows[] = {{"hold", 0}, {"release", 1}, {"a job", 2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    void* pages = mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(static_cast<char*>(pages) + page, static_cast<size_t>(page), PROT_NONE), 0);
    auto* identity = reinterpret_cast<Qs71ProgrammerIdentity*>(
        static_cast<char*>(pages) + page - static_cast<long>(sizeof(Qs71ProgrammerIdentity)));
    std::memset(identity, 'A', sizeof *identity);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int32_t result = 0;
      if (row.call == 0) result = lib.holdProgrammer(identity, nullptr, 0);
      if (row.call == 1) result = lib.releaseProgrammer(identity);
      if (row.call == 2) {
        std::string text;
        result = IdentifyOn(*identity, text);
      }
      _exit(result == 0 ? 0 : 100 - result);  // 161 for -61, 164 for -64
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    munmap(pages, static_cast<size_t>(2 * page));
    EXPECT_TRUE(WIFEXITED(status)) << "the call died of signal " << WTERMSIG(status);
    if (WIFEXITED(status)) {
      EXPECT_NE(WEXITSTATUS(status), 0) << "an identity that names nothing was taken";
    }
  }
}

// A programmer whose serial is longer than the listing's field (63 bytes; a USB string may
// hold 126 characters) is listed with its serial cut. The identity the listing gave must still
// name that programmer: its calls must not all be refused as another device's.
TEST_F(ProgrammerIdentity, AProgrammerWithALongSerialIsTheOneItsListingNames) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "1");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  Bus("1 emulated:01 " + std::string(70, 'S') + "\n");
  const std::vector<Qs71ProgrammerIdentity> identities = Identities();
  ASSERT_EQ(identities.size(), 1u);
  EXPECT_EQ(std::strlen(identities[0].info.serial), 63u);
  std::string text;
  EXPECT_EQ(IdentifyOn(identities[0], text), 0) << text;
  EXPECT_EQ(lib.holdProgrammer(&identities[0], nullptr, 0), 0);
  lib.releaseProgrammer(&identities[0]);
}


// An identity that is not quite the device at its path: the same node under another serial,
// or a host that filled the identity from the plain listing and left its node empty. Neither
// names the device there, and neither call sends it anything.
TEST_F(ProgrammerIdentity, AnIdentityThatIsNotQuiteTheDeviceIsRefused) {
  const struct {
    const char* name;
    const char* after;
    bool emptyNode;
  } rows[] = {
      {"its serial changed on the same node", "1 emulated:01 B\n", false},
      {"an identity without its node", "1 emulated:01 A\n", true},
  };
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "1");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bus("1 emulated:01 A\n");
    std::vector<Qs71ProgrammerIdentity> identities = Identities();
    ASSERT_EQ(identities.size(), 1u);
    if (row.emptyNode) identities[0].node[0] = '\0';
    Bus(row.after);
    std::string text;
    EXPECT_EQ(IdentifyOn(identities[0], text), -64) << text;
    EXPECT_EQ(lib.requestCount(-1), 0u) << "a request reached the device at the path";
    EXPECT_EQ(lib.holdProgrammer(&identities[0], nullptr, 0), -64);
  }
}


// Threads of one host take the hold of one programmer at once, each running a call on it
// between its hold and the next: the process holds it once, so another process is refused
// until one release, and then takes it.
TEST_F(ProgrammerIdentity, ThreadsHoldingOneProgrammerAtOnceHoldItOnce) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "1");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  ScopedEnv chip("QS71_EMU_OTP_FILE", (folder / "part.otp").string());
  Bus("1 emulated:01 A\n");
  const std::vector<Qs71ProgrammerIdentity> identities = Identities();
  ASSERT_EQ(identities.size(), 1u);
  std::vector<int32_t> holds(8, 1);
  std::vector<int32_t> calls(8, 1);
  std::vector<std::thread> threads;
  for (size_t k = 0; k < holds.size(); ++k) {
    threads.emplace_back([&, k] {
      for (int round = 0; round < 5; ++round) {
        holds[k] = holds[k] != 0 && round > 0 ? holds[k] : lib.holdProgrammer(&identities[0], nullptr, 0);
        std::string text;
        calls[k] = calls[k] != 0 && round > 0 ? calls[k] : IdentifyOn(identities[0], text);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t k = 0; k < holds.size(); ++k) {
    EXPECT_EQ(holds[k], 0) << "thread " << k;
    EXPECT_EQ(calls[k], 0) << "thread " << k;
  }
  testsupport::ProcessOptions options;
  options.folder = folder;
  options.environment = {{"QS71_EMU_PROGRAMMERS", "1"}, {"QS71_EMU_BUS", bus},
                         {"QS71_EMU_OTP_FILE", (folder / "part.otp").string()}};
  std::string line;
  {
    testsupport::LiveProcess held({QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "hold", "emulated:01"},
                                  options);
    ASSERT_TRUE(held.ReadLine(line));
    EXPECT_EQ(line.rfind("hold -62 process ", 0), 0u) << line;
  }
  EXPECT_EQ(lib.releaseProgrammer(&identities[0]), 0);
  EXPECT_EQ(lib.releaseProgrammer(&identities[0]), -61);
  testsupport::LiveProcess free({QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "hold", "emulated:01"},
                                options);
  ASSERT_TRUE(free.ReadLine(line));
  EXPECT_EQ(line, "hold 0 ");
}


// A careless host's arguments to the identity calls: no list for a capacity, a capacity
// below zero, no identity at all. Each call returns a code and crashes nothing; each runs in
// a child, so that a crash is a failure of its row and not of the suite.
TEST_F(ProgrammerIdentity, ACarelessHostsArgumentsAreCodesNotCrashes) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "1");
  const WriterLibrary& library = lib;
  const struct {
    const char* name;
    int32_t (*call)(const WriterLibrary&);
    int32_t result;
  } rows[] = {
      // A listing that has nowhere to write counts, as one of capacity 0 does.
      {"a listing into no list", [](const WriterLibrary& l) { return l.listIdentities(nullptr, 4); }, 1},
      {"a listing of negative capacity",
       [](const WriterLibrary& l) {
         Qs71ProgrammerIdentity one{};
         return l.listIdentities(&one, -1);
       },
       1},
      {"a hold of no identity", [](const WriterLibrary& l) { return l.holdProgrammer(nullptr, nullptr, 0); }, -61},
      {"a release of no identity", [](const WriterLibrary& l) { return l.releaseProgrammer(nullptr); }, -61},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(100 - row.call(library));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the call died of signal " << WTERMSIG(status);
    EXPECT_EQ(100 - WEXITSTATUS(status), row.result);
  }
}


// A serial of characters beyond ASCII that does not fit the listing's field is cut between two
// characters: the listing is UTF-8, and half a character is none.
TEST_F(ProgrammerIdentity, ALongSerialIsCutBetweenCharacters) {
  ScopedEnv programmers("QS71_EMU_PROGRAMMERS", "1");
  ScopedEnv onBus("QS71_EMU_BUS", bus);
  std::string serial;
  for (int k = 0; k < 40; ++k) serial += "\xC3\x84";  // Ä, two bytes each
  Bus("1 emulated:01 " + serial + "\n");
  const std::vector<Qs71ProgrammerIdentity> identities = Identities();
  ASSERT_EQ(identities.size(), 1u);
  const std::string listed = identities[0].info.serial;
  EXPECT_EQ(listed.size() % 2, 0u) << "a character cut in two: " << listed.size() << " bytes";
  EXPECT_EQ(serial.rfind(listed, 0), 0u);
}

}  // namespace
}  // namespace qs71::test
