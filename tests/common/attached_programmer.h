#pragma once
// A test that calls the production library goes to whatever programmer is plugged in: with one
// attached it would start that programmer's OTP test instead of finding nothing. Such a test
// asks here first and skips itself.

#include <string>

// Why the test cannot run on this machine, naming the attached 04d8:fe08 programmer; empty
// when none is attached (or there is no sysfs to ask).
std::string AttachedProgrammerWarning();
