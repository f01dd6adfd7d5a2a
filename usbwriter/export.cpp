// The library's entry points for hosts.
#include "qs71_usb_writer.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "process_holds.h"
#include "qs71_application.h"
#include "usb_hid.h"
#include "usb_writer.h"

static_assert(sizeof(int32_t) == sizeof(int), "the caller's cells are plain 32-bit ints");
static_assert(sizeof(qs71_bool) == sizeof(bool), "hosts pass selections as one-byte bools");

namespace {

// The first versions of the structures; a caller's size below these is refused.
constexpr uint32_t kJobRequestFirst =
    offsetof(Qs71JobRequest, cancel) + sizeof(Qs71JobRequest::cancel);
constexpr uint32_t kRangeRequestFirst =
    offsetof(Qs71RangeRequest, cancel) + sizeof(Qs71RangeRequest::cancel);
constexpr uint32_t kResultFirst = offsetof(Qs71JobResult, matched) + sizeof(qs71_bool);

// The cells a job writes while it runs: the caller's own, or those of its result.
struct JobCells {
  int32_t* stage;
  int32_t* progress;
  int32_t* otpSize;
};

void ApplySelections(Qs71Application& app, const Qs71JobRequest& request) {
  if (request.blankCheck) {
    app.SetBlankCheckVdd(request.blankCheckVdd);
    app.SelectBlankCheck();
  }
  if (request.write) {
    app.SetWriteVdd(request.writeVdd);
    app.SetWriteVpp(request.writeVpp);
    app.SetClearMarker(request.clearMarker != 0);
    app.SelectWrite();
  }
  if (request.verify) {
    app.SetVerifyVdd(request.verifyVdd);
    app.SelectVerify();
  }
}

qs71::ProgrammerName ByPath(const char* programmer) {
  qs71::ProgrammerName name;
  name.path = programmer ? programmer : "";
  return name;
}

// A host's field is read no further than its size: one without its NUL names nothing there is.
template <size_t Size>
std::string FieldText(const char (&field)[Size]) {
  return std::string(field, strnlen(field, Size));
}

qs71::ProgrammerName ByIdentity(const Qs71ProgrammerIdentity& identity) {
  qs71::ProgrammerName name;
  name.path = FieldText(identity.info.path);
  name.exact = true;
  name.node = FieldText(identity.node);
  name.serial = FieldText(identity.info.serial);
  return name;
}

// The programmer a request names: its identity where the host's structure has one, else its
// path.
template <typename Request>
qs71::ProgrammerName NamedBy(const Request& request) {
  const bool covered =
      request.size >= offsetof(Request, identity) + sizeof request.identity;
  if (covered && request.identity != nullptr) return ByIdentity(*request.identity);
  return ByPath(request.programmer);
}

const char* ImageName(const Qs71JobRequest& request) {
  const bool covered =
      request.size >= offsetof(Qs71JobRequest, imageName) + sizeof request.imageName;
  return covered ? request.imageName : nullptr;
}

// Before the job: nothing identified, nothing done. A host may already poll the cells
// that the job stores atomically, so they are stored the same way here.
void OpenResult(Qs71JobResult& result) {
  result.result = QS71_OK;
  std::memset(result.chipId, 0xFF, sizeof result.chipId);
  result.otpSize = 0;
  PublishCell(&result.stage, QS71_STAGE_IDLE);
  PublishCell(&result.progress, 0);
  PublishCell(&result.lastStep, QS71_STEP_NONE);
  result.failedStep = QS71_STEP_NONE;
  result.stepsDone = 0;
  for (double& seconds : result.seconds) seconds = 0.0;
  result.matched = 0;
}

int32_t CloseResult(const JobTrace& trace, int32_t code, bool matched, Qs71JobResult* result) {
  if (result == nullptr) return code;
  result->result = code;
  std::memcpy(result->chipId, trace.chipId, sizeof result->chipId);
  result->failedStep = trace.failedStep;
  result->stepsDone = trace.stepsDone;
  std::memcpy(result->seconds, trace.seconds, sizeof result->seconds);
  result->matched = matched ? 1 : 0;
  return code;
}

// A call refused before it starts touches no programmer and, of the result, only its code.
bool Refused(uint32_t requestSize, uint32_t firstSize, Qs71JobResult* result, bool imageMissing) {
  const bool resultFits = result != nullptr && result->size >= kResultFirst;
  if (resultFits && requestSize >= firstSize && !imageMissing) return false;
  if (result != nullptr && result->size >= offsetof(Qs71JobResult, result) + sizeof result->result) {
    result->result = QS71_E_ARGUMENT;
  }
  return true;
}

// The job's image, the file when given, else the bytes; and the host's cancel and step cells.
void TakeImageAndCells(Qs71Application& app, const std::string* file, const uint8_t* bytes,
                       uint32_t length, const char* name, const volatile int32_t* cancel,
                       Qs71JobResult* result) {
  if (file != nullptr) {
    app.SetImageFile(*file);
  } else {
    app.SetImageBytes(bytes, length, name);
  }
  app.SetCancelCell(cancel);
  if (result != nullptr) app.WatchSteps(&result->lastStep);
}

// Every job of the library: the request's image bytes, or, when file is given, the file read
// by name at each step that needs it, as the calls without a request always did.
int32_t RunJob(const Qs71JobRequest& request, const std::string* file, const JobCells& cells,
               Qs71JobResult* result) {
  Qs71Application app(NamedBy(request), request.output, request.context);
  ApplySelections(app, request);
  TakeImageAndCells(app, file, request.image, request.imageLength, ImageName(request),
                    request.cancel, result);
  const int32_t code = app.Run(cells.stage, cells.progress, cells.otpSize);
  return CloseResult(app.Trace(), code, false, result);
}

// A range compare: QS71_RANGE_MATCHES or QS71_RANGE_DIFFERS once every step went through.
int32_t RunRange(const Qs71RangeRequest& request, const std::string* file, int32_t* otpSize,
                 Qs71JobResult* result) {
  Qs71Application app(NamedBy(request), request.output, request.context);
  app.PrintFailuresOnly();
  app.SelectRange(request.start, request.length);
  app.SetRangeVdd(request.vdd);
  TakeImageAndCells(app, file, request.image, request.imageLength, nullptr, request.cancel,
                    result);
  bool match = true;
  int32_t code = app.RunRangeVerify(otpSize, match);
  if (code == 0) code = match ? QS71_RANGE_MATCHES : QS71_RANGE_DIFFERS;
  return CloseResult(app.Trace(), code, code == QS71_RANGE_MATCHES, result);
}

// The calls that name a file: a request without image bytes, and the file read at each step.
// A host that selects a write or verify without a file gets the open-failure message and -40
// from that step, instead of the crash that building a string from NULL would be.
int32_t RunFileJob(const char* programmer, Qs71OutputFunction output, void* context,
                   int32_t* stage, int32_t* progress, int32_t* otpSize, qs71_bool blankCheck,
                   double blankCheckVdd, qs71_bool write, double writeVdd, double writeVpp,
                   qs71_bool verify, double verifyVdd, qs71_bool clearMarker,
                   const char* imageFile) {
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.programmer = programmer;
  request.blankCheck = blankCheck;
  request.write = write;
  request.verify = verify;
  request.clearMarker = clearMarker;
  request.blankCheckVdd = blankCheckVdd;
  request.writeVdd = writeVdd;
  request.writeVpp = writeVpp;
  request.verifyVdd = verifyVdd;
  request.output = output;
  request.context = context;
  const std::string file = imageFile ? imageFile : "";
  return RunJob(request, &file, JobCells{stage, progress, otpSize}, nullptr);
}

int32_t RunFileRange(const char* programmer, Qs71OutputFunction output, void* context,
                     int32_t* otpSize, uint32_t start, uint32_t length, double vdd,
                     const char* imageFile) {
  Qs71RangeRequest request{};
  request.size = sizeof request;
  request.programmer = programmer;
  request.start = start;
  request.length = length;
  request.vdd = vdd;
  request.output = output;
  request.context = context;
  // NULL compares with a blank part.
  const std::string file = imageFile ? imageFile : "";
  return RunRange(request, imageFile ? &file : nullptr, otpSize, nullptr);
}

// Copies text into a field of that size, NUL-terminated; a cut never splits a UTF-8 sequence.
void CopyField(char* field, size_t size, const std::string& text) {
  const std::string cut = CutToField(text, size);
  std::memcpy(field, cut.data(), cut.size());
  field[cut.size()] = '\0';
}

// The listings: every programmer whose path fits an entry, counted; info picks an entry's
// Qs71ProgrammerInfo, more fills in what the entry has beyond it.
template <typename Entry, typename Info, typename More>
int32_t ListInto(Entry* list, int32_t capacity, Info info, More more) {
  std::vector<qs71::HidPortInfo> found;
  if (!QS71_USB_Writer::ListProgrammers(found)) return QS71_E_TRANSPORT;
  int32_t count = 0;
  for (const qs71::HidPortInfo& device : found) {
    if (device.path.size() >= sizeof(Qs71ProgrammerInfo::path)) continue;
    if (list != nullptr && count < capacity) {
      Qs71ProgrammerInfo& entry = info(list[count]);
      CopyField(entry.path, sizeof entry.path, device.path);
      CopyField(entry.serial, sizeof entry.serial, device.serial);
      entry.release = device.release;
      more(list[count], device);
    }
    ++count;
  }
  return count;
}

int32_t HoldNamed(const qs71::ProgrammerName& name, char* why, uint32_t whyCapacity) {
  std::string text;
  const int32_t code = qs71::HoldForProcess(name, text);
  if (why != nullptr && whyCapacity > 0) CopyField(why, whyCapacity, text);
  return code;
}

}  // namespace

