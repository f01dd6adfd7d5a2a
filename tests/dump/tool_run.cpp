#include "tool_run.h"

#include <sys/wait.h>

#include <cstdlib>
#include "test_scratch.h"

namespace dumpe2e {

namespace {

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

uint32_t Le(const std::vector<uint8_t>& b, size_t pos, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[pos + static_cast<size_t>(i)];
  return v;
}

}  // namespace

ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& dir) {
  std::string command = "cd " + Quote(dir.string()) + " && " + Quote(program);
  for (const std::string& arg : args) command += " " + Quote(arg);
  const std::filesystem::path out = dir / "tool.out";
  const std::filesystem::path err = dir / "tool.err";
  command += " >" + Quote(out.string()) + " 2>" + Quote(err.string());
  const int status = std::system(command.c_str());
  ToolResult result;
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  // The shell reports a child killed by a signal as 128 + the signal number.
  result.signaled = (status != -1 && WIFSIGNALED(status)) || result.exitCode >= 128;
  result.out = ReadFileText(out);
  result.err = ReadFileText(err);
  return result;
}

std::filesystem::path CleanFolder(const std::string& name) {
  const std::filesystem::path dir = ScratchFolder(QS71_TEST_TMPDIR, name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

bool ReadWav(const std::filesystem::path& path, Wav* wav) {
  const std::vector<uint8_t> b = ReadFileBytes(path);
  if (b.size() < 44 || Le(b, 0, 4) != 0x46464952 || Le(b, 8, 4) != 0x45564157) return false;
  wav->channels = static_cast<uint16_t>(Le(b, 22, 2));
  wav->rate = Le(b, 24, 4);
  wav->bits = static_cast<uint16_t>(Le(b, 34, 2));
  const size_t size = Le(b, 40, 4);
  if (b.size() != 44 + size || (wav->bits != 8 && wav->bits != 16)) return false;
  wav->samples.clear();
  for (size_t i = 44; i < b.size(); i += wav->bits / 8) {
    wav->samples.push_back(wav->bits == 8
                               ? (b[i] - 128) * 256
                               : static_cast<int16_t>(static_cast<uint16_t>(Le(b, i, 2))));
  }
  return true;
}

std::filesystem::path FindFile(const std::filesystem::path& dir, const std::string& prefix) {
  std::filesystem::path found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) found = entry.path();
  }
  return found;
}

}  // namespace dumpe2e
