#include "ArgParser.h"

#include "CtlError.h"

namespace rtmctl {

bool ParsedArgs::has(const std::string& name) const { return m_options.count(name) != 0; }

std::string ParsedArgs::value(const std::string& name, const std::string& fallback) const {
  auto found = m_options.find(name);
  return found == m_options.end() ? fallback : found->second.back();
}

std::vector<std::string> ParsedArgs::values(const std::string& name) const {
  auto found = m_options.find(name);
  return found == m_options.end() ? std::vector<std::string>() : found->second;
}

void ParsedArgs::add(const std::string& name, const std::string& value) {
  m_options[name].push_back(value);
}

void ParsedArgs::requirePositionals(const std::string& command, std::size_t least, std::size_t most,
                                    const std::string& what) const {
  if (positional.size() < least || positional.size() > most) {
    throw usageError("'" + command + "' takes " + what + " (see rtmctl " + command + " --help)");
  }
}

namespace {

const OptionDef* findLong(const std::vector<OptionDef>& options, const std::string& name) {
  for (const OptionDef& option : options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

const OptionDef* findShort(const std::vector<OptionDef>& options, char name) {
  for (const OptionDef& option : options) {
    if (option.shortName != 0 && option.shortName == name) return &option;
  }
  return nullptr;
}

}  // namespace

ParsedArgs parseArgs(const std::string& command, const std::vector<std::string>& args,
                     const std::vector<OptionDef>& options) {
  ParsedArgs parsed;
  const std::string seeHelp = " (see rtmctl " + command + " --help)";
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    // A leading minus followed by a digit is a negative number, not an option.
    const bool negativeNumber = word.size() >= 2 && word[0] == '-' &&
                                ((word[1] >= '0' && word[1] <= '9') || word[1] == '.');
    if (optionsEnded || word.size() < 2 || word[0] != '-' || negativeNumber) {
      parsed.positional.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "--help" || word == "-h") {
      parsed.help = true;
      continue;
    }

    const OptionDef* option = nullptr;
    std::string inlineValue;
    bool hasInlineValue = false;
    if (word[1] == '-') {
      std::string name = word.substr(2);
      const std::string::size_type eq = name.find('=');
      if (eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        hasInlineValue = true;
        name.erase(eq);
      }
      option = findLong(options, name);
    } else {
      option = findShort(options, word[1]);
      if (word.size() > 2) {
        inlineValue = word.substr(2);
        hasInlineValue = true;
      }
    }
    if (option == nullptr)
      throw usageError("unknown option '" + word + "' for '" + command + "'" + seeHelp);

    if (!option->takesValue) {
      if (hasInlineValue)
        throw usageError("option --" + option->name + " takes no value" + seeHelp);
      parsed.add(option->name, "");
    } else if (hasInlineValue) {
      parsed.add(option->name, inlineValue);
    } else {
      if (i + 1 >= args.size())
        throw usageError("option --" + option->name + " needs a value" + seeHelp);
      parsed.add(option->name, args[++i]);
    }
  }
  return parsed;
}

}  // namespace rtmctl
