// Text from components made safe for a terminal.
#ifndef PIXMOOR_TOOLS_RTMCTL_TERMINALTEXT_H
#define PIXMOOR_TOOLS_RTMCTL_TERMINALTEXT_H

#include <ostream>
#include <streambuf>
#include <string>

namespace rtmctl {

// Returns `text` with every byte a terminal could take as a command written
// as \xNN: control characters but newline and tab, DEL, C1 controls in
// UTF-8 (U+0080..U+009F) and bytes that are not valid UTF-8. Names and values
// come from components, and a hostile one could otherwise clear the screen,
// retitle the window or overwrite earlier lines.
std::string terminalSafe(const std::string& text);

// A stream buffer that passes what is written through terminalSafe, a line
// at a time, to another stream.
class TerminalSafeBuf : public std::streambuf {
 public:
  explicit TerminalSafeBuf(std::ostream& target) : m_target(target) {}
  ~TerminalSafeBuf() override;
  TerminalSafeBuf(const TerminalSafeBuf&) = delete;
  TerminalSafeBuf& operator=(const TerminalSafeBuf&) = delete;

 protected:
  int overflow(int c) override;
  int sync() override;

 private:
  void writeLine();

  std::ostream& m_target;
  std::string m_line;
};

}  // namespace rtmctl

#endif
