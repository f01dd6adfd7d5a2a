#include "watch_run.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
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
