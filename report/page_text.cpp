#include "page_text.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string Base64(const std::vector<uint8_t>& bytes) {
  std::string text((bytes.size() + 2) / 3 * 4, '=');
  char* out = text.data();
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3, out += 4) {
    const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out[0] = kAlphabet[v >> 18];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = kAlphabet[(v >> 6) & 63];
    out[3] = kAlphabet[v & 63];
  }
  const size_t left = bytes.size() - i;
  if (left == 0) return text;
  const uint32_t v = (uint32_t{bytes[i]} << 16) | (left == 2 ? uint32_t{bytes[i + 1]} << 8 : 0);
  out[0] = kAlphabet[v >> 18];
  out[1] = kAlphabet[(v >> 12) & 63];
  if (left == 2) out[2] = kAlphabet[(v >> 6) & 63];
  return text;
}

std::string DataUri(const char* mime, const std::vector<uint8_t>& bytes) {
  return std::string("data:") + mime + ";base64," + Base64(bytes);
}
