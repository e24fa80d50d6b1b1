// The one guard every CORBA servant operation of the runtime runs through.
#ifndef RTM_SRC_SERVANTGUARD_H
#define RTM_SRC_SERVANTGUARD_H

#include <cxxabi.h>
#include <omniORB4/CORBA.h>
#include <rtm/SystemLogger.h>

#include <exception>
#include <string>
#include <utility>

#include "common/LogThrottle.h"

namespace RTC {

// Minor code of the CORBA::INTERNAL raised for a C++ exception that escaped
// a servant operation.
const CORBA::ULong kServantGuardMinor = 0x50580001;  // "PX" + 1

namespace detail {

// Logs the escaped exception once per occurrence, throttled per call site
// so that a peer repeating a failing call cannot flood the log.
inline void logEscaped(const char* opName, Logger& log, LogThrottle& throttle,
                       const std::string& what) {
  std::string note;
  if (!throttle.allow(&note)) return;
  log.log(Logger::RTL_ERROR,
          std::string(opName != nullptr ? opName : "?") + ": unexpected exception: " + what + note);
}

// Called from a catch (...) handler: lets CORBA exceptions and thread
// cancellation go on unwinding, and logs any other exception.
inline void logEscapedUnlessCorba(const char* opName, Logger& log, LogThrottle& throttle) {
  try {
    throw;
  } catch (const CORBA::Exception&) {
    throw;
  } catch (abi::__forced_unwind&) {
    throw;  // thread cancellation must keep unwinding
  } catch (const std::exception& e) {
    logEscaped(opName, log, throttle, e.what());
  } catch (...) {
    logEscaped(opName, log, throttle, "unknown exception");
  }
}

}  // namespace detail

// Runs `f` for servant operation `opName`. CORBA exceptions pass through
// unchanged; any other exception is logged through `log` and becomes
// CORBA::INTERNAL, so that no C++ exception reaches the ORB.
template <class F>
auto guardServantCall(const char* opName, Logger& log, F&& f) -> decltype(f()) {
  static LogThrottle throttle;
  try {
    return std::forward<F>(f)();
  } catch (...) {
    detail::logEscapedUnlessCorba(opName, log, throttle);
  }
  throw CORBA::INTERNAL(kServantGuardMinor, CORBA::COMPLETED_MAYBE);
}

// As guardServantCall, but an escaped C++ exception is logged and answered
// with `fallback` (e.g. RTC::RTC_ERROR for lifecycle operations).
template <class R, class F>
R guardServantCallOr(const char* opName, Logger& log, R fallback, F&& f) {
  static LogThrottle throttle;
  try {
    return std::forward<F>(f)();
  } catch (...) {
    detail::logEscapedUnlessCorba(opName, log, throttle);
  }
  return fallback;
}

}  // namespace RTC

#endif
