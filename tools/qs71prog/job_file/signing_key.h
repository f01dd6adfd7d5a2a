#pragma once
// The engineer's Ed25519 key pair, as two small text files: KEY holds the secret key and
// stays on the machine where jobs are made, KEY.pub holds the public key that stations trust.
// A key is known everywhere by its fingerprint: the first 32 hex digits of the SHA-256 of its
// 32 public bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qs71prog {

using PublicKeyBytes = std::array<uint8_t, 32>;
using Signature = std::array<uint8_t, 64>;

struct PublicKey {
  PublicKeyBytes bytes{};
  std::string fingerprint;
  std::string comment;  // who made it, and when
  std::string path;
};

// libsodium's 64 bytes: the seed, then the public key. Wiped when it goes.
struct SecretKey {
  std::array<uint8_t, 64> bytes{};
  std::string fingerprint;
  SecretKey() = default;
  SecretKey(const SecretKey&) = delete;
  SecretKey& operator=(const SecretKey&) = delete;
  ~SecretKey();
};

std::string KeyFingerprint(const PublicKeyBytes& bytes);

// Writes a new pair, path (mode 0600) and path.pub, each built beside its name and renamed
// into place. Refused when either exists: a key is never written over. comment names who made
// it. fingerprint receives the new key's.
bool MakeKeyFiles(const std::string& path, const std::string& comment, std::string& fingerprint,
                  std::string& problem);

// The key files, checked whole. option names where the file was given ("--sign",
// "--trust", "trusted key"), for the refusal, which says what the file is instead.
bool ReadSecretKey(const std::string& path, const std::string& option, SecretKey& key,
                   std::string& problem);
bool ReadPublicKey(const std::string& path, const std::string& option, PublicKey& key,
                   std::string& problem);

Signature SignBytes(const SecretKey& key, const uint8_t* data, size_t size);
bool SignatureHolds(const PublicKeyBytes& key, const uint8_t* data, size_t size,
                    const Signature& signature);


// False when libsodium cannot start (no source of randomness); problem says so.
bool CryptoReady(std::string& problem);

}  // namespace qs71prog
