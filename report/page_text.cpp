#include "page_text.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string Base64(const std::vector<uint8_t>& bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(v >> shift) & 63];
  }
  const size_t left = bytes.size() - i;
  if (left == 0) return text;
  const uint32_t v = (uint32_t{bytes[i]} << 16) | (left == 2 ? uint32_t{bytes[i + 1]} << 8 : 0);
  text += kAlphabet[(v >> 18) & 63];
  text += kAlphabet[(v >> 12) & 63];
  text += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
  text += '=';
  return text;
}

std::string DataUri(const char* mime, const std::vector<uint8_t>& bytes) {
  return std::string("data:") + mime + ";base64," + Base64(bytes);
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}
