#include "sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Vector {
  std::string input;
  size_t repeat;
  const char* digest;
};

// Published test vectors, plus lengths around the 56-byte padding boundary.
const Vector kVectors[] = {
    {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {std::string(1000000, 'a'), 1, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {std::string(1000, 'a'), 1000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

// Both ways of hashing a block: the processor's SHA instructions where it has them, and the
// portable rounds that every other machine runs.
TEST(Sha256, MatchesPublishedVectors) {
  for (bool allow : {true, false}) {
    Sha256AllowCpuInstructions(allow);
    for (const Vector& v : kVectors) {
      Sha256 sha;
      for (size_t i = 0; i < v.repeat; ++i) sha.Add(v.input.data(), v.input.size());
      EXPECT_EQ(sha.HexDigest(), v.digest)
          << v.input.substr(0, 10) << " x" << v.repeat << (allow ? "" : ", portable rounds");
    }
  }
  Sha256AllowCpuInstructions(true);
}

}  // namespace
