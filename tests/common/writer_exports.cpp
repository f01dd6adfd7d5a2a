#include "writer_exports.h"

namespace qs71::test {

void WriterExports::FindIn(const SharedLibrary& library) {
  BindIn(library);
}

}  // namespace qs71::test
