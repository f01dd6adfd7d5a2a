#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "shared_library.h"
#include "qs71_usb_writer_binding.h"

namespace qs71::test {

// What a host selects for one call.
struct Job {
  bool blankCheck = false;
  double blankCheckVdd = 5.0;
  bool write = false;
  double writeVdd = 5.5;
  double writeVpp = 6.5;
  bool verify = false;
  double verifyVdd = 5.0;
  bool clearMarker = false;
  const char* imageFile = nullptr;
};

// The same selections for Qs71UsbJob, with the image's bytes, named for the text by
// job.imageFile; the text goes to standard output.
Qs71JobRequest JobRequest(const Job& job, const std::vector<uint8_t>& image);

// What came back: the result, the three cells and everything printed.
struct Outcome {
  int result = 0;
  int32_t stage = 0;
  int32_t progress = 0;
  int32_t otpSize = 0;
  std::string output;
};

// An output function for the calls: appends the text to the std::string at context.
void QS71_CDECL AppendText(void* context, const char* text);

// One build of qs71_usb_writer, loaded by path as a host loads it.
class WriterLibrary : public WriterBinding {
 public:
  explicit WriterLibrary(const char* path);

  bool Loaded() const { return writer != nullptr; }
  const std::string& Error() const { return error; }
  // The cells start at -1 so that a cell the library leaves alone shows.
  Outcome Call(const Job& job) const;

  // The attached programmers as the library lists them.
  std::vector<Qs71ProgrammerInfo> Programmers() const;
  // Call on one programmer, its text taken by the output function (outcome.output); standard
  // output meanwhile goes to stdoutText when given.
  Outcome CallOn(const char* programmer, const Job& job, std::string* stdoutText = nullptr) const;

  // The chip as the last call left it.
  std::vector<uint8_t> Chip() const;

 private:
  SharedLibrary library;
  std::string error;
};

const WriterLibrary& Emulated();
const WriterLibrary& Production();

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();

 private:
  std::string name;
};

}  // namespace qs71::test
