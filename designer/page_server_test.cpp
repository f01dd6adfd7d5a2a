#include "page_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "file_contents.h"
#include "process_runner.h"
#include "sha256.h"
#include "test_scratch.h"
#include "wav_writer.h"

// qs71gen --serve against the attacks a designer's machine sees: another user without the token,
// a body too large to hold, connections that send nothing, a name rebound to 127.0.0.1.

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kScript[] = ".GLOBAL $FILESIZE = 40000h\n.ADPCM tone = \"tone.wav\"\n.SECTION [1] $GROUPS = tone(8000):0\n";
const char kSecret[] = "PRIVATE-SIGNING-KEY-0600";

// How long a test waits for an answer that must come: a server that never answers fails the
// test rather than hanging it.
const int kAnswerSeconds = 10 * QS71_WATCH_DEADLINE_S;

void WriteText(const fs::path& path, const std::string& text, fs::perms mode = fs::perms(0644)) {
  ASSERT_TRUE(testwav::WriteFile(path.string(), {text.begin(), text.end()}));
  fs::permissions(path, mode);
}

int FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), size);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  close(s);
  return ntohs(address.sin_port);
}

int Connect(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  timeval patience{kAnswerSeconds, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(s);
    return -1;
  }
  return s;
}

bool SendAll(int s, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(s, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string ReadToEnd(int s) {
  std::string text;
  char block[65536];
  for (ssize_t n; (n = recv(s, block, sizeof block, 0)) > 0;) text.append(block, static_cast<size_t>(n));
  return text;
}

struct Reply {
  int status = 0;
  std::string head;
  std::string body;
};

Reply Parse(const std::string& text) {
  Reply r;
  const size_t end = text.find("\r\n\r\n");
  r.head = text.substr(0, end);
  r.body = end == std::string::npos ? "" : text.substr(end + 4);
  if (text.rfind("HTTP/1.1 ", 0) == 0) r.status = std::atoi(text.c_str() + 9);
  return r;
}

// One request, sent whole; the reply as the server ends it.
Reply Exchange(int port, const std::string& request) {
  const int s = Connect(port);
  if (s < 0) return {};
  SendAll(s, request.data(), request.size());
  const std::string text = ReadToEnd(s);
  close(s);
  return Parse(text);
}

std::string Request(const std::string& method, const std::string& target, const std::string& host,
                    const std::string& cookie) {
  std::string text = method + " " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
  if (!cookie.empty()) text += "Cookie: " + cookie + "\r\n";
  return text + "\r\n";
}

// A figure of a process's memory in KiB: "VmRSS" as it is now, "VmHWM" at its peak so far.
long MemoryKiB(pid_t pid, const std::string& figure) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(figure + ":", 0) == 0) return std::atol(line.c_str() + figure.size() + 1);
  }
  return -1;
}

// qs71gen --serve on a folder that holds, beside the script and the page, what a designer keeps
// there: a signing key only its owner may read, a project, a dotfile.
class ServeTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = CleanScratchFolder(QS71_TEST_TMPDIR, "serve");
    testwav::Signal tone;
    ASSERT_TRUE(testwav::WriteFile((folder / "tone.wav").string(),
                                   testwav::EncodeWav(testwav::MakeSamples(tone, 4000, 8000), {})));
    WriteText(folder / "s.qs", kScript);
    WriteText(folder / "signing.key", kSecret, fs::perms(0600));
    WriteText(folder / "p.toml", std::string("script = \"s.qs\"\nimage = \"s.bin\"\n# ") + kSecret + "\n");
    WriteText(folder / ".profile", kSecret);
    // Others may enter the folder and read the page, as in a shared home: only the token keeps them out.
    fs::permissions(folder, fs::perms(0755));
    port = FreePort();
    const std::string command = "exec \"$0\" --serve " + std::to_string(port) +
                                " --html page.html s.qs s.bin 2>&1 >listing.txt";
    serve = std::make_unique<testsupport::LiveProcess>(std::vector<std::string>{"sh", "-c", command, QS71GEN_PATH},
                                                       testsupport::ProcessOptions{.folder = folder});
    std::string line;
    while (serve->ReadLine(line) && line.find(" compiled ") == std::string::npos) {
      const size_t at = line.find("?token=");
      if (line.find("serving the page on ") != std::string::npos && at != std::string::npos) {
        token = line.substr(at + 7, line.find(' ', at) - at - 7);
        address = line.substr(line.find("http://"), line.find(' ', at) - line.find("http://"));
      }
    }
    host = "127.0.0.1:" + std::to_string(port);
    cookie = "qs71gen-" + std::to_string(port) + "=" + token;
  }

  void TearDown() override {
    serve->Send(SIGTERM);
    EXPECT_EQ(serve->Wait(), 0);
  }

  fs::path folder;
  int port = 0;
  std::unique_ptr<testsupport::LiveProcess> serve;
  std::string token, address, host, cookie;
};

