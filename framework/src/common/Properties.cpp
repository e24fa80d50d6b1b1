#include <coil/Properties.h>
#include <coil/stringutil.h>

#include <istream>
#include <ostream>

namespace coil {

namespace {

const std::string& emptyString() {
  static const std::string empty;
  return empty;
}

// Returns whether `line` ends with an odd number of backslashes: an even run
// is a run of escaped backslashes, not a continuation.
bool endsWithContinuation(const std::string& line) {
  size_t count = 0;
  for (size_t i = line.size(); i > 0 && line[i - 1] == '\\'; --i) ++count;
  return count % 2 == 1;
}

}  // namespace

Properties::Properties() {}

Properties::Properties(const char* defaults[], long num) {
  if (defaults == nullptr) return;
  for (long i = 0; i < num; i += 2) {
    if (defaults[i] == nullptr || defaults[i][0] == '\0') break;
    std::string key = eraseBothEndsBlank(defaults[i]);
    // An odd-length array leaves the last key without a value.
    const char* value = (i + 1 < num) ? defaults[i + 1] : nullptr;
    setProperty(key, value != nullptr ? eraseBothEndsBlank(value) : std::string());
    if (value == nullptr) break;
  }
}

const std::string& Properties::getProperty(const std::string& key) const {
  return getProperty(key, emptyString());
}

const std::string& Properties::getProperty(const std::string& key, const std::string& def) const {
  for (const auto& entry : m_entries) {
    if (entry.first == key) return entry.second;
  }
  return def;
}

std::string Properties::setProperty(const std::string& key, const std::string& value) {
  for (auto& entry : m_entries) {
    if (entry.first == key) {
      std::string previous = entry.second;
      entry.second = value;
      return previous;
    }
  }
  m_entries.emplace_back(key, value);
  return std::string();
}

std::string& Properties::operator[](const std::string& key) {
  for (auto& entry : m_entries) {
    if (entry.first == key) return entry.second;
  }
  m_entries.emplace_back(key, std::string());
  return m_entries.back().second;
}

bool Properties::hasKey(const std::string& key) const {
  for (const auto& entry : m_entries) {
    if (entry.first == key) return true;
  }
  return false;
}

bool Properties::removeProperty(const std::string& key) {
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (it->first == key) {
      m_entries.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<std::string> Properties::propertyNames() const {
  std::vector<std::string> names;
  names.reserve(m_entries.size());
  for (const auto& entry : m_entries) names.push_back(entry.first);
  return names;
}

size_t Properties::size() const { return m_entries.size(); }

bool Properties::empty() const { return m_entries.empty(); }

Properties Properties::getNode(const std::string& prefix) const {
  Properties node;
  if (prefix.empty()) {
    node.m_entries = m_entries;
    return node;
  }
  const std::string head = prefix + ".";
  for (const auto& entry : m_entries) {
    if (entry.first.size() > head.size() && entry.first.compare(0, head.size(), head) == 0) {
      node.m_entries.emplace_back(entry.first.substr(head.size()), entry.second);
    }
  }
  return node;
}

std::vector<std::string> Properties::childNames(const std::string& prefix) const {
  std::vector<std::string> names;
  const std::string head = prefix.empty() ? std::string() : prefix + ".";
  for (const auto& entry : m_entries) {
    const std::string& key = entry.first;
    if (key.size() <= head.size() || key.compare(0, head.size(), head) != 0) continue;
    size_t dot = key.find('.', head.size());
    std::string child =
        key.substr(head.size(), dot == std::string::npos ? std::string::npos : dot - head.size());
    if (child.empty()) continue;
    bool seen = false;
    for (const auto& name : names) {
      if (name == child) {
        seen = true;
        break;
      }
    }
    if (!seen) names.push_back(child);
  }
  return names;
}

Properties& Properties::operator<<(const Properties& other) {
  if (&other == this) return *this;
  for (const auto& entry : other.m_entries) setProperty(entry.first, entry.second);
  return *this;
}

void Properties::load(std::istream& in) { load(in, nullptr); }

void Properties::load(std::istream& in, std::vector<std::string>* problems) {
  // Stores one logical line (continuations joined) or reports it.
  auto addEntry = [this, problems](const std::string& logical, int startLine) {
    size_t sep = logical.find_first_of(":=");
    std::string key =
        sep == std::string::npos ? std::string() : eraseBothEndsBlank(logical.substr(0, sep));
    if (key.empty()) {
      if (problems != nullptr) {
        problems->push_back("line " + std::to_string(startLine) + ": " +
                            (sep == std::string::npos ? "no ':' or '=' in '" : "empty key in '") +
                            logical + "'; line skipped");
      }
      return;
    }
    setProperty(key, eraseBothEndsBlank(logical.substr(sep + 1)));
  };

  std::string raw;
  std::string logical;
  int lineNo = 0;
  int startLine = 0;
  bool continuing = false;
  while (std::getline(in, raw)) {
    ++lineNo;
    std::string line = eraseBothEndsBlank(raw);
    if (!continuing) {
      if (line.empty() || line[0] == '#' || line[0] == '!') continue;
      logical.clear();
      startLine = lineNo;
    }
    continuing = endsWithContinuation(line);
    if (continuing) line.pop_back();
    logical += line;
    if (!continuing) addEntry(logical, startLine);
  }
  // A continuation on the last line still ends the entry.
  if (continuing) addEntry(logical, startLine);
}

void Properties::store(std::ostream& out) const {
  for (const auto& entry : m_entries) {
    // A key that starts like a comment can only be read after a
    // continuation; write it that way so that load() gets it back.
    const char first = entry.first.empty() ? '\0' : entry.first[0];
    if (first == '#' || first == '!') out << "\\\n";
    out << entry.first << ": " << entry.second << "\n";
  }
}

}  // namespace coil
