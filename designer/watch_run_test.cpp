#include "watch_run.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "file_contents.h"
#include "process_runner.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

namespace fs = std::filesystem;

const char kScript[] = ".GLOBAL $FILESIZE = 40000h\n.ADPCM tone = \"tone.wav\"\n.SECTION [1] $GROUPS = tone(8000):0\n";

void WriteText(const fs::path& path, const std::string& text) {
  ASSERT_TRUE(testwav::WriteFile(path.string(), {text.begin(), text.end()}));
}

void WriteTone(const fs::path& path, double freq) {
  testwav::Signal tone;
  tone.freq = freq;
  ASSERT_TRUE(testwav::WriteFile(path.string(), testwav::EncodeWav(testwav::MakeSamples(tone, 4000, 8000), {})));
}

// The image a plain compile makes of the script and a tone of freq.
std::vector<uint8_t> PlainImage(const fs::path& folder, double freq) {
  fs::create_directories(folder);
  WriteTone(folder / "tone.wav", freq);
  WriteText(folder / "s.qs", kScript);
  const auto r = testsupport::RunProcess({QS71GEN_PATH, "s.qs", "s.bin"}, {.folder = folder});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  return ReadFileBytes(folder / "s.bin");
}

// The next status line of the watch (its standard error, which the shell turns into its output).
std::string NextStatus(testsupport::LiveProcess& watch, const char* word) {
  std::string line;
  while (watch.ReadLine(line)) {
    if (line.find(word) != std::string::npos) return line;
  }
  return "(the watch ended)";
}

// A changed wave file reaches the image, as a plain compile of it makes it; a broken script
// then leaves that image as it is; SIGTERM ends the watch with 0 and without scratch files.
TEST(WatchTest, FollowsAChangedWaveFile) {
  const fs::path root = CleanScratchFolder(QS71_TEST_TMPDIR, "watch");
  const std::vector<uint8_t> before = PlainImage(root / "plain-before", 440);
  const std::vector<uint8_t> after = PlainImage(root / "plain-after", 1250);
  ASSERT_NE(before, after);
  const fs::path folder = root / "watched";
  fs::create_directories(folder);
  WriteTone(folder / "tone.wav", 440);
  WriteText(folder / "s.qs", kScript);
  testsupport::LiveProcess watch({"sh", "-c", "exec \"$0\" --watch s.qs s.bin 2>&1 >listing.txt", QS71GEN_PATH},
                                 {.folder = folder});
  ASSERT_NE(NextStatus(watch, "compiled s.bin"), "(the watch ended)");
  EXPECT_EQ(ReadFileBytes(folder / "s.bin"), before);

  WriteTone(folder / "tone.wav", 1250);  // in place, as a sound tool saves
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(QS71_WATCH_DEADLINE_S);
  while (ReadFileBytes(folder / "s.bin") != after && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(ReadFileBytes(folder / "s.bin"), after) << "not the new sound's image within the deadline";
  EXPECT_NE(NextStatus(watch, "compiled s.bin"), "(the watch ended)");

  WriteText(folder / "s.qs", ".ADPCM tone = \n");
  EXPECT_NE(NextStatus(watch, "FAILED"), "(the watch ended)");
  EXPECT_EQ(ReadFileBytes(folder / "s.bin"), after);

  watch.Send(SIGTERM);
  EXPECT_EQ(watch.Wait(), 0);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder)) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"listing.txt", "s.bin", "s.qs", "tone.wav"}));
}

// Kills a watch that outlives the test's patience, so that a watch stuck in a system call fails
// the test instead of hanging it.
class KillAfter {
 public:
  KillAfter(pid_t pid, std::chrono::seconds patience)
      : thread_([this, pid, patience] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_.wait_for(lock, patience, [this] { return over_; })) kill(pid, SIGKILL);
        }) {}
  ~KillAfter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      over_ = true;
    }
    done_.notify_one();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool over_ = false;
  std::thread thread_;
};

// Makes path, which the watch reads, a thing no compile can read: a FIFO (which an open would
// wait on for a writer), a folder, or a device (a link to /dev/null).
enum class Odd { Fifo, Folder, Device };

