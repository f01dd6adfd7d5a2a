#include "test_certificates.h"

#include <fstream>
#include <vector>

#include "process_runner.h"

namespace testsupport {

namespace {

bool Run(const std::vector<std::string>& commandLine, const std::filesystem::path& folder,
         std::string& problem) {
  const ProcessResult result = RunProcess(commandLine, {folder});
  if (result.exitCode == 0) return true;
  problem = "openssl " + commandLine[1] + " failed: " + result.err;
  return false;
}

}  // namespace

bool MakeTestCertificates(const std::filesystem::path& where, const std::string& host,
                          bool expired, TestCertificates& made, std::string& problem) {
  // Absolute: the server reads them from its data folder.
  const std::filesystem::path folder = std::filesystem::absolute(where);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "server.ext") << "subjectAltName=DNS:" << host << "\n";
  // P-256 keys: made at once, where RSA keys would take the test a second each.
  const std::vector<std::vector<std::string>> steps = {
      {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
       "-nodes", "-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj", "/CN=qs71 test CA"},
      {"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
       "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=" + host},
      // A negative count of days puts the certificate's end before its making.
      {"openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
       "-CAcreateserial", "-days", expired ? "-1" : "2", "-extfile", "server.ext", "-out",
       "server.crt"}};
  for (const auto& step : steps) {
    if (!Run(step, folder, problem)) return false;
  }
  made = {folder / "ca.crt", folder / "server.crt", folder / "server.key"};
  return true;
}

}  // namespace testsupport
