// The one exception type of rtmctl: a message for the user and an exit code.
#ifndef PIXMOOR_TOOLS_RTMCTL_CTLERROR_H
#define PIXMOOR_TOOLS_RTMCTL_CTLERROR_H

#include <stdexcept>
#include <string>

namespace rtmctl {

// Exit codes of the tool.
enum ExitCode {
  kExitOk = 0,
  kExitFailure = 1,  // the request was understood but could not be carried out
  kExitUsage = 2,    // the command line is wrong
};

// Raised for every failure the tool reports; main prints it and exits with its code.
class CtlError : public std::runtime_error {
 public:
  CtlError(const std::string& message, int exitCode = kExitFailure)
      : std::runtime_error(message), m_exitCode(exitCode) {}

  // Returns the exit code the tool ends with.
  int exitCode() const { return m_exitCode; }

 private:
  int m_exitCode;
};

// Shorthand for a command-line mistake.
inline CtlError usageError(const std::string& message) { return CtlError(message, kExitUsage); }

}  // namespace rtmctl

#endif
