#pragma once

#include "qs71_emulator_control.h"
#include "qs71_usb_writer.h"
#include "shared_library.h"

namespace qs71::test {

// The calls of a loaded qs71_usb_writer, looked up by name as any host looks them up. Null for
// a call the build does not export: the emulator's control calls are in the emulated build
// only. One binding for the tests and the benchmarks alike.
struct WriterExports {
  Qs71UsbWriterFunction writer = nullptr;
  Qs71UsbVerifyRangeFunction verifyRange = nullptr;
  Qs71UsbListProgrammersFunction listProgrammers = nullptr;
  Qs71UsbWriterOnFunction writerOn = nullptr;
  Qs71UsbVerifyRangeOnFunction verifyRangeOn = nullptr;

  decltype(&Qs71EmuReset) reset = nullptr;
  decltype(&Qs71EmuSetChipId) setChipId = nullptr;
  decltype(&Qs71EmuAddFaults) addFaults = nullptr;
  decltype(&Qs71EmuSetOtpFile) setOtpFile = nullptr;
  decltype(&Qs71EmuSetTranscript) setTranscript = nullptr;
  decltype(&Qs71EmuPresetCell) presetCell = nullptr;
  decltype(&Qs71EmuRequestCount) requestCount = nullptr;
  decltype(&Qs71EmuCopyOtp) copyOtp = nullptr;
  decltype(&Qs71EmuSetProgrammers) setProgrammers = nullptr;
  decltype(&Qs71EmuInsertChip) insertChip = nullptr;
  decltype(&Qs71EmuRemoveChip) removeChip = nullptr;

  void FindIn(const SharedLibrary& library);
};

}  // namespace qs71::test
