#include "platform/terminal.hpp"

#include <unistd.h>

#include <cstdio>

namespace tarvik {

namespace {

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\x%02x", v & 0xFF);
  return buf;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\t' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += Hex2(c);
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += "\\u00" + Hex2(static_cast<unsigned char>(text[i + 1])).substr(2);
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string ForStream(int fd, std::string_view text) {
  // Asked once per stream: a table of thousands of lines costs no call each.
  static int terminal[3] = {-1, -1, -1};
  int tty = fd >= 0 && fd < 3 ? terminal[fd] : -1;
  if (tty < 0) {
    tty = isatty(fd) ? 1 : 0;
    if (fd >= 0 && fd < 3) terminal[fd] = tty;
  }
  return tty ? EscapeControls(text) : std::string(text);
}

}  // namespace tarvik
