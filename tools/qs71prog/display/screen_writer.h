#pragma once
// The one thread that writes a production run's screen. A terminal can stop taking text for as
// long as it likes (Ctrl-S, a stalled SSH link, a full pipe to a pager); a write to it then
// blocks, and whoever makes it waits. The programmers' loops must never be that one: they hand
// the display their state and go on, and this writer alone waits on the terminal. It takes
// everything that waits at once, so that a terminal that comes back is given the tiles once,
// as they are then, and not every picture it missed.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/output_streams.h"

namespace qs71prog {

class ScreenWriter {
 public:
  // The block of tiles as it is now, and the rows it takes on the terminal.
  struct Tiles {
    std::string text;
    int rows = 0;
  };
  using DrawTiles = std::function<Tiles()>;

  // tiles is called by the writer's thread, without the writer's lock: it may take the
  // display's own. Without tiles (plain lines, JSON) the writer keeps the order of the text.
  ScreenWriter(TextSink& sink, DrawTiles tiles);
  // Writes whatever still waits, then ends the thread.
  ~ScreenWriter();
  ScreenWriter(const ScreenWriter&) = delete;
  ScreenWriter& operator=(const ScreenWriter&) = delete;

  // Text that scrolls above the tiles; without tiles, standard output.
  void Above(const std::string& text);
  // Text as it stands, after the tiles, which are not taken away again.
  void Out(const std::string& text);
  void Err(const std::string& text);
  // The tiles drawn again in place.
  void Redraw();
  // Waits until everything asked for so far has been written.
  void Flush();

 private:
  enum class Kind { kAbove, kOut, kErr };
  struct Piece {
    Kind kind;
    std::string text;
  };

  void Queue(Kind kind, const std::string& text);
  void Run();
  void Write(std::deque<Piece> pieces, bool redraw);
  void EmitTiles(std::string& out, std::string& above);

  TextSink& sink;
  DrawTiles tiles;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable written;
  std::deque<Piece> pending;
  bool redraw = false;
  bool stopping = false;
  uint64_t asked = 0;  // requests queued, and those the terminal has taken
  uint64_t done = 0;
  int drawnRows = 0;   // the writer's own: the rows of the tiles on the terminal now
  std::thread thread;
};

}  // namespace qs71prog
