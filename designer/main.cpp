#include "driver.h"
#include "file_system.h"
#include "fit_run.h"
#include "page_notes.h"
#include "project_file.h"
#include "watch_run.h"

// qs71gen compiles, or runs a watch or a fit where its options ask for one; a compile reads its
// project and writes its page through the routes given here.
int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  const CompileRoutes routes{.watch = RunWatch,
                             .fit = RunFit,
                             .readProject = ReadProjectFile,
                             .initProject = WriteInitialProject,
                             .page = WriteCompilePage,
                             .failedPage = WriteFailedPage};
  return RunGenerator(argc, argv, stdout, stderr, &routes);
}
