#pragma once
// The library prints through std::cout; a test takes the stream's buffer for as long as this
// object lives and reads what was printed.

#include <iostream>
#include <sstream>
#include <string>

class CapturedCout {
 public:
  CapturedCout() : previous(std::cout.rdbuf(text.rdbuf())) {}
  ~CapturedCout() { std::cout.rdbuf(previous); }
  CapturedCout(const CapturedCout&) = delete;
  CapturedCout& operator=(const CapturedCout&) = delete;
  std::string Text() const { return text.str(); }

 private:
  std::ostringstream text;
  std::streambuf* previous;
};
