#include "config/ConfigurationServant.h"

#include <string>

#include "corba/NVUtil.h"
#include "corba/ServantGuard.h"
#include "sdo/SdoServiceConsumers.h"

namespace RTC {

namespace {

const char kFull[] = "the configuration sets would outgrow the 1 MiB they may hold together";

bool isEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

SDOPackage::ConfigurationSet* makeSet(const std::string& id, const coil::Properties& values) {
  SDOPackage::ConfigurationSet_var set = new SDOPackage::ConfigurationSet;
  set->id = CORBA::string_dup(id.c_str());
  set->description = CORBA::string_dup("");
  NVUtil::copyFromProperties(set->configuration_data, values);
  return set._retn();
}

// Converts a set sent by a tool; every value must be a string, otherwise
// nothing of it is used.
coil::Properties stringValues(const SDOPackage::NVList& nv) {
  coil::Properties values;
  for (CORBA::ULong i = 0; i < nv.length(); ++i) {
    const char* text = nullptr;
    if (!(nv[i].value >>= text)) {
      std::string message = std::string("the value of '") + static_cast<const char*>(nv[i].name) +
                            "' is not a string";
      throw SDOPackage::InvalidParameter(message.c_str());
    }
    if (isEmpty(nv[i].name)) throw SDOPackage::InvalidParameter("a parameter has no name");
    values.setProperty(static_cast<const char*>(nv[i].name), text != nullptr ? text : "");
  }
  return values;
}

}  // namespace

ConfigurationServant::ConfigurationServant(ConfigAdmin& admin, const Logger& log)
    : m_admin(admin, log.getName()), m_log(log.getName().c_str()) {}

void ConfigurationServant::configEvent(const char* what, const std::string& id) {
  if (m_services && m_services->active()) {
    m_services->notify(OpenRTM::CONFIGURATION, std::string(what) + ": " + id);
  }
}

CORBA::Boolean ConfigurationServant::set_device_profile(const SDOPackage::DeviceProfile&) {
  return false;
}

CORBA::Boolean ConfigurationServant::add_service_profile(
    const SDOPackage::ServiceProfile& sProfile) {
  return guardServantCall("add_service_profile", m_log, [&]() -> CORBA::Boolean {
    std::string why = "the component is exiting";
    if (m_services && m_services->add(sProfile, why)) {
      m_log.log(Logger::RTL_INFO, std::string("SDO service ") +
                                      static_cast<const char*>(sProfile.id) + " added (" +
                                      static_cast<const char*>(sProfile.interface_type) + ")");
      return true;
    }
    m_log.log(Logger::RTL_INFO, std::string("SDO service profile refused: ") + why);
    return false;
  });
}

CORBA::Boolean ConfigurationServant::add_organization(SDOPackage::Organization_ptr) {
  return false;
}

CORBA::Boolean ConfigurationServant::remove_service_profile(const char* id) {
  return guardServantCall("remove_service_profile", m_log, [&]() -> CORBA::Boolean {
    if (isEmpty(id) || !m_services || !m_services->remove(id)) {
      throw SDOPackage::InvalidParameter("no such service profile");
    }
    m_log.log(Logger::RTL_INFO, std::string("SDO service ") + id + " removed");
    return true;
  });
}

CORBA::Boolean ConfigurationServant::remove_organization(const char*) { return false; }

SDOPackage::ParameterList* ConfigurationServant::get_configuration_parameters() {
  return m_admin.forward("get_configuration_parameters",
                         [](ConfigAdmin&) { return new SDOPackage::ParameterList; });
}

SDOPackage::NVList* ConfigurationServant::get_configuration_parameter_values() {
  return m_admin.forward("get_configuration_parameter_values", [](ConfigAdmin& admin) {
    coil::Properties values;
    admin.getConfigurationSet(admin.getActiveId(), values);
    SDOPackage::NVList_var nv = new SDOPackage::NVList;
    NVUtil::copyFromProperties(nv.inout(), values);
    return nv._retn();
  });
}

CORBA::Any* ConfigurationServant::get_configuration_parameter_value(const char* name) {
  return m_admin.forward("get_configuration_parameter_value", [name](ConfigAdmin& admin) {
    if (isEmpty(name)) throw SDOPackage::InvalidParameter("empty parameter name");
    coil::Properties values;
    admin.getConfigurationSet(admin.getActiveId(), values);
    if (!values.hasKey(name)) {
      // What the active set lacks comes from the default set.
      admin.getConfigurationSet("default", values);
      if (!values.hasKey(name)) {
        std::string message = std::string("no parameter '") + name + "'";
        throw SDOPackage::InvalidParameter(message.c_str());
      }
    }
    CORBA::Any_var value = new CORBA::Any;
    value.inout() <<= values.getProperty(name).c_str();
    return value._retn();
  });
}

CORBA::Boolean ConfigurationServant::set_configuration_parameter(const char* name,
                                                                 const CORBA::Any& value) {
  return m_admin.forward("set_configuration_parameter", [this, name, &value](ConfigAdmin& admin) {
    if (isEmpty(name)) throw SDOPackage::InvalidParameter("empty parameter name");
    const char* text = nullptr;
    if (!(value >>= text)) {
      std::string message = std::string("the value of '") + name + "' is not a string";
      throw SDOPackage::InvalidParameter(message.c_str());
    }
    const bool set = admin.setActiveValue(name, text != nullptr ? text : "");
    if (set) configEvent("UPDATE_CONFIG_PARAM", admin.getActiveId() + "." + name);
    return static_cast<CORBA::Boolean>(set);
  });
}

SDOPackage::ConfigurationSetList* ConfigurationServant::get_configuration_sets() {
  return m_admin.forward("get_configuration_sets", [](ConfigAdmin& admin) {
    SDOPackage::ConfigurationSetList_var list = new SDOPackage::ConfigurationSetList;
    std::vector<std::pair<std::string, coil::Properties> > sets;
    for (const std::string& id : admin.getConfigurationSetIds()) {
      coil::Properties values;
      // A set removed meanwhile is simply not listed.
      if (admin.getConfigurationSet(id, values)) sets.emplace_back(id, values);
    }
    list->length(static_cast<CORBA::ULong>(sets.size()));
    for (CORBA::ULong i = 0; i < sets.size(); ++i) {
      SDOPackage::ConfigurationSet_var set = makeSet(sets[i].first, sets[i].second);
      list[i] = set.in();
    }
    return list._retn();
  });
}

SDOPackage::ConfigurationSet* ConfigurationServant::get_configuration_set(const char* config_id) {
  return m_admin.forward("get_configuration_set", [config_id](ConfigAdmin& admin) {
    coil::Properties values;
    if (isEmpty(config_id) || !admin.getConfigurationSet(config_id, values)) {
      std::string message =
          std::string("no configuration set '") + (config_id ? config_id : "") + "'";
      throw SDOPackage::InternalError(message.c_str());
    }
    return makeSet(config_id, values);
  });
}

CORBA::Boolean ConfigurationServant::set_configuration_set_values(
    const SDOPackage::ConfigurationSet& configuration_set) {
  return m_admin.forward("set_configuration_set_values", [this,
                                                         &configuration_set](ConfigAdmin& admin) {
    const char* id = configuration_set.id;
    coil::Properties values = stringValues(configuration_set.configuration_data);
    if (isEmpty(id) || !admin.setConfigurationSetValues(id, values)) {
      if (!isEmpty(id) && admin.haveConfig(id)) throw SDOPackage::NotAvailable(kFull);
      std::string message = std::string("no configuration set '") + (id ? id : "") + "'";
      throw SDOPackage::InvalidParameter(message.c_str());
    }
    configEvent("SET_CONFIG_SET", id);
    return static_cast<CORBA::Boolean>(true);
  });
}

SDOPackage::ConfigurationSet* ConfigurationServant::get_active_configuration_set() {
  return m_admin.forward("get_active_configuration_set", [](ConfigAdmin& admin) {
    std::string id = admin.getActiveId();
    coil::Properties values;
    if (!admin.getConfigurationSet(id, values)) {
      throw SDOPackage::NotAvailable("no active configuration set");
    }
    return makeSet(id, values);
  });
}

CORBA::Boolean ConfigurationServant::add_configuration_set(
    const SDOPackage::ConfigurationSet& configuration_set) {
  return m_admin.forward("add_configuration_set", [this, &configuration_set](ConfigAdmin& admin) {
    const char* id = configuration_set.id;
    if (isEmpty(id)) throw SDOPackage::InvalidParameter("empty configuration set id");
    coil::Properties values = stringValues(configuration_set.configuration_data);
    // An id already taken answers false, as the framework's own does.
    if (admin.addConfigurationSet(id, values)) {
      configEvent("ADD_CONFIG_SET", id);
      return static_cast<CORBA::Boolean>(true);
    }
    if (!admin.haveConfig(id)) throw SDOPackage::NotAvailable(kFull);
    return static_cast<CORBA::Boolean>(false);
  });
}

CORBA::Boolean ConfigurationServant::remove_configuration_set(const char* config_id) {
  return m_admin.forward("remove_configuration_set", [this, config_id](ConfigAdmin& admin) {
    if (isEmpty(config_id) || !admin.haveConfig(config_id)) {
      std::string message =
          std::string("no configuration set '") + (config_id ? config_id : "") + "'";
      throw SDOPackage::InvalidParameter(message.c_str());
    }
    // "default" and the active set stay.
    const bool removed = admin.removeConfigurationSet(config_id);
    if (removed) configEvent("REMOVE_CONFIG_SET", config_id);
    return static_cast<CORBA::Boolean>(removed);
  });
}

CORBA::Boolean ConfigurationServant::activate_configuration_set(const char* config_id) {
  return m_admin.forward("activate_configuration_set", [this, config_id](ConfigAdmin& admin) {
    if (isEmpty(config_id) || !admin.activateConfigurationSet(config_id)) {
      std::string message =
          std::string("cannot activate configuration set '") + (config_id ? config_id : "") + "'";
      throw SDOPackage::InvalidParameter(message.c_str());
    }
    configEvent("ACTIVATE_CONFIG_SET", config_id);
    return static_cast<CORBA::Boolean>(true);
  });
}

}  // namespace RTC
