// String helpers of the framework's utility library.
#ifndef COIL_STRINGUTIL_H
#define COIL_STRINGUTIL_H

#include <sstream>
#include <string>
#include <vector>

namespace coil {

// Converts `str` to a `To` by streaming it in and extracting one value:
// false for a null string or when the extraction fails. "12abc" gives 12 and
// "1.5" gives 1 for an int, as a stream does.
template <typename To>
bool stringTo(To& val, const char* str) {
  if (str == 0) return false;
  std::stringstream s;
  if ((s << str).fail()) return false;
  if ((s >> val).fail()) return false;
  return true;
}

// Strings convert whole, spaces included.
template <>
inline bool stringTo<std::string>(std::string& val, const char* str) {
  if (str == 0) return false;
  val = str;
  return true;
}

// Returns the printf-style formatted text.
std::string sprintf(char const* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Returns `str` without leading and trailing white space.
std::string eraseBothEndsBlank(const std::string& str);
// Splits at every `delim`, trimming each part; "" gives one empty part.
std::vector<std::string> split(const std::string& input, const std::string& delim);
// Returns `str` in lower case.
std::string toLower(std::string str);
// Returns whether `str` reads as yes (YES, yes, true, 1, on).
bool toBool(const std::string& str, bool def = false);

}  // namespace coil

#endif
