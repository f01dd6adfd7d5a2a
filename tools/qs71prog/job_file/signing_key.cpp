#include "job_file/signing_key.h"

#include <sodium.h>

#include <cstdio>
#include <vector>

#include "output_writer.h"
#include "hex.h"
#include "job_file/key_places.h"
#include "sha256.h"

namespace qs71prog {

namespace {

// A key file is a few lines; anything longer is no key file.
constexpr size_t kLongestKeyFile = 4096;

enum class KeyKind { kNone, kSecret, kPublic };

struct KeyFormat {
  KeyKind kind;
  const char* firstLine;
  const char* valueKey;  // the line that holds the key's hex
  size_t bytes;
};

const KeyFormat kKeyFormats[] = {
    {KeyKind::kSecret, "qs71 ed25519 secret key 1", "secret: ", 64},
    {KeyKind::kPublic, "qs71 ed25519 public key 1", "public: ", 32},
};

const KeyFormat& FormatOf(KeyKind kind) {
  return kind == KeyKind::kSecret ? kKeyFormats[0] : kKeyFormats[1];
}

// What a key file says, before it is checked.
struct KeyText {
  KeyKind kind = KeyKind::kNone;
  std::string comment;
  std::string hex;
  ~KeyText() { sodium_memzero(hex.data(), hex.size()); }
};

std::string KeyFileText(KeyKind kind, const std::string& comment, const uint8_t* bytes) {
  const KeyFormat& format = FormatOf(kind);
  return std::string(format.firstLine) + "\ncomment: " + comment + "\n" + format.valueKey +
         HexBytes(bytes, format.bytes) + "\n";
}

bool ReadSmallFile(const std::string& path, std::string& text, std::string& problem) {
  FileKind kind = FileKind::Missing;
  FILE* file = OpenRegularFile(path.c_str(), &kind);
  if (file == nullptr) {
    problem = kind == FileKind::Missing ? "cannot be read: " + LastSystemError()
                                        : std::string("is ") + FileKindName(kind);
    return false;
  }
  text.assign(kLongestKeyFile + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) problem = "cannot be read: " + LastSystemError();
  return !failed;
}

// The lines of a key file, each taken by its start.
void ParseKeyText(const std::string& text, KeyText& key) {
  size_t start = 0;
  for (size_t line = 0; start < text.size() && text.size() <= kLongestKeyFile; ++line) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    const std::string content = text.substr(start, end - start);
    start = end + 1;
    for (const KeyFormat& format : kKeyFormats) {
      if (line == 0 && content == format.firstLine) key.kind = format.kind;
      if (line > 0 && key.kind == format.kind && content.starts_with(format.valueKey)) {
        key.hex = content.substr(std::string(format.valueKey).size());
      }
    }
    if (line > 0 && content.starts_with("comment: ")) key.comment = content.substr(9);
    if (key.kind == KeyKind::kNone) break;
  }
}

std::string WithoutPub(const std::string& path) {
  return path.ends_with(".pub") ? path.substr(0, path.size() - 4) : path;
}

// The key file of the kind wanted, or a refusal that says what the file is instead.
bool ReadKeyText(const std::string& path, const std::string& option, KeyKind wanted,
                 KeyText& key, std::string& problem) {
  std::string text;
  const std::string named = option + " " + path;
  if (!ReadSmallFile(path, text, problem)) {
    problem = named + " " + problem;
    return false;
  }
  ParseKeyText(text, key);
  sodium_memzero(text.data(), text.size());
  if (key.kind == KeyKind::kNone) {
    problem = named + " is not a qs71 key file";
  } else if (wanted == KeyKind::kSecret && key.kind == KeyKind::kPublic) {
    problem = named + " is a public key: signing needs the secret key (" + WithoutPub(path) + ")";
  } else if (wanted == KeyKind::kPublic && key.kind == KeyKind::kSecret) {
    problem = named + " is a secret key: a station trusts the public key (" + path +
              ".pub); the secret key stays where jobs are made";
  } else if (key.hex.size() != FormatOf(wanted).bytes * 2) {
    problem = named + " is a damaged key file: its key is not " +
              std::to_string(FormatOf(wanted).bytes * 2) + " hex digits";
  }
  return problem.empty();
}

bool WriteSecretFile(const std::string& path, const std::string& text, std::string& problem) {
  OutputWriter out;
  if (!out.Open(path, AtLink::kReplace, &problem)) return false;
  const bool written = MakePrivate(out.Stream(), problem) &&
                       std::fwrite(text.data(), 1, text.size(), out.Stream()) == text.size();
  if (!written) {
    if (problem.empty()) problem = LastSystemError();
    return false;
  }
  return out.Commit(&problem);
}

}  // namespace