// The programmer is the first one, and the text goes to standard output.
extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbWriter(
    int32_t* stage, int32_t* progress, int32_t* otpSize, qs71_bool blankCheck,
    double blankCheckVdd, qs71_bool write, double writeVdd, double writeVpp, qs71_bool verify,
    double verifyVdd, qs71_bool clearMarker, const char* imageFile) {
  return RunFileJob(nullptr, nullptr, nullptr, stage, progress, otpSize, blankCheck, blankCheckVdd,
                write, writeVdd, writeVpp, verify, verifyVdd, clearMarker, imageFile);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbVerifyRange(int32_t* otpSize,
                                                                    uint32_t start,
                                                                    uint32_t length, double vdd,
                                                                    const char* imageFile) {
  return RunFileRange(nullptr, nullptr, nullptr, otpSize, start, length, vdd, imageFile);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbWriterOn(
    const char* programmer, Qs71OutputFunction output, void* context, int32_t* stage,
    int32_t* progress, int32_t* otpSize, qs71_bool blankCheck, double blankCheckVdd,
    qs71_bool write, double writeVdd, double writeVpp, qs71_bool verify, double verifyVdd,
    qs71_bool clearMarker, const char* imageFile) {
  return RunFileJob(programmer, output, context, stage, progress, otpSize, blankCheck,
                blankCheckVdd, write, writeVdd, writeVpp, verify, verifyVdd, clearMarker,
                imageFile);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbVerifyRangeOn(
    const char* programmer, Qs71OutputFunction output, void* context, int32_t* otpSize,
    uint32_t start, uint32_t length, double vdd, const char* imageFile) {
  return RunFileRange(programmer, output, context, otpSize, start, length, vdd, imageFile);
}

// A device whose path does not fit the entry could not be named by it, so it is not listed.
extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbListProgrammers(Qs71ProgrammerInfo* list,
                                                                        int32_t capacity) {
  return ListInto(list, capacity, [](Qs71ProgrammerInfo& entry) -> Qs71ProgrammerInfo& {
    return entry;
  }, [](Qs71ProgrammerInfo&, const qs71::HidPortInfo&) {});
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbListIdentities(
    Qs71ProgrammerIdentity* list, int32_t capacity) {
  return ListInto(list, capacity, [](Qs71ProgrammerIdentity& entry) -> Qs71ProgrammerInfo& {
    return entry.info;
  }, [](Qs71ProgrammerIdentity& entry, const qs71::HidPortInfo& info) {
    CopyField(entry.node, sizeof entry.node, info.node);
  });
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbJob(const Qs71JobRequest* request,
                                                             Qs71JobResult* result) {
  const bool imageMissing = request != nullptr && request->size >= kJobRequestFirst &&
                            (request->write || request->verify) && request->image == nullptr;
  if (Refused(request ? request->size : 0, kJobRequestFirst, result, imageMissing)) {
    return QS71_E_ARGUMENT;
  }
  OpenResult(*result);
  return RunJob(*request, nullptr, JobCells{&result->stage, &result->progress, &result->otpSize},
                result);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbCompareRange(
    const Qs71RangeRequest* request, Qs71JobResult* result) {
  if (Refused(request ? request->size : 0, kRangeRequestFirst, result, false)) {
    return QS71_E_ARGUMENT;
  }
  OpenResult(*result);
  return RunRange(*request, nullptr, &result->otpSize, result);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbHold(const char* programmer, char* why,
                                                              uint32_t whyCapacity) {
  return HoldNamed(ByPath(programmer), why, whyCapacity);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbRelease(const char* programmer) {
  return qs71::ReleaseForProcess(ByPath(programmer));
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbHoldProgrammer(
    const Qs71ProgrammerIdentity* programmer, char* why, uint32_t whyCapacity) {
  if (programmer == nullptr) return QS71_E_ARGUMENT;
  return HoldNamed(ByIdentity(*programmer), why, whyCapacity);
}

extern "C" QS71_USB_WRITER_API int32_t QS71_CDECL Qs71UsbReleaseProgrammer(
    const Qs71ProgrammerIdentity* programmer) {
  if (programmer == nullptr) return QS71_E_ARGUMENT;
  return qs71::ReleaseForProcess(ByIdentity(*programmer));
}
