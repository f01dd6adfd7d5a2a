#pragma once

#include <string>

#include "text_sink.h"

namespace qs71prog {

// qs71prog's own standard output and error. They are copies of descriptors 1 and 2 taken at
// start, so that what qs71prog prints still reaches the user while descriptors 1 and 2 are
// lent to the library's capture.
class Console : public TextSink {
 public:
  Console();
  ~Console() override;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void Out(const std::string& text) override;
  void Err(const std::string& text) override;
  bool OutIsTerminal() const { return terminal; }
  int Columns() const { return columns; }

 private:
  int out;
  int err;
  bool terminal;
  int columns;
};

}  // namespace qs71prog
