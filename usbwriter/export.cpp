// The library's entry points for hosts.
#include "qs71_usb_writer.h"

#include <string>

#include "qs71_application.h"

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

}  // namespace

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbWriter(
    int32_t* stage, int32_t* progress, int32_t* otpSize, qs71_bool blankCheck,
    double blankCheckVdd, qs71_bool write, double writeVdd, double writeVpp, qs71_bool verify,
    double verifyVdd, qs71_bool clearMarker, const char* imageFile) {
  Qs71Application* app = new Qs71Application();
  ApplySelections(*app, blankCheck, blankCheckVdd, write, writeVdd, writeVpp, verify, verifyVdd,
                  clearMarker, imageFile);
  const int result = app->Run(stage, progress, otpSize);
  delete app;
  return result;
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbVerifyRange(int32_t* otpSize,
                                                                    uint32_t start,
                                                                    uint32_t length, double vdd,
                                                                    const char* imageFile) {
  Qs71Application* app = new Qs71Application();
  app->PrintFailuresOnly();
  app->SelectRange(start, length);
  app->SetRangeVdd(vdd);
  if (imageFile != nullptr) app->SetRangeImage(imageFile);
  bool match = true;
  const int result = app->RunRangeVerify(otpSize, match);
  delete app;
  if (result != 0) return result;
  return match ? QS71_RANGE_MATCHES : QS71_RANGE_DIFFERS;
}
