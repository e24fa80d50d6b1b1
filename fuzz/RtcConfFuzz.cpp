// rtc.conf as the manager reads it: the properties text format, the
// command line merged over the file, and the naming formats expanded
// from it.
// Input: command-line words separated by NUL bytes up to the first
// "\0\0", then the file's text.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "manager/ManagerConfig.h"

namespace {

bool blankAtAnEnd(const std::string& s) {
  static const std::string blanks = " \t\n\r\v\f";
  return !s.empty() && (blanks.find(s.front()) != std::string::npos ||
                        blanks.find(s.back()) != std::string::npos);
}

// Loads `text` and checks what any entry read from it must satisfy.
coil::Properties loadChecked(const std::string& text) {
  coil::Properties props;
  std::istringstream in(text);
  std::vector<std::string> problems;
  props.load(in, &problems);
  for (const auto& entry : props.entries()) {
    FUZZ_CHECK(!entry.first.empty(), "an empty key was stored");
    FUZZ_CHECK(!blankAtAnEnd(entry.first) && !blankAtAnEnd(entry.second), "untrimmed entry");
    FUZZ_CHECK(entry.first.find('\n') == std::string::npos, "a key spans lines");
  }
  for (const auto& problem : problems) {
    FUZZ_CHECK(problem.compare(0, 5, "line ") == 0, "a problem without its line");
  }
  return props;
}

std::string tempFile() {
  static std::string path;
  if (path.empty()) {
    char name[] = "/tmp/pixmoor-fuzz-rtcconf-XXXXXX";
    const int fd = ::mkstemp(name);
    FUZZ_CHECK(fd >= 0, "cannot make a temporary file");
    ::close(fd);
    path = name;
    std::atexit([] { std::remove(path.c_str()); });
  }
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  pixmoor_fuzz::addDefaults(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, size_t size) {
  if (size > 8192) return 0;
  const std::string all(reinterpret_cast<const char*>(input), size);
  const std::string::size_type split = all.find(std::string("\0\0", 2));
  const std::string words = split == std::string::npos ? std::string() : all.substr(0, split);
  const std::string text = split == std::string::npos ? all : all.substr(split + 2);

  // The text format: what is stored can be written and read back.
  const coil::Properties props = loadChecked(text);
  std::ostringstream stored;
  props.store(stored);
  const coil::Properties again = loadChecked(stored.str());
  // The format has no escapes: a value ending in an odd run of backslashes
  // cannot be written (see Properties::store).
  bool escapable = true;
  for (const auto& entry : props.entries()) {
    const std::string& v = entry.second;
    const size_t kept = v.find_last_not_of('\\');
    const size_t run = kept == std::string::npos ? v.size() : v.size() - kept - 1;
    if (run % 2 == 1) escapable = false;
  }
  FUZZ_CHECK(!escapable || again.entries() == props.entries(),
             "store then load changes the entries");

  // The command line over the file; -f always names the fuzzed file. It
  // comes first: a bare -p or -o takes the next word as its value, and
  // must not swallow it.
  {
    std::ofstream out(tempFile(), std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::vector<std::string> args = {"fuzz", "-f", tempFile()};
  bool optionO = false;
  std::string::size_type begin = 0;
  while (!words.empty() && begin <= words.size()) {
    std::string::size_type end = words.find('\0', begin);
    if (end == std::string::npos) end = words.size();
    const std::string word = words.substr(begin, end - begin);
    if (word.compare(0, 2, "-o") == 0) optionO = true;
    if (word.compare(0, 2, "-f") != 0) args.push_back(word);
    begin = end + 1;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  RTC::ManagerConfig config;
  config.setSearchPaths({});
  config.parseArgs(static_cast<int>(argv.size()) - 1, argv.data());
  const coil::Properties merged = config.configure();
  const coil::Properties defaults = RTC::ManagerConfig::defaults();
  for (const auto& entry : defaults.entries()) {
    FUZZ_CHECK(merged.hasKey(entry.first), "a default key went missing");
  }
  const std::string& endpoints = merged.getProperty("corba.endpoints");
  if (!optionO && props.getProperty("corba.endpoints") != endpoints) {
    // Only -p (or -o) writes over the file's value: ":PORT".
    int port = -1;
    FUZZ_CHECK(endpoints.size() > 1 && endpoints[0] == ':' &&
                   std::sscanf(endpoints.c_str() + 1, "%d", &port) == 1 && port >= 0 &&
                   port <= 65535,
               "-p set something other than a port");
  }

  // Naming formats come from the same file.
  coil::Properties comp;
  comp.setProperty("instance_name", "Pixmoor0");
  comp.setProperty("implementation_id", "Pixmoor");
  coil::Properties manager = merged;
  manager.setProperty("os.hostname", "fuzzhost");
  const std::string& format = merged.getProperty("naming.formats");
  const std::string name = RTC::formatName(format, comp, manager);
  if (format.find('%') == std::string::npos) {
    FUZZ_CHECK(name == format, "a format without % sequences changed");
  }
  return 0;
}
