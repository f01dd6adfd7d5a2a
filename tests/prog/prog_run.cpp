#include "prog_run.h"

#include <fstream>

#include "file_contents.h"

namespace qs71prog::test {

namespace {

std::vector<std::string> ProgCommandLine(const std::vector<std::string>& arguments) {
  std::vector<std::string> commandLine = {QS71PROG_PATH};
  commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
  return commandLine;
}

}  // namespace

ProcessResult RunProg(const std::vector<std::string>& arguments, const Environment& environment) {
  return testsupport::RunProcess(ProgCommandLine(arguments), {.environment = environment});
}

ProcessResult RunProgOnTerminal(const std::vector<std::string>& arguments,
                                const Environment& environment, int columns) {
  return testsupport::RunProcess(ProgCommandLine(arguments),
                                 {.environment = environment, .terminalColumns = columns});
}

bool PartHoldsImage(const std::filesystem::path& part, const std::filesystem::path& image) {
  const std::filesystem::path taken = part.parent_path() / "out" / part.filename();
  const std::filesystem::path where = std::filesystem::exists(part) ? part : taken;
  return RunProg({"--emulate=" + where.string(), "--verify", image.string()}).exitCode == 0;
}

std::filesystem::path GeneratedImage(const std::filesystem::path& dir, const std::string& size) {
  const std::filesystem::path project = dir / "project";
  std::filesystem::create_directories(dir);
  std::filesystem::copy(QS71_EXAMPLES_DIR, project, std::filesystem::copy_options::recursive);
  if (!size.empty()) {
    std::string script = ReadFileText(project / "demo.qs");
    const std::string setting = "$FILESIZE = ";
    const size_t at = script.find(setting);
    if (at == std::string::npos) return {};
    const size_t value = at + setting.size();
    script.replace(value, script.find('h', value) + 1 - value, size);
    std::ofstream(project / "demo.qs", std::ios::binary | std::ios::trunc) << script;
  }
  const std::filesystem::path image = dir / "demo.bin";
  const std::vector<std::string> gen = {QS71GEN_PATH, "demo.qs", image.string()};
  if (testsupport::RunProcess(gen, {.folder = project}).exitCode != 0) return {};
  return image;
}

}  // namespace qs71prog::test
