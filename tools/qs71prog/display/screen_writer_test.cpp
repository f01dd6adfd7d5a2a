#include "display/screen_writer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace qs71prog {
namespace {

// A terminal that stops taking text after its first write (Ctrl-S) until it is let go.
class StoppedTerminal : public TextSink {
 public:
  void Out(const std::string& text) override { Take("out:" + text); }
  void Err(const std::string& text) override { Take("err:" + text); }

  void Resume() {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = false;
    change.notify_all();
  }
  void WaitForFirstWrite() {
    std::unique_lock<std::mutex> lock(mutex);
    change.wait(lock, [&] { return !writes.empty(); });
  }
  std::vector<std::string> Writes() {
    std::lock_guard<std::mutex> lock(mutex);
    return writes;
  }

 private:
  void Take(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex);
    writes.push_back(text);
    change.notify_all();
    change.wait(lock, [&] { return !stopped || writes.size() > 1; });
  }

  std::mutex mutex;
  std::condition_variable change;
  bool stopped = true;
  std::vector<std::string> writes;
};

// While the terminal takes nothing, every caller goes on; once it takes text again it gets
// what waited in one write, the tiles drawn once, as they are then.
TEST(ScreenWriter, AStoppedTerminalDelaysOnlyThePicture) {
  StoppedTerminal terminal;
  int drawn = 0;
  {
    ScreenWriter writer(terminal, [&] {
      ++drawn;
      return ScreenWriter::Tiles{"tiles " + std::to_string(drawn) + "\n", 1};
    });
    writer.Above("first\n");
    terminal.WaitForFirstWrite();
    for (int line = 0; line < 50; ++line) {
      writer.Above("line " + std::to_string(line) + "\n");
      writer.Redraw();
    }
    terminal.Resume();
    writer.Flush();
  }
  const std::vector<std::string> writes = terminal.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], "out:first\ntiles 1\n");
  std::string waited = "out:\033[1A\r\033[J";
  for (int line = 0; line < 50; ++line) waited += "line " + std::to_string(line) + "\n";
  EXPECT_EQ(writes[1], waited + "tiles 2\n");
  EXPECT_EQ(drawn, 2);
}

// Without tiles the lines keep their order and their streams.
TEST(ScreenWriter, PlainLinesKeepTheirOrderAndStreams) {
  StoppedTerminal terminal;
  terminal.Resume();
  {
    ScreenWriter writer(terminal, {});
    writer.Above("a\n");
    writer.Err("b\n");
    writer.Out("c\n");
    writer.Redraw();
  }
  const std::vector<std::string> writes = terminal.Writes();
  std::string all;
  for (const std::string& write : writes) all += write;
  EXPECT_EQ(all, "out:a\nerr:b\nout:c\n");
}

}  // namespace
}  // namespace qs71prog
