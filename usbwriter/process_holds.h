#pragma once
// The holds Qs71UsbHold keeps for this process, by the programmer's path, until
// Qs71UsbRelease or the end of the process. Calls on different programmers come from
// different threads; every function here takes one lock.

#include <string>

namespace qs71 {

// 0 (also when this process holds it already), QS71_E_BUSY, QS71_E_HOLD or QS71_E_TRANSPORT;
// why receives the text for a person, empty on success.
int HoldForProcess(const std::string& programmer, std::string& why);
// 0, or QS71_E_ARGUMENT when this process does not hold the programmer.
int ReleaseForProcess(const std::string& programmer);

}  // namespace qs71
