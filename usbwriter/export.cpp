// The library's entry points for hosts.
#include "qs71_usb_writer.h"

#include <cstring>
#include <string>
#include <vector>

#include "qs71_application.h"
#include "usb_writer.h"

static_assert(sizeof(int32_t) == sizeof(int), "the caller's cells are plain 32-bit ints");
static_assert(sizeof(qs71_bool) == sizeof(bool), "hosts pass selections as one-byte bools");

namespace {

// A host that selects a write or verify without a file gets the open-failure message and
// -40 from that step, instead of the crash that building a string from NULL would be.
std::string ImageName(const char* imageFile) { return imageFile ? imageFile : ""; }

void ApplySelections(Qs71Application& app, qs71_bool blankCheck, double blankCheckVdd,
                     qs71_bool write, double writeVdd, double writeVpp, qs71_bool verify,
                     double verifyVdd, qs71_bool clearMarker, const char* imageFile) {
  if (blankCheck) {
    app.SetBlankCheckVdd(blankCheckVdd);
    app.SelectBlankCheck();
  }
  if (write) {
    app.SetWriteVdd(writeVdd);
    app.SetWriteVpp(writeVpp);
    app.SetClearMarker(clearMarker != 0);
    app.SelectWrite(ImageName(imageFile));
  }
  if (verify) {
    app.SetVerifyVdd(verifyVdd);
    app.SelectVerify(ImageName(imageFile));
  }
}

std::string ProgrammerPath(const char* programmer) { return programmer ? programmer : ""; }

int32_t RunJob(const char* programmer, Qs71OutputFunction output, void* context,
               int32_t* stage, int32_t* progress, int32_t* otpSize, qs71_bool blankCheck,
               double blankCheckVdd, qs71_bool write, double writeVdd, double writeVpp,
               qs71_bool verify, double verifyVdd, qs71_bool clearMarker,
               const char* imageFile) {
  Qs71Application app(ProgrammerPath(programmer), output, context);
  ApplySelections(app, blankCheck, blankCheckVdd, write, writeVdd, writeVpp, verify, verifyVdd,
                  clearMarker, imageFile);
  return app.Run(stage, progress, otpSize);
}

int32_t RunRange(const char* programmer, Qs71OutputFunction output, void* context,
                 int32_t* otpSize, uint32_t start, uint32_t length, double vdd,
                 const char* imageFile) {
  Qs71Application app(ProgrammerPath(programmer), output, context);
  app.PrintFailuresOnly();
  app.SelectRange(start, length);
  app.SetRangeVdd(vdd);
  if (imageFile != nullptr) app.SetRangeImage(imageFile);
  bool match = true;
  const int result = app.RunRangeVerify(otpSize, match);
  if (result != 0) return result;
  return match ? QS71_RANGE_MATCHES : QS71_RANGE_DIFFERS;
}

// Copies text into a field of that size, NUL-terminated; a cut never splits a UTF-8 sequence.
void CopyField(char* field, size_t size, const std::string& text) {
  size_t length = text.size() < size ? text.size() : size - 1;
  while (length < text.size() && length > 0 &&
         (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
    --length;
  }
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

}  // namespace

// The programmer is the first one found, and the text goes to standard output.
extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbWriter(
    int32_t* stage, int32_t* progress, int32_t* otpSize, qs71_bool blankCheck,
    double blankCheckVdd, qs71_bool write, double writeVdd, double writeVpp, qs71_bool verify,
    double verifyVdd, qs71_bool clearMarker, const char* imageFile) {
  return RunJob(nullptr, nullptr, nullptr, stage, progress, otpSize, blankCheck, blankCheckVdd,
                write, writeVdd, writeVpp, verify, verifyVdd, clearMarker, imageFile);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbVerifyRange(int32_t* otpSize,
                                                                    uint32_t start,
                                                                    uint32_t length, double vdd,
                                                                    const char* imageFile) {
  return RunRange(nullptr, nullptr, nullptr, otpSize, start, length, vdd, imageFile);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbWriterOn(
    const char* programmer, Qs71OutputFunction output, void* context, int32_t* stage,
    int32_t* progress, int32_t* otpSize, qs71_bool blankCheck, double blankCheckVdd,
    qs71_bool write, double writeVdd, double writeVpp, qs71_bool verify, double verifyVdd,
    qs71_bool clearMarker, const char* imageFile) {
  return RunJob(programmer, output, context, stage, progress, otpSize, blankCheck,
                blankCheckVdd, write, writeVdd, writeVpp, verify, verifyVdd, clearMarker,
                imageFile);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbVerifyRangeOn(
    const char* programmer, Qs71OutputFunction output, void* context, int32_t* otpSize,
    uint32_t start, uint32_t length, double vdd, const char* imageFile) {
  return RunRange(programmer, output, context, otpSize, start, length, vdd, imageFile);
}

// A device whose path does not fit the entry could not be named by it, so it is not listed.
extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbListProgrammers(Qs71ProgrammerInfo* list,
                                                                        int32_t capacity) {
  std::vector<qs71::HidPortInfo> found;
  if (!QS71_USB_Writer::ListProgrammers(found)) return QS71_E_TRANSPORT;
  int32_t count = 0;
  for (const qs71::HidPortInfo& info : found) {
    if (info.path.size() >= sizeof list->path) continue;
    if (list != nullptr && count < capacity) {
      Qs71ProgrammerInfo& entry = list[count];
      CopyField(entry.path, sizeof entry.path, info.path);
      CopyField(entry.serial, sizeof entry.serial, info.serial);
      entry.release = info.release;
    }
    ++count;
  }
  return count;
}
