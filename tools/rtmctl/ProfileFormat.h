// Text forms of the framework's profiles, states and return codes.
#ifndef PIXMOOR_TOOLS_RTMCTL_PROFILEFORMAT_H
#define PIXMOOR_TOOLS_RTMCTL_PROFILEFORMAT_H

#include <rtm/idl/RTCSkel.h>
#include <rtm/idl/SDOPackageSkel.h>

#include <ostream>
#include <string>
#include <vector>

namespace rtmctl {

// Returns the value of an Any as text: strings as they are, numbers in decimal,
// object references as "<object reference>", anything else as "<TYPE-ID>".
std::string anyToText(const CORBA::Any& value);

// Returns the value of `name` in `list` as text; "" when absent.
std::string nvValue(const SDOPackage::NVList& list, const std::string& name);

// True when `list` holds an entry called `name`.
bool nvHas(const SDOPackage::NVList& list, const std::string& name);

// True unless the comma list under `key` (a data port's
// "dataport.interface_type: corba_cdr,shared_memory", say) exists and names
// neither `value` nor "Any". Case and blanks around entries do not count.
bool offers(const SDOPackage::NVList& list, const std::string& key, const std::string& value);

// Returns "RTC_OK", "BAD_PARAMETER", ... for a return code.
std::string returnCodeName(RTC::ReturnCode_t code);

// Returns "CREATED", "INACTIVE", "ACTIVE" or "ERROR".
std::string stateName(RTC::LifeCycleState state);

// Returns "PERIODIC", "EVENT_DRIVEN" or "OTHER".
std::string kindName(RTC::ExecutionKind kind);

// Shortens long stringified references ("IOR:0100...") unless `full` is set.
std::string displayValue(const std::string& value, bool full);

// Writes "key: value" lines, `indent` spaces in, values shortened unless `full`.
void writeProperties(std::ostream& out, const SDOPackage::NVList& list, int indent, bool full);

// Writes a connector: name, id, the names of its ports and its properties.
// `portNames` holds the text to show for each entry of profile.ports.
void writeConnector(std::ostream& out, const RTC::ConnectorProfile& profile,
                    const std::vector<std::string>& portNames, int indent, bool full);

// Writes the component's identity and properties; `stateLine` (may be empty)
// describes its state in its own execution context.
void writeComponent(std::ostream& out, const RTC::ComponentProfile& profile,
                    const std::string& stateLine);

// Writes one line per port: short name, port type, data type, connector count.
void writePortSummary(std::ostream& out, const RTC::PortProfileList& ports, int indent);

}  // namespace rtmctl

#endif