SecretKey::~SecretKey() { sodium_memzero(bytes.data(), bytes.size()); }

bool CryptoReady(std::string& problem) {
  static const bool ready = sodium_init() >= 0;
  if (!ready) problem = "the signing library (libsodium) cannot start";
  return ready;
}

std::string KeyFingerprint(const PublicKeyBytes& bytes) {
  return Sha256Hex(bytes.data(), bytes.size()).substr(0, 32);
}

bool MakeKeyFiles(const std::string& path, const std::string& comment, std::string& fingerprint,
                  std::string& problem) {
  for (const std::string& name : {path, path + ".pub"}) {
    if (!IdentifyFile(name.c_str()).exists) continue;
    problem = name + " exists: a key is never written over";
    return false;
  }
  if (!CryptoReady(problem)) return false;
  SecretKey secret;
  PublicKeyBytes publicKey;
  crypto_sign_keypair(publicKey.data(), secret.bytes.data());
  std::string text = KeyFileText(KeyKind::kSecret, comment, secret.bytes.data());
  const bool secretWritten = WriteSecretFile(path, text, problem);
  sodium_memzero(text.data(), text.size());
  if (!secretWritten) {
    problem = "cannot write the secret key " + path + ": " + problem;
    return false;
  }
  if (!WriteOutputText(path + ".pub", KeyFileText(KeyKind::kPublic, comment, publicKey.data()),
                       &problem)) {
    std::remove(path.c_str());  // a secret key without its public half signs jobs nobody trusts
    problem = "cannot write the public key " + path + ".pub: " + problem;
    return false;
  }
  fingerprint = KeyFingerprint(publicKey);
  return true;
}

bool ReadSecretKey(const std::string& path, const std::string& option, SecretKey& key,
                   std::string& problem) {
  KeyText text;
  if (!ReadKeyText(path, option, KeyKind::kSecret, text, problem)) return false;
  if (!CryptoReady(problem)) return false;
  // The public half stored in the secret key must be the seed's: a damaged file would sign
  // jobs with a fingerprint that no station can check.
  PublicKeyBytes derived;
  SecretKey rebuilt;
  if (!ParseHexBytes(text.hex, key.bytes.data(), key.bytes.size()) ||
      crypto_sign_seed_keypair(derived.data(), rebuilt.bytes.data(), key.bytes.data()) != 0 ||
      sodium_memcmp(rebuilt.bytes.data(), key.bytes.data(), key.bytes.size()) != 0) {
    problem = option + " " + path + " is a damaged key file: its secret does not hold together";
    return false;
  }
  key.fingerprint = KeyFingerprint(derived);
  return true;
}

bool ReadPublicKey(const std::string& path, const std::string& option, PublicKey& key,
                   std::string& problem) {
  KeyText text;
  if (!ReadKeyText(path, option, KeyKind::kPublic, text, problem)) return false;
  if (!ParseHexBytes(text.hex, key.bytes.data(), key.bytes.size())) {
    problem = option + " " + path + " is a damaged key file: its key is not hex";
    return false;
  }
  key.fingerprint = KeyFingerprint(key.bytes);
  key.comment = text.comment;
  key.path = path;
  return true;
}

Signature SignBytes(const SecretKey& key, const uint8_t* data, size_t size) {
  Signature signature{};
  crypto_sign_detached(signature.data(), nullptr, data, size, key.bytes.data());
  return signature;
}

bool SignatureHolds(const PublicKeyBytes& key, const uint8_t* data, size_t size,
                    const Signature& signature) {
  return crypto_sign_verify_detached(signature.data(), data, size, key.data()) == 0;
}

}  // namespace qs71prog
