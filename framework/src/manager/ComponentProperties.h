// The properties a new component starts with, layered from its factory's
// profile, rtc.conf and the arguments of createComponent.
#ifndef RTM_SRC_COMPONENTPROPERTIES_H
#define RTM_SRC_COMPONENTPROPERTIES_H

#include <coil/Properties.h>

#include <cstddef>
#include <string>
#include <vector>

namespace RTC {

// Splits createComponent's argument, "Type?key=value&key=value" (or
// "RTC:vendor:category:Type:...?..."), into the implementation id, which it
// returns, and the parameters, which it adds to `params`.
std::string parseCompArgs(const std::string& args, coil::Properties& params);

// Returns the properties of a component type, later layers winning: the
// factory's `profile`, the manager's exec_cxt.* where the profile has none,
// then rtc.conf's settings for `<category>.<typeName>`: the file named by
// its config_file, then its own keys. What could not be read is appended to
// `problems`.
coil::Properties typeProperties(const coil::Properties& profile, const std::string& typeName,
                                const coil::Properties& config, std::vector<std::string>* problems);

// Adds an instance's layers to `prop`: rtc.conf's settings for
// `<category>.<instanceName>` (as for the type), the caller's `params`, then
// instance_name itself.
void addInstanceProperties(coil::Properties& prop, const std::string& category,
                           const std::string& instanceName, const coil::Properties& params,
                           const coil::Properties& config, std::vector<std::string>* problems);

// Adds the manager-level keys the framework publishes in every component's
// profile (openrtm.*, os.*, corba.endpoint(s), corba.id, naming.enable,
// naming.formats, naming.type, logger.*, manager.instance_name,
// config.version, config_file, sdo.service.consumer.* and
// sdo.service.provider.*) from `config`, where `prop` has none of its own.
void addManagerProperties(coil::Properties& prop, const coil::Properties& config);
// The longest instance name taken; names end up in naming contexts, logs
// and every profile read.
constexpr std::size_t kMaxInstanceNameLength = 255;

// Returns why `name` cannot name an instance ("" when it can): it is bound
// as one naming component, so '/' (a context of its own on the name
// server, left there after shutdown), '.' (the id and kind separator, and
// "..") and '\\' (the escape) are refused, as are control characters and
// names longer than kMaxInstanceNameLength.
std::string instanceNameProblem(const std::string& name);

// Returns the names under which the component is bound: its naming.formats
// (the manager's when it has none) expanded, and records them, comma
// separated, as its naming.names.
std::vector<std::string> addNamingNames(coil::Properties& prop, const coil::Properties& config);

}  // namespace RTC

#endif
