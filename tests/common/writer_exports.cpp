#include "writer_exports.h"

namespace qs71::test {

void WriterExports::FindIn(const SharedLibrary& library) {
  writer = library.Find<decltype(writer)>("Qs71UsbWriter");
  verifyRange = library.Find<decltype(verifyRange)>("Qs71UsbVerifyRange");
  listProgrammers = library.Find<decltype(listProgrammers)>("Qs71UsbListProgrammers");
  writerOn = library.Find<decltype(writerOn)>("Qs71UsbWriterOn");
  verifyRangeOn = library.Find<decltype(verifyRangeOn)>("Qs71UsbVerifyRangeOn");
  reset = library.Find<decltype(reset)>("Qs71EmuReset");
  setChipId = library.Find<decltype(setChipId)>("Qs71EmuSetChipId");
  addFaults = library.Find<decltype(addFaults)>("Qs71EmuAddFaults");
  setOtpFile = library.Find<decltype(setOtpFile)>("Qs71EmuSetOtpFile");
  setTranscript = library.Find<decltype(setTranscript)>("Qs71EmuSetTranscript");
  presetCell = library.Find<decltype(presetCell)>("Qs71EmuPresetCell");
  requestCount = library.Find<decltype(requestCount)>("Qs71EmuRequestCount");
  copyOtp = library.Find<decltype(copyOtp)>("Qs71EmuCopyOtp");
  setProgrammers = library.Find<decltype(setProgrammers)>("Qs71EmuSetProgrammers");
  insertChip = library.Find<decltype(insertChip)>("Qs71EmuInsertChip");
  removeChip = library.Find<decltype(removeChip)>("Qs71EmuRemoveChip");
}

}  // namespace qs71::test
