#include <cxxabi.h>
#include <rtm/ConfigAdmin.h>
#include <rtm/SystemLogger.h>

#include <cstdlib>
#include <utility>

namespace RTC {

namespace {

const char* const kDefaultSet = "default";

bool isHintSet(const std::string& id) { return id.compare(0, 2, "__") == 0; }

// Names a bound type the way the warning reads: "'abc' is not an int".
std::string describeType(const std::type_info& type) {
  struct Known {
    const std::type_info& type;
    const char* phrase;
  };
  static const Known known[] = {
      {typeid(int), "an int"},
      {typeid(unsigned int), "an unsigned int"},
      {typeid(short), "a short"},
      {typeid(unsigned short), "an unsigned short"},
      {typeid(long), "a long"},
      {typeid(unsigned long), "an unsigned long"},
      {typeid(long long), "a long long"},
      {typeid(unsigned long long), "an unsigned long long"},
      {typeid(float), "a float"},
      {typeid(double), "a double"},
      {typeid(bool), "a bool"},
      {typeid(char), "a char"},
      {typeid(std::string), "a string"},
  };
  for (const Known& k : known) {
    if (k.type == type) return k.phrase;
  }
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled != nullptr) ? demangled : type.name();
  std::free(demangled);
  return "a " + name;
}

}  // namespace

struct ConfigAdmin::State {
  struct Binding {
    std::string name;
    std::string def;
    Setter setter;
    std::string typeName;
    // The text last warned about, so a bad value is reported once per change.
    bool failing = false;
    std::string failedText;
  };

  // Serialises binding and update(): setters run only with this held, never
  // with `mutex`, so ORB threads can change sets while a setter runs.
  std::mutex updateMutex;
  // Guards sets, active, changed and the binding list's shape.
  mutable std::mutex mutex;
  std::vector<std::pair<std::string, coil::Properties> > sets;
  std::string active = kDefaultSet;
  bool changed = false;
  std::vector<Binding> bindings;
  Logger* log = nullptr;

  coil::Properties* find(const std::string& id) {
    for (auto& set : sets) {
      if (set.first == id) return &set.second;
    }
    return nullptr;
  }
  const coil::Properties* find(const std::string& id) const {
    for (const auto& set : sets) {
      if (set.first == id) return &set.second;
    }
    return nullptr;
  }

  // Whether the sets would stay within kMaxBytes with `changed` standing in
  // for set `id` (or added, when there is none). Called with `mutex` held.
  bool fits(const std::string& id, const coil::Properties& changed) const {
    std::size_t total = id.size() + bytesOf(changed);
    for (const auto& set : sets) {
      if (set.first != id) total += set.first.size() + bytesOf(set.second);
    }
    return total <= kMaxBytes;
  }
  static std::size_t bytesOf(const coil::Properties& set) {
    std::size_t bytes = 0;
    for (const auto& entry : set.entries()) bytes += entry.first.size() + entry.second.size();
    return bytes;
  }

  // The text a parameter takes: the active set's, else the default set's,
  // else the default given at binding. Called with `mutex` held.
  std::string valueFor(const Binding& binding) const {
    const coil::Properties* activeSet = find(active);
    if (activeSet != nullptr && activeSet->hasKey(binding.name)) {
      return activeSet->getProperty(binding.name);
    }
    const coil::Properties* defaults = find(kDefaultSet);
    if (defaults != nullptr && defaults->hasKey(binding.name)) {
      return defaults->getProperty(binding.name);
    }
    return binding.def;
  }

  // Sets the variable from `text`; called with only `updateMutex` held.
  void apply(Binding& binding, const std::string& text) {
    if (binding.setter(text)) {
      binding.failing = false;
      binding.failedText.clear();
      return;
    }
    if (binding.failing && binding.failedText == text) return;
    binding.failing = true;
    binding.failedText = text;
    if (log != nullptr) {
      log->log(Logger::RTL_WARN, binding.name + ": '" + text + "' is not " + binding.typeName +
                                     "; using the default " + binding.def);
    }
  }
};

ConfigAdmin::ConfigAdmin(const coil::Properties& conf, Logger* log) : m_state(new State) {
  m_state->log = log;
  m_state->sets.emplace_back(kDefaultSet, conf.getNode(kDefaultSet));
  for (const std::string& id : conf.childNames("")) {
    if (id == kDefaultSet) continue;
    coil::Properties values = conf.getNode(id);
    if (values.empty()) continue;  // a bare "conf.<id>" key, not a set
    m_state->sets.emplace_back(id, values);
  }
}

ConfigAdmin::~ConfigAdmin() = default;

const std::size_t ConfigAdmin::kMaxBytes;

