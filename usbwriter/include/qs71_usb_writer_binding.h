/*
 * qs71_usb_writer_binding.h - every call of a qs71_usb_writer loaded at run time, bound by
 * name, for hosts in C++ (header only). The host loads the library its own way and hands
 * Bind a function that looks an export up by name:
 *
 *   void* library = dlopen("libqs71_usb_writer.so", RTLD_NOW);
 *   qs71::WriterBinding calls;
 *   calls.Bind([&](const char* name) { return dlsym(library, name); });
 *   if (!calls.Complete()) ...            // not a qs71_usb_writer, or one too old
 *   calls.job(&request, &result);
 *
 * On Windows the lookup is GetProcAddress(module, name). A call the library does not export
 * stays null: the emulator's control calls are exported by the emulated build only.
 */
#pragma once

#include "qs71_emulator_control.h"
#include "qs71_usb_writer.h"

namespace qs71 {

struct WriterBinding {
  Qs71UsbWriterFunction writer = nullptr;
  Qs71UsbVerifyRangeFunction verifyRange = nullptr;
  Qs71UsbListProgrammersFunction listProgrammers = nullptr;
  Qs71UsbWriterOnFunction writerOn = nullptr;
  Qs71UsbVerifyRangeOnFunction verifyRangeOn = nullptr;
  Qs71UsbJobFunction job = nullptr;
  Qs71UsbCompareRangeFunction compareRange = nullptr;
  Qs71UsbHoldFunction hold = nullptr;
  Qs71UsbReleaseFunction release = nullptr;
  Qs71UsbListIdentitiesFunction listIdentities = nullptr;
  Qs71UsbHoldProgrammerFunction holdProgrammer = nullptr;
  Qs71UsbReleaseProgrammerFunction releaseProgrammer = nullptr;

  // The emulated build's control interface (qs71_emulator_control.h).
  decltype(&Qs71EmuReset) reset = nullptr;
  decltype(&Qs71EmuSetChipId) setChipId = nullptr;
  decltype(&Qs71EmuAddFaults) addFaults = nullptr;
  decltype(&Qs71EmuSetOtpFile) setOtpFile = nullptr;
  decltype(&Qs71EmuSetTranscript) setTranscript = nullptr;
  decltype(&Qs71EmuSetHardwareIds) setHardwareIds = nullptr;
  decltype(&Qs71EmuPresetCell) presetCell = nullptr;
  decltype(&Qs71EmuSetProgrammers) setProgrammers = nullptr;
  decltype(&Qs71EmuInsertChip) insertChip = nullptr;
  decltype(&Qs71EmuRemoveChip) removeChip = nullptr;
  decltype(&Qs71EmuRequestCount) requestCount = nullptr;
  decltype(&Qs71EmuCopyOtp) copyOtp = nullptr;

  // find(name) gives the export of that name as any pointer (dlsym's void*, GetProcAddress's
  // FARPROC, a function pointer), or null when there is none.
  template <typename Find>
  void Bind(Find&& find) {
    Take(find, writer, "Qs71UsbWriter");
    Take(find, verifyRange, "Qs71UsbVerifyRange");
    Take(find, listProgrammers, "Qs71UsbListProgrammers");
    Take(find, writerOn, "Qs71UsbWriterOn");
    Take(find, verifyRangeOn, "Qs71UsbVerifyRangeOn");
    Take(find, job, "Qs71UsbJob");
    Take(find, compareRange, "Qs71UsbCompareRange");
    Take(find, hold, "Qs71UsbHold");
    Take(find, release, "Qs71UsbRelease");
    Take(find, listIdentities, "Qs71UsbListIdentities");
    Take(find, holdProgrammer, "Qs71UsbHoldProgrammer");
    Take(find, releaseProgrammer, "Qs71UsbReleaseProgrammer");
    Take(find, reset, "Qs71EmuReset");
    Take(find, setChipId, "Qs71EmuSetChipId");
    Take(find, addFaults, "Qs71EmuAddFaults");
    Take(find, setOtpFile, "Qs71EmuSetOtpFile");
    Take(find, setTranscript, "Qs71EmuSetTranscript");
    Take(find, setHardwareIds, "Qs71EmuSetHardwareIds");
    Take(find, presetCell, "Qs71EmuPresetCell");
    Take(find, setProgrammers, "Qs71EmuSetProgrammers");
    Take(find, insertChip, "Qs71EmuInsertChip");
    Take(find, removeChip, "Qs71EmuRemoveChip");
    Take(find, requestCount, "Qs71EmuRequestCount");
    Take(find, copyOtp, "Qs71EmuCopyOtp");
  }

  // The same through a library object whose Find<Function>(name) looks an export up, as
  // base/shared_library.h's SharedLibrary does.
  template <typename Library>
  void BindIn(const Library& library) {
    Bind([&](const char* name) { return library.template Find<void (*)()>(name); });
  }

  // Every call of the library is bound, as in any build that holds a programmer by its
  // device.
  bool Complete() const {
    return writer && verifyRange && listProgrammers && writerOn && verifyRangeOn && job &&
           compareRange && hold && release && listIdentities && holdProgrammer &&
           releaseProgrammer;
  }
  // The emulated build: its control interface is bound.
  bool Emulated() const {
    return reset && setChipId && addFaults && setOtpFile && setTranscript && setHardwareIds &&
           presetCell && setProgrammers && insertChip && removeChip && requestCount && copyOtp;
  }

 private:
  // A loader hands every export back as one generic pointer; only the host knows its type.
  // Going through void* turns any of them into it without a cast between function types.
  template <typename Find, typename Function>
  static void Take(Find& find, Function& slot, const char* name) {
    slot = reinterpret_cast<Function>(reinterpret_cast<void*>(find(name)));
  }
};

}  // namespace qs71