// The designer's browser: the printed address sets the cookie and leads to the page; with it the
// page and its reload endpoint are served, and nothing else, to GET and HEAD alone.
TEST_F(ServeTest, ServesThePageAndNothingElse) {
  ASSERT_EQ(token.size(), 32u) << "no token in the printed address";
  EXPECT_EQ(address, "http://" + host + "/?token=" + token);
  const Reply opened = Exchange(port, Request("GET", "/?token=" + token, host, ""));
  EXPECT_EQ(opened.status, 303);
  EXPECT_NE(opened.head.find("\r\nLocation: /\r\n"), std::string::npos) << opened.head;
  EXPECT_NE(opened.head.find("Set-Cookie: " + cookie + "; Path=/; HttpOnly; SameSite=Strict"), std::string::npos)
      << opened.head;
  struct Row {
    const char* method;
    const char* target;
    const char* host;  // null: the server's own
    bool withCookie;
    int status;
  };
  const Row rows[] = {
      {"GET", "/", nullptr, true, 200},
      {"HEAD", "/", nullptr, true, 200},
      {"GET", "/generation", nullptr, true, 200},
      {"GET", "/signing.key", nullptr, true, 404},
      {"GET", "/p.toml", nullptr, true, 404},
      {"GET", "/s.qs", nullptr, true, 404},
      {"GET", "/.profile", nullptr, true, 404},
      {"GET", "/page.html", nullptr, true, 404},
      {"GET", "/../signing.key", nullptr, true, 404},
      {"POST", "/", nullptr, true, 405},
      {"PUT", "/signing.key", nullptr, true, 405},
      {"GET", "/", "evil.example:0", true, 403},
      {"GET", "/", "127.0.0.1", true, 403},
      {"GET", "/", nullptr, false, 403},
      {"GET", "/signing.key", nullptr, false, 403},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.target + (row.withCookie ? " with the cookie" : ""));
    std::string named = row.host != nullptr ? row.host : host;
    if (named == "evil.example:0") named = "evil.example:" + std::to_string(port);
    const Reply r = Exchange(port, Request(row.method, row.target, named, row.withCookie ? cookie : ""));
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.body.find(kSecret), std::string::npos);
    if (std::string(row.target) == "/" && row.status == 200) {
      EXPECT_EQ(r.body.empty(), std::string(row.method) == "HEAD");
    }
  }
  const Reply page = Exchange(port, Request("GET", "/", host, cookie));
  EXPECT_NE(page.body.find("fetch('/generation'"), std::string::npos);
  EXPECT_EQ(Exchange(port, Request("GET", "/generation", host, cookie)).body.find_first_not_of("0123456789"),
            std::string::npos);
}

// Another user of the machine, with curl and without the token, gets a refusal for the page and
// for every file beside it.
TEST_F(ServeTest, AnotherUserGetsNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "setpriv needs root to become another user";
  for (const char* path : {"/", "/signing.key", "/p.toml", "/s.qs", "/.profile", "/page.html", "/s.bin"}) {
    SCOPED_TRACE(path);
    const auto r = testsupport::RunProcess({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "curl",
                                            "-s", "-o", "-", "-w", "\n%{http_code}", "--max-time",
                                            std::to_string(kAnswerSeconds), "http://" + host + path});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.rfind('\n') + 1), "403") << r.out;
    EXPECT_EQ(r.out.find(kSecret), std::string::npos);
  }
}

