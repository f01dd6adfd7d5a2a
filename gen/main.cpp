#include "driver.h"
#include "file_system.h"

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  return RunGenerator(argc, argv);
}
