#include "display/screen_writer.h"

#include <utility>

namespace qs71prog {

ScreenWriter::ScreenWriter(TextSink& sink, DrawTiles tiles)
    : sink(sink), tiles(std::move(tiles)), thread(&ScreenWriter::Run, this) {}

ScreenWriter::~ScreenWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  wake.notify_all();
  thread.join();
}

void ScreenWriter::Queue(Kind kind, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    pending.push_back({kind, text});
    ++asked;
  }
  wake.notify_one();
}

void ScreenWriter::Above(const std::string& text) { Queue(Kind::kAbove, text); }

void ScreenWriter::Out(const std::string& text) { Queue(Kind::kOut, text); }

void ScreenWriter::Err(const std::string& text) { Queue(Kind::kErr, text); }

void ScreenWriter::Redraw() {
  if (!tiles) return;
  {
    std::lock_guard<std::mutex> lock(mutex);
    redraw = true;
    ++asked;
  }
  wake.notify_one();
}

void ScreenWriter::Flush() {
  std::unique_lock<std::mutex> lock(mutex);
  const uint64_t target = asked;
  written.wait(lock, [&] { return done >= target; });
}

// Everything that waits is taken at once and written outside the lock: only this thread
// ever waits on the terminal.
void ScreenWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    wake.wait(lock, [&] { return stopping || redraw || !pending.empty(); });
    if (pending.empty() && !redraw && stopping) return;
    std::deque<Piece> pieces = std::exchange(pending, {});
    const bool again = std::exchange(redraw, false);
    const uint64_t taken = asked;
    lock.unlock();
    Write(std::move(pieces), again);
    lock.lock();
    done = taken;
    written.notify_all();
  }
}

// The tiles sit below everything else: taken away, the text above them written, and drawn
// again as they are now.
void ScreenWriter::EmitTiles(std::string& out, std::string& above) {
  if (drawnRows > 0) out += "\033[" + std::to_string(drawnRows) + "A\r\033[J";
  out += std::exchange(above, {});
  const Tiles now = tiles();
  out += now.text;
  drawnRows = now.rows;
}

void ScreenWriter::Write(std::deque<Piece> pieces, bool again) {
  std::string out;
  std::string above;
  for (Piece& piece : pieces) {
    if (piece.kind == Kind::kAbove) {
      (tiles ? above : out) += piece.text;
      again = again || tiles != nullptr;
      continue;
    }
    if (tiles && (again || !above.empty())) EmitTiles(out, above);
    again = false;
    if (piece.kind == Kind::kOut) {
      out += piece.text;
      drawnRows = 0;  // the tiles have scrolled up with the text; they stay there
      continue;
    }
    if (!out.empty()) sink.Out(std::exchange(out, {}));
    sink.Err(piece.text);
  }
  if (tiles && (again || !above.empty())) EmitTiles(out, above);
  if (!out.empty()) sink.Out(out);
}

}  // namespace qs71prog
