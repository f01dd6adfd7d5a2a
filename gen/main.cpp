#include "driver.h"
#include "file_system.h"
#include "fit_run.h"
#include "watch_run.h"

// qs71gen compiles, or runs a watch or a fit where its options ask for one.
int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  const CompileRoutes routes{RunWatch, RunFit};
  return RunGenerator(argc, argv, stdout, stderr, &routes);
}