void MakeOdd(const fs::path& path, Odd odd) {
  fs::remove(path);
  if (odd == Odd::Fifo) {
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  }
  if (odd == Odd::Folder) fs::create_directory(path);
  if (odd == Odd::Device) fs::create_symlink("/dev/null", path);
}

struct OddRow {
  const char* name;
  const char* input;  // the file made odd
  Odd odd;
  const char* what;
  bool fromTheStart;  // odd before the watch starts, with no project
};

void WriteInputs(const fs::path& folder, double freq) {
  WriteTone(folder / "tone.wav", freq);
  WriteText(folder / "s.qs", kScript);
  WriteText(folder / "p.toml", "script = \"s.qs\"\nimage = \"s.bin\"\n");
}

// One row: the message when the input turns odd, then the image of the mended inputs.
void WatchOddInput(const fs::path& folder, const OddRow& row, const std::vector<uint8_t>& after) {
  fs::create_directories(folder);
  WriteInputs(folder, 440);
  if (row.fromTheStart) MakeOdd(folder / row.input, row.odd);
  const char* command = row.fromTheStart ? "exec \"$0\" --watch s.qs s.bin 2>&1 >listing.txt"
                                         : "exec \"$0\" --watch --project p.toml 2>&1 >listing.txt";
  testsupport::LiveProcess watch({"sh", "-c", command, QS71GEN_PATH}, {.folder = folder});
  const KillAfter patience(watch.Pid(), std::chrono::seconds(10 * QS71_WATCH_DEADLINE_S));
  if (!row.fromTheStart) {
    ASSERT_NE(NextStatus(watch, "compiled s.bin"), "(the watch ended)");
    MakeOdd(folder / row.input, row.odd);
  }
  const std::string said = std::string(row.input) + " is " + row.what + ", not a regular file: passed over until it is one";
  ASSERT_NE(NextStatus(watch, " is ").find(said), std::string::npos);
  fs::remove_all(folder / row.input);
  WriteInputs(folder, 1250);
  ASSERT_NE(NextStatus(watch, "compiled s.bin"), "(the watch ended)");
  // That compile may have begun before the last file was written: then the next one follows.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(QS71_WATCH_DEADLINE_S);
  while (ReadFileBytes(folder / "s.bin") != after && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(ReadFileBytes(folder / "s.bin"), after);
  watch.Send(SIGTERM);
  EXPECT_EQ(watch.Wait(), 0);
}

// A script, project or wave file that is for a while no regular file is passed over with a
// message, and compiled again once it is one: the watch never waits on it.
TEST(WatchTest, PassesOverAnInputThatIsNoFile) {
  const OddRow rows[] = {
      {"script-fifo", "s.qs", Odd::Fifo, "a FIFO (named pipe)", false},
      {"script-fifo-at-start", "s.qs", Odd::Fifo, "a FIFO (named pipe)", true},
      {"script-device", "s.qs", Odd::Device, "a device", false},
      {"project-fifo", "p.toml", Odd::Fifo, "a FIFO (named pipe)", false},
      {"wave-fifo", "tone.wav", Odd::Fifo, "a FIFO (named pipe)", false},
      {"wave-folder", "tone.wav", Odd::Folder, "a folder", false},
  };
  const fs::path root = CleanScratchFolder(QS71_TEST_TMPDIR, "watch-odd");
  const std::vector<uint8_t> after = PlainImage(root / "plain-after", 1250);
  for (const OddRow& row : rows) {
    SCOPED_TRACE(row.name);
    WatchOddInput(root / row.name, row, after);
  }
}

// A port another program listens on: the system's reason, exit -2, nothing compiled.
TEST(WatchTest, ServeOnAPortInUse) {
  const fs::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "serve-port-in-use");
  WriteTone(folder / "tone.wav", 440);
  WriteText(folder / "s.qs", kScript);
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));
  const auto r = testsupport::RunProcess({QS71GEN_PATH, "--serve", port, "s.qs", "s.bin"}, {.folder = folder});
  close(listener);
  EXPECT_EQ(r.exitCode, 254);
  EXPECT_EQ(r.err, "qs71gen: cannot serve on 127.0.0.1:" + port + ": Address already in use\n");
  EXPECT_FALSE(fs::exists(folder / "s.bin"));
}

}  // namespace
