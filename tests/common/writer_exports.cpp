#include "writer_exports.h"

namespace qs71::test {

void WriterExports::FindIn(const SharedLibrary& library) {
  Bind([&](const char* name) { return library.Find<void (*)()>(name); });
}

}  // namespace qs71::test