bool ConfigAdmin::addBinding(const std::string& name, const std::string& def, const Setter& setter,
                             const std::type_info& type) {
  if (name.empty()) return false;
  State& s = *m_state;
  std::lock_guard<std::mutex> updating(s.updateMutex);
  {
    std::lock_guard<std::mutex> guard(s.mutex);
    for (const auto& b : s.bindings) {
      if (b.name == name) return false;
    }
  }
  // A default that does not convert would leave the variable undefined on
  // every bad value later.
  if (!setter(def)) {
    if (s.log != nullptr) {
      s.log->log(Logger::RTL_ERROR, name + ": the default '" + def + "' is not " +
                                        describeType(type) + "; parameter not bound");
    }
    return false;
  }
  std::string text;
  size_t index = 0;
  {
    std::lock_guard<std::mutex> guard(s.mutex);
    coil::Properties* defaults = s.find(kDefaultSet);
    if (!defaults->hasKey(name)) defaults->setProperty(name, def);
    State::Binding binding;
    binding.name = name;
    binding.def = def;
    binding.setter = setter;
    binding.typeName = describeType(type);
    s.bindings.push_back(std::move(binding));
    index = s.bindings.size() - 1;
    text = s.valueFor(s.bindings[index]);
  }
  if (text != def) s.apply(s.bindings[index], text);
  return true;
}

void ConfigAdmin::update() {
  State& s = *m_state;
  std::lock_guard<std::mutex> updating(s.updateMutex);
  std::vector<std::string> texts;
  {
    std::lock_guard<std::mutex> guard(s.mutex);
    if (!s.changed) return;
    s.changed = false;
    texts.reserve(s.bindings.size());
    for (const auto& b : s.bindings) texts.push_back(s.valueFor(b));
  }
  // The binding list only grows under updateMutex, which we hold.
  for (size_t i = 0; i < texts.size(); ++i) s.apply(s.bindings[i], texts[i]);
}

bool ConfigAdmin::isChanged() const {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  return m_state->changed;
}

std::vector<std::string> ConfigAdmin::getConfigurationSetIds() const {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  std::vector<std::string> ids;
  ids.reserve(m_state->sets.size());
  for (const auto& set : m_state->sets) ids.push_back(set.first);
  return ids;
}

bool ConfigAdmin::haveConfig(const std::string& id) const {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  return m_state->find(id) != nullptr;
}

bool ConfigAdmin::getConfigurationSet(const std::string& id, coil::Properties& out) const {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  const coil::Properties* set = m_state->find(id);
  if (set == nullptr) return false;
  out = *set;
  return true;
}

std::string ConfigAdmin::getActiveId() const {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  return m_state->active;
}

bool ConfigAdmin::setConfigurationSetValues(const std::string& id, const coil::Properties& values) {
  State& s = *m_state;
  std::lock_guard<std::mutex> guard(s.mutex);
  coil::Properties* set = s.find(id);
  if (set == nullptr) return false;
  coil::Properties updated = *set;
  for (const auto& entry : values.entries()) {
    if (!entry.first.empty()) updated.setProperty(entry.first, entry.second);
  }
  if (!s.fits(id, updated)) return false;
  *set = std::move(updated);
  // The active set falls back to "default" for what it lacks.
  if (id == s.active || id == kDefaultSet) s.changed = true;
  return true;
}

bool ConfigAdmin::addConfigurationSet(const std::string& id, const coil::Properties& values) {
  State& s = *m_state;
  std::lock_guard<std::mutex> guard(s.mutex);
  if (id.empty() || s.find(id) != nullptr) return false;
  coil::Properties set;
  for (const auto& entry : values.entries()) {
    if (!entry.first.empty()) set.setProperty(entry.first, entry.second);
  }
  if (!s.fits(id, set)) return false;
  s.sets.emplace_back(id, set);
  return true;
}

bool ConfigAdmin::removeConfigurationSet(const std::string& id) {
  State& s = *m_state;
  std::lock_guard<std::mutex> guard(s.mutex);
  if (id == kDefaultSet || id == s.active) return false;
  for (auto it = s.sets.begin(); it != s.sets.end(); ++it) {
    if (it->first == id) {
      s.sets.erase(it);
      return true;
    }
  }
  return false;
}

bool ConfigAdmin::activateConfigurationSet(const std::string& id) {
  State& s = *m_state;
  std::lock_guard<std::mutex> guard(s.mutex);
  if (isHintSet(id) || s.find(id) == nullptr) return false;
  s.active = id;
  s.changed = true;
  return true;
}

bool ConfigAdmin::setActiveValue(const std::string& name, const std::string& value) {
  if (name.empty()) return false;
  State& s = *m_state;
  std::lock_guard<std::mutex> guard(s.mutex);
  coil::Properties* set = s.find(s.active);
  if (set == nullptr) return false;
  coil::Properties updated = *set;
  updated.setProperty(name, value);
  if (!s.fits(s.active, updated)) return false;
  *set = std::move(updated);
  s.changed = true;
  return true;
}

std::vector<std::string> ConfigAdmin::getParameterNames() const {
  std::lock_guard<std::mutex> guard(m_state->mutex);
  std::vector<std::string> names;
  names.reserve(m_state->bindings.size());
  for (const auto& b : m_state->bindings) names.push_back(b.name);
  return names;
}

}  // namespace RTC