// A request body is never read: a 300 MiB POST, with the designer's cookie even, leaves the
// server's memory as it was, also at its peak while the body comes.
TEST_F(ServeTest, ALargeBodyIsNeverRead) {
  const long before = MemoryKiB(serve->Pid(), "VmRSS");
  const long peakBefore = MemoryKiB(serve->Pid(), "VmHWM");
  const long long size = 300ll << 20;
  const int s = Connect(port);
  ASSERT_GE(s, 0);
  const std::string head = "POST / HTTP/1.1\r\nHost: " + host + "\r\nCookie: " + cookie +
                           "\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
  SendAll(s, head.data(), head.size());
  const std::vector<char> block(1 << 20, 'x');
  long long sent = 0;
  while (sent < size && SendAll(s, block.data(), block.size())) sent += static_cast<long long>(block.size());
  const Reply reply = Parse(ReadToEnd(s));
  close(s);
  const long after = MemoryKiB(serve->Pid(), "VmRSS");
  const long peakAfter = MemoryKiB(serve->Pid(), "VmHWM");
  std::cout << "server resident memory " << before << " KiB before the 300 MiB POST, " << after
            << " KiB after it (peak " << peakBefore << " KiB before, " << peakAfter << " KiB after); "
            << (sent >> 20) << " MiB of it sent before the server closed\n";
  EXPECT_LT(after - before, 8 * 1024) << "KiB more";
  EXPECT_LT(peakAfter - peakBefore, 8 * 1024) << "KiB more at the peak";
  EXPECT_TRUE(reply.status == 405 || reply.status == 0) << reply.head;  // 0: reset before the answer was read
  EXPECT_EQ(Exchange(port, Request("GET", "/generation", host, cookie)).status, 200);
}

