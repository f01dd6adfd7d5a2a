#pragma once
// The holds Qs71UsbHold keeps for this process, until Qs71UsbRelease or the end of the
// process, each by the node of the device held: a path whose node changed names another
// device, which this process does not hold. Calls on different programmers come from
// different threads; every function here takes one lock.

#include <string>

#include "hid_port.h"  // ProgrammerName

namespace qs71 {

// 0 (also when this process holds it already), QS71_E_BUSY, QS71_E_HOLD, QS71_E_REPLACED or
// QS71_E_TRANSPORT; why receives the text for a person, empty on success.
int HoldForProcess(const ProgrammerName& programmer, std::string& why);
// 0, or QS71_E_ARGUMENT when this process does not hold the programmer: by its node when
// named exactly, else the device at that path now or the hold taken at that path.
int ReleaseForProcess(const ProgrammerName& programmer);

}  // namespace qs71
