#pragma once
// Certificates for a test's TLS server, made with the openssl command in the test's own folder
// at test time: a CA of the test's own, and a server certificate it signs for one host name.
// Nothing here is trusted by anything but the connections the test points at its CA.

#include <filesystem>
#include <string>

namespace testsupport {

struct TestCertificates {
  std::filesystem::path rootCertificate;  // the CA, as sslrootcert or root.crt takes it
  std::filesystem::path certificate;      // the server's, for ssl_cert_file
  std::filesystem::path key;              // the server's, for ssl_key_file
};

// Makes them in folder for host (its one subject alternative name). expired: the server's
// certificate ended yesterday, as one a plant forgot to renew; the CA is valid either way.
bool MakeTestCertificates(const std::filesystem::path& folder, const std::string& host,
                          bool expired, TestCertificates& made, std::string& problem);

}  // namespace testsupport