// 64 connections that send their request a byte at a time, and come back when dropped, never
// stop the page's poll of /generation.
TEST_F(ServeTest, SlowConnectionsLeaveTheReload) {
  const std::string start = "GET /generation HTTP/1.1\r\nHost: " + host + "\r\nX-Slow: ";
  std::vector<int> slow(64, -1);
  std::atomic<bool> over{false};
  std::thread trickle([&] {
    while (!over) {
      for (int& s : slow) {
        if (s >= 0 && send(s, "a", 1, MSG_NOSIGNAL) == 1) continue;
        if (s >= 0) close(s);
        s = Connect(port);
        if (s >= 0) SendAll(s, start.data(), start.size());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::vector<double> ms;
  for (int i = 0; i < 20; ++i) {
    const auto asked = Clock::now();
    const Reply r = Exchange(port, Request("GET", "/generation", host, cookie));
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
    EXPECT_EQ(r.status, 200) << "request " << i;
    if (r.status != 200) break;  // one unanswered poll is the fault; more would only wait longer
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // the page polls every 250 ms
  }
  over = true;
  trickle.join();
  for (int s : slow) close(s);
  std::sort(ms.begin(), ms.end());
  std::cout << "/generation beside 64 slow connections: median " << ms[ms.size() / 2] << " ms, worst "
            << ms.back() << " ms of " << ms.size() << "\n";
}

// Noise, whose band every lower rate or cheaper codec loses some of.
void WriteTone(const fs::path& path, int samples) {
  testwav::Signal tone;
  tone.shape = testwav::Shape::Noise;
  ASSERT_TRUE(testwav::WriteFile(path.string(), testwav::EncodeWav(testwav::MakeSamples(tone, samples, 16000), {16000, 16, 1})));
}

// What a plain fit of the script makes of a take of samples: the new script and the image.
std::pair<std::string, std::vector<uint8_t>> PlainFit(const fs::path& folder, const std::string& script, int samples) {
  fs::create_directories(folder);
  WriteTone(folder / "tone.wav", samples);
  WriteText(folder / "s.qs", script);
  const auto r = testsupport::RunProcess({QS71GEN_PATH, "--fit", "fit.qs", "s.qs", "s.bin"}, {.folder = folder});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  return {ReadFileText(folder / "fit.qs"), ReadFileBytes(folder / "s.bin")};
}

// --serve --fit: when a take grows past what the last choice leaves room for, the fit chooses
// again, as a plain fit of the new take does, and the served page is that compile's.
TEST(ServeFitTest, FitsAgainWhenATakeChanges) {
  const std::string script = ".GLOBAL $FILESIZE = 40000h\n.PCM16 tone = \"tone.wav\"\n.SECTION [1] $GROUPS = tone(16000):0\n";
  const fs::path root = CleanScratchFolder(QS71_TEST_TMPDIR, "serve-fit");
  const auto shortTake = PlainFit(root / "plain-short", script, 4000);
  const auto longTake = PlainFit(root / "plain-long", script, 16000 * 12);
  ASSERT_NE(shortTake.first, longTake.first) << "the longer take should need another choice";
  const fs::path folder = root / "served";
  fs::create_directories(folder);
  WriteTone(folder / "tone.wav", 4000);
  WriteText(folder / "s.qs", script);
  const int port = FreePort();
  const std::string command = "exec \"$0\" --serve " + std::to_string(port) + " --fit fit.qs s.qs s.bin 2>&1 >listing.txt";
  testsupport::LiveProcess serve({"sh", "-c", command, QS71GEN_PATH}, {.folder = folder});
  std::string line, token;
  while (serve.ReadLine(line) && line.find(" compiled s.bin") == std::string::npos) {
    if (line.find("?token=") != std::string::npos) token = line.substr(line.find("?token=") + 7, 32);
  }
  EXPECT_EQ(ReadFileText(folder / "fit.qs"), shortTake.first);
  EXPECT_EQ(ReadFileBytes(folder / "s.bin"), shortTake.second);
  WriteTone(folder / "tone.wav", 16000 * 12);
  const auto deadline = Clock::now() + std::chrono::seconds(kAnswerSeconds);
  while (ReadFileBytes(folder / "s.bin") != longTake.second && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(ReadFileText(folder / "fit.qs"), longTake.first);
  EXPECT_EQ(ReadFileBytes(folder / "s.bin"), longTake.second);
  // The page follows once the compile's status is out.
  while (serve.ReadLine(line) && line.find(" compiled s.bin") == std::string::npos) {
  }
  const std::string host = "127.0.0.1:" + std::to_string(port);
  const Reply page = Exchange(port, Request("GET", "/", host, "qs71gen-" + std::to_string(port) + "=" + token));
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find(Sha256Hex(longTake.second.data(), longTake.second.size())), std::string::npos);
  EXPECT_NE(ReadFileText(folder / "listing.txt").find("compiled as: qs71gen --resample fit.qs s.bin\n"), std::string::npos);
  serve.Send(SIGTERM);
  EXPECT_EQ(serve.Wait(), 0);
}

// On port 80 a browser leaves the port out of the Host header; the server still answers it. In
// a network namespace of its own, so that no other server's port 80 is touched.
TEST(ServePortTest, Port80TakesAHostWithoutPort) {
  if (geteuid() != 0) GTEST_SKIP() << "a network namespace needs root";
  const fs::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "serve-80");
  testwav::Signal tone;
  ASSERT_TRUE(testwav::WriteFile((folder / "tone.wav").string(),
                                 testwav::EncodeWav(testwav::MakeSamples(tone, 4000, 8000), {})));
  WriteText(folder / "s.qs", kScript);
  const char script[] =
      "ip link set lo up || exit 77\n"
      "\"$0\" --serve 80 s.qs s.bin 2> serve.txt > /dev/null &\n"
      "for i in $(seq 200); do grep -q ' compiled ' serve.txt && break; sleep 0.1; done\n"
      "token=$(sed -n 's/.*?token=\\([0-9a-f]*\\).*/\\1/p' serve.txt)\n"
      "for host in 127.0.0.1 localhost 127.0.0.1:80 evil.example; do\n"
      "  curl -s -o /dev/null -w \"$host %{http_code}\\n\" --max-time 10 -H \"Host: $host\" "
      "\"http://127.0.0.1/generation?token=$token\"\n"
      "done\n"
      "kill $!; wait $!\n";
  const auto r = testsupport::RunProcess({"unshare", "--net", "sh", "-c", script, QS71GEN_PATH}, {.folder = folder});
  if (r.exitCode == 77) GTEST_SKIP() << "no loopback in a new network namespace: " << r.err;
  EXPECT_EQ(r.out, "127.0.0.1 200\nlocalhost 200\n127.0.0.1:80 200\nevil.example 403\n") << r.err;
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

}  // namespace
