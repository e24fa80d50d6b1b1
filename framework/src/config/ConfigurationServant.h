// RTC::ConfigurationServant: the SDO Configuration object of a component.
#ifndef RTM_SRC_CONFIGURATIONSERVANT_H
#define RTM_SRC_CONFIGURATIONSERVANT_H

#include <rtm/ConfigAdmin.h>
#include <rtm/SystemLogger.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <memory>
#include <string>

#include "corba/ServantTarget.h"

namespace RTC {

// Serves SDOPackage::Configuration over a ConfigAdmin: values travel as
// CORBA strings in an Any. Activate it through an ActivatedServant, whose
// shutdown() detaches it before the ConfigAdmin goes away; later calls raise
// OBJECT_NOT_EXIST.
//
// Answers to bad requests: an unknown id raises InternalError from
// get_configuration_set (the only exception it may raise) and
// InvalidParameter from set_configuration_set_values,
// remove_configuration_set and activate_configuration_set; a value that is
// not a string raises InvalidParameter and changes nothing. Service profiles
// go to the component's SdoServiceConsumers (false for a type it does not
// serve or beyond its limit; InvalidParameter for removing an unknown id),
// which also hear of every configuration change. Device and organization
// operations are not supported and answer false.
class SdoServiceConsumers;

class ConfigurationServant : public POA_SDOPackage::Configuration {
 public:
  // Serves `admin`, which must outlive the servant or detach() it first;
  // failures are logged under the name of `log`.
  ConfigurationServant(ConfigAdmin& admin, const Logger& log);
  ConfigurationServant(const ConfigurationServant&) = delete;
  ConfigurationServant& operator=(const ConfigurationServant&) = delete;

  // Sets the component's service consumers; before activation.
  void setServices(std::shared_ptr<SdoServiceConsumers> services) {
    m_services = std::move(services);
  }
  // Stops forwarding to the ConfigAdmin and waits for calls in progress.
  void detach() { m_admin.detach(); }

  CORBA::Boolean set_device_profile(const SDOPackage::DeviceProfile& dProfile) override;
  CORBA::Boolean add_service_profile(const SDOPackage::ServiceProfile& sProfile) override;
  CORBA::Boolean add_organization(SDOPackage::Organization_ptr organization_object) override;
  CORBA::Boolean remove_service_profile(const char* id) override;
  CORBA::Boolean remove_organization(const char* organization_id) override;
  SDOPackage::ParameterList* get_configuration_parameters() override;
  SDOPackage::NVList* get_configuration_parameter_values() override;
  CORBA::Any* get_configuration_parameter_value(const char* name) override;
  CORBA::Boolean set_configuration_parameter(const char* name, const CORBA::Any& value) override;
  SDOPackage::ConfigurationSetList* get_configuration_sets() override;
  SDOPackage::ConfigurationSet* get_configuration_set(const char* config_id) override;
  CORBA::Boolean set_configuration_set_values(
      const SDOPackage::ConfigurationSet& configuration_set) override;
  SDOPackage::ConfigurationSet* get_active_configuration_set() override;
  CORBA::Boolean add_configuration_set(
      const SDOPackage::ConfigurationSet& configuration_set) override;
  CORBA::Boolean remove_configuration_set(const char* config_id) override;
  CORBA::Boolean activate_configuration_set(const char* config_id) override;

 private:
  void configEvent(const char* what, const std::string& id);

  ServantTarget<ConfigAdmin> m_admin;
  std::shared_ptr<SdoServiceConsumers> m_services;
  Logger m_log;
};

}  // namespace RTC

#endif
