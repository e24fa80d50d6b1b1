#include "TerminalText.h"

namespace rtmctl {

namespace {

void appendEscaped(std::string& out, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xf];
}

// Returns the length of the valid UTF-8 sequence at `at` (0 when it is not
// one) and its code point in `codePoint`.
std::size_t utf8Sequence(const std::string& text, std::size_t at, unsigned& codePoint) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  unsigned minimum = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, codePoint = lead & 0x1fu, minimum = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, codePoint = lead & 0x0fu, minimum = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, codePoint = lead & 0x07u, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xc0u) != 0x80u) return 0;
    codePoint = (codePoint << 6) | (next & 0x3fu);
  }
  const bool surrogate = codePoint >= 0xd800 && codePoint <= 0xdfff;
  if (codePoint < minimum || codePoint > 0x10ffff || surrogate) return 0;
  return length;
}

}  // namespace

std::string terminalSafe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7f) {
        appendEscaped(out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++at;
      continue;
    }
    unsigned codePoint = 0;
    const std::size_t length = utf8Sequence(text, at, codePoint);
    if (length == 0 || codePoint <= 0x9f) {
      // An invalid byte, or a C1 control (CSI is U+009B), goes out escaped.
      const std::size_t escaped = length == 0 ? 1 : length;
      for (std::size_t i = 0; i < escaped; ++i) {
        appendEscaped(out, static_cast<unsigned char>(text[at + i]));
      }
      at += escaped;
      continue;
    }
    out.append(text, at, length);
    at += length;
  }
  return out;
}

TerminalSafeBuf::~TerminalSafeBuf() { writeLine(); }

int TerminalSafeBuf::overflow(int c) {
  if (c == traits_type::eof()) return sync() == 0 ? traits_type::not_eof(c) : c;
  m_line += static_cast<char>(c);
  if (c == '\n') writeLine();
  return c;
}

int TerminalSafeBuf::sync() {
  writeLine();
  m_target.flush();
  return m_target ? 0 : -1;
}

void TerminalSafeBuf::writeLine() {
  if (m_line.empty()) return;
  m_target << terminalSafe(m_line);
  m_line.clear();
}

}  // namespace rtmctl
