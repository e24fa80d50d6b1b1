// RTC::ConfigurationServant: the SDO Configuration object of a component.
#ifndef RTM_SRC_CONFIGURATIONSERVANT_H
#define RTM_SRC_CONFIGURATIONSERVANT_H

#include <rtm/ConfigAdmin.h>
#include <rtm/SystemLogger.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <shared_mutex>

namespace RTC {

// Serves SDOPackage::Configuration over a ConfigAdmin: values travel as
// CORBA strings in an Any. Reference counted like every servant: create it
// with new, hold it in a PortableServer::Servant_var (or call _remove_ref())
// and call deactivate() before the ConfigAdmin or the logger goes away.
//
// Answers to bad requests: an unknown id raises InternalError from
// get_configuration_set (the only exception it may raise) and
// InvalidParameter from set_configuration_set_values,
// remove_configuration_set and activate_configuration_set; a value that is
// not a string raises InvalidParameter and changes nothing. Device, service
// and organization operations are not supported and answer false.
class ConfigurationServant : public virtual POA_SDOPackage::Configuration {
 public:
  // `admin` and `log` must outlive the servant or deactivate(), whichever
  // comes first.
  ConfigurationServant(ConfigAdmin& admin, Logger& log);
  ~ConfigurationServant() override;
  ConfigurationServant(const ConfigurationServant&) = delete;
  ConfigurationServant& operator=(const ConfigurationServant&) = delete;

  // Activates the object in `poa` (nil: the ORB's root POA) once and returns
  // a new reference to it.
  SDOPackage::Configuration_ptr activate(PortableServer::POA_ptr poa);
  // Deactivates the object and detaches it from the ConfigAdmin: calls still
  // arriving raise NotAvailable. Waits for calls in progress.
  void deactivate();

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
  // Runs `f` with the ConfigAdmin, inside the servant guard; NotAvailable
  // once deactivated.
  template <class F>
  auto withAdmin(const char* opName, F&& f) -> decltype(f(std::declval<ConfigAdmin&>()));

  std::shared_mutex m_detachMutex;  // readers: calls in progress; writer: deactivate()
  ConfigAdmin* m_admin;
  Logger& m_log;
  PortableServer::POA_var m_poa;
  PortableServer::ObjectId_var m_oid;
};

}  // namespace RTC

#endif
