#include "manager/ModuleRegistry.h"

namespace RTC {

ModuleRegistry& ModuleRegistry::instance() {
  static ModuleRegistry registry;
  return registry;
}

void ModuleRegistry::record(const Module& module) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_modules.push_back(module);
}

bool ModuleRegistry::find(const std::string& file, Module& out) const {
  if (file.empty()) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const Module& m : m_modules) {
    const bool tail = m.path.size() > file.size() &&
                      m.path.compare(m.path.size() - file.size(), file.size(), file) == 0 &&
                      m.path[m.path.size() - file.size() - 1] == '/';
    if (m.path == file || tail) {
      out = m;
      return true;
    }
  }
  return false;
}

void ModuleRegistry::forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto it = m_modules.begin(); it != m_modules.end(); ++it) {
    if (it->path == path) {
      m_modules.erase(it);
      return;
    }
  }
}

std::vector<ModuleRegistry::Module> ModuleRegistry::modules() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_modules;
}

}  // namespace RTC
