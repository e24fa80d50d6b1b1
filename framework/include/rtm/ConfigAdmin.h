// RTC::ConfigAdmin: a component's configuration sets and bound variables.
#ifndef RTM_CONFIGADMIN_H
#define RTM_CONFIGADMIN_H

#include <coil/Properties.h>
#include <coil/stringutil.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

namespace RTC {

class Logger;

// Holds the named configuration sets of one component ("default" first, then
// further sets, then the tool hints "__widget__" and "__constraints__") and
// the variables bound to parameters. Tools change sets from ORB threads;
// the bound variables change only in update(), on the execution context's
// thread.
class ConfigAdmin {
 public:
  // `conf` holds "<set>.<param>" keys: the component profile's "conf."
  // subtree. `log` receives conversion warnings; it may be null.
  ConfigAdmin(const coil::Properties& conf, Logger* log);
  ~ConfigAdmin();
  ConfigAdmin(const ConfigAdmin&) = delete;
  ConfigAdmin& operator=(const ConfigAdmin&) = delete;

  // Binds `var` to parameter `param_name` and sets it at once from the active
  // set's value, or from `def_val` when the set has none (the default set
  // gains that value). A value that does not convert sets the default.
  // Returns false when the name is already bound or a default does not
  // convert.
  template <typename VarType>
  bool bindParameter(const char* param_name, VarType& var, const char* def_val,
                     bool (*trans)(VarType&, const char*) = coil::stringTo) {
    if (param_name == 0 || def_val == 0) return false;
    VarType* target = &var;
    std::string def(def_val);
    Setter setter = [target, def, trans](const std::string& text) -> bool {
      if ((*trans)(*target, text.c_str())) return true;
      (*trans)(*target, def.c_str());
      return false;
    };
    return addBinding(param_name, def_val, setter, typeid(VarType));
  }

  // Applies the active set to the bound variables when anything changed since
  // the last update. Called on the execution context's thread.
  void update();
  // Returns whether a change waits for update().
  bool isChanged() const;

  // Returns the ids of every set, "default" first.
  std::vector<std::string> getConfigurationSetIds() const;
  // Returns whether set `id` exists.
  bool haveConfig(const std::string& id) const;
  // Copies set `id` into `out`; false when there is none.
  bool getConfigurationSet(const std::string& id, coil::Properties& out) const;
  // Returns the active set's id.
  std::string getActiveId() const;
  // What all sets may hold together (ids, names and values): anyone who can
  // reach the component can add sets, and each is kept for its life.
  static const std::size_t kMaxBytes = 1024 * 1024;

  // Updates values of the existing set `id`; false when there is none or the
  // sets would outgrow kMaxBytes.
  bool setConfigurationSetValues(const std::string& id, const coil::Properties& values);
  // Adds a new set; false when `id` is taken or empty, or the sets would
  // outgrow kMaxBytes.
  bool addConfigurationSet(const std::string& id, const coil::Properties& values);
  // Removes set `id`; the active set and "default" cannot be removed.
  bool removeConfigurationSet(const std::string& id);
  // Makes `id` the active set; hint sets ("__" prefix) are never activated.
  bool activateConfigurationSet(const std::string& id);
  // Sets one value of the active set; false for an empty name or when the
  // sets would outgrow kMaxBytes.
  bool setActiveValue(const std::string& name, const std::string& value);
  // Returns the names of the bound parameters, in binding order.
  std::vector<std::string> getParameterNames() const;

 private:
  typedef std::function<bool(const std::string&)> Setter;
  bool addBinding(const std::string& name, const std::string& def, const Setter& setter,
                  const std::type_info& type);

  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace RTC

#endif
