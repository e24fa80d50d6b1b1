// RTC::ModuleRegistry: the modules this process has loaded and the
// component types each one registered.
#ifndef RTM_SRC_MODULEREGISTRY_H
#define RTM_SRC_MODULEREGISTRY_H

#include <mutex>
#include <string>
#include <vector>

namespace RTC {

// Process-wide, since modules are: the preload and the manager service
// both record here, whichever loaded the module.
class ModuleRegistry {
 public:
  struct Module {
    std::string path;                     // the file as it was opened
    std::string initFunc;                 // the function that was called
    std::vector<std::string> factoryIds;  // implementation ids it registered
  };

  static ModuleRegistry& instance();

  // Records a module that was loaded and initialised.
  void record(const Module& module);
  // Finds the module loaded from `file`: its path, or a path ending in
  // "/<file>"; false when none.
  bool find(const std::string& file, Module& out) const;
  // Forgets the module loaded from `path`.
  void forget(const std::string& path);
  std::vector<Module> modules() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<Module> m_modules;
};

}  // namespace RTC

#endif
