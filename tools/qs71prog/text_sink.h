#pragma once

#include <string>

namespace qs71prog {

// Where the displays put their text. The console in the program, a string in the tests.
class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
};

}  // namespace qs71prog
