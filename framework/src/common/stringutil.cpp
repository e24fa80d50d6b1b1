#include <coil/stringutil.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

namespace coil {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::string sprintf(char const* fmt, ...) {
  if (fmt == nullptr) return std::string();
  char small[256];
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int needed = std::vsnprintf(small, sizeof(small), fmt, args);
  va_end(args);
  std::string result;
  if (needed < 0) {
    va_end(again);
    return result;
  }
  if (static_cast<size_t>(needed) < sizeof(small)) {
    result.assign(small, static_cast<size_t>(needed));
  } else {
    result.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(&result[0], result.size(), fmt, again);
    result.resize(static_cast<size_t>(needed));
  }
  va_end(again);
  return result;
}

std::string eraseBothEndsBlank(const std::string& str) {
  size_t begin = 0;
  size_t end = str.size();
  while (begin < end && isBlank(str[begin])) ++begin;
  while (end > begin && isBlank(str[end - 1])) --end;
  return str.substr(begin, end - begin);
}

std::vector<std::string> split(const std::string& input, const std::string& delim) {
  std::vector<std::string> parts;
  if (delim.empty()) {
    parts.push_back(eraseBothEndsBlank(input));
    return parts;
  }
  size_t pos = 0;
  while (true) {
    size_t found = input.find(delim, pos);
    if (found == std::string::npos) {
      parts.push_back(eraseBothEndsBlank(input.substr(pos)));
      break;
    }
    parts.push_back(eraseBothEndsBlank(input.substr(pos, found - pos)));
    pos = found + delim.size();
  }
  return parts;
}

std::string toLower(std::string str) {
  std::transform(str.begin(), str.end(), str.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return str;
}

bool toBool(const std::string& str, bool def) {
  const std::string word = toLower(eraseBothEndsBlank(str));
  if (word == "yes" || word == "true" || word == "1" || word == "on") return true;
  if (word == "no" || word == "false" || word == "0" || word == "off") return false;
  return def;
}

}  // namespace coil
