#pragma once

#include "qs71_usb_writer_binding.h"
#include "shared_library.h"

namespace qs71::test {

// The calls of a qs71_usb_writer the tests or the benches opened, bound by name as any host
// binds them (qs71_usb_writer_binding.h).
struct WriterExports : WriterBinding {
  void FindIn(const SharedLibrary& library);
};

}  // namespace qs71::test
