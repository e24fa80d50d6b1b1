// Command-line parsing shared by every rtmctl sub-command.
#ifndef PIXMOOR_TOOLS_RTMCTL_ARGPARSER_H
#define PIXMOOR_TOOLS_RTMCTL_ARGPARSER_H

#include <map>
#include <string>
#include <vector>

namespace rtmctl {

// One option a command accepts: --name, optionally -s, with or without a value.
struct OptionDef {
  std::string name;    // long name without dashes: "property"
  char shortName = 0;  // 'p' for -p; 0 for none
  bool takesValue = false;
};

// The outcome of parsing: positional arguments and the options seen, in order.
class ParsedArgs {
 public:
  // True when --help or -h was given.
  bool help = false;
  std::vector<std::string> positional;

  // True when the option appeared at least once.
  bool has(const std::string& name) const;
  // Returns the option's last value, or `fallback` when it was not given.
  std::string value(const std::string& name, const std::string& fallback = "") const;
  // Returns every value given for the option, in command-line order.
  std::vector<std::string> values(const std::string& name) const;
  // Records a value for the option (used by the parser).
  void add(const std::string& name, const std::string& value);
  // Throws a usage error unless there are between `least` and `most` positionals.
  void requirePositionals(const std::string& command, std::size_t least, std::size_t most,
                          const std::string& what) const;

 private:
  std::map<std::string, std::vector<std::string>> m_options;
};

// Parses `args` (the words after the command name) against `options`. Accepts
// "--name value", "--name=value", "-s value", "-svalue" and "--" to end options.
// Throws a usage error naming `command` for unknown options or missing values.
ParsedArgs parseArgs(const std::string& command, const std::vector<std::string>& args,
                     const std::vector<OptionDef>& options);

}  // namespace rtmctl

#endif
