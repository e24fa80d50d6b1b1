// What `rtmctl connect` asks for: connector name, id and properties.
#ifndef PIXMOOR_TOOLS_RTMCTL_CONNECTORSETTINGS_H
#define PIXMOOR_TOOLS_RTMCTL_CONNECTORSETTINGS_H

#include <string>
#include <utility>
#include <vector>

#include "ArgParser.h"

namespace rtmctl {

using PropertyList = std::vector<std::pair<std::string, std::string>>;

// A connector profile before it is sent: name, id ("" lets the port choose) and
// properties in the order they will travel.
struct ConnectorSettings {
  std::string name;
  std::string id;
  PropertyList properties;

  // Returns the value of `key`, or "" when absent.
  std::string property(const std::string& key) const;
  // Sets `key`, replacing an existing entry in place or appending.
  void setProperty(const std::string& key, const std::string& value);
};

// Returns the options `rtmctl connect` accepts.
std::vector<OptionDef> connectOptionDefs();

// Builds the connector from parsed connect options. Defaults follow the usual
// tools: corba_cdr, push, flush; `defaultName` names it when --name is absent.
// Throws a usage error for values no port would accept.
ConnectorSettings buildConnectorSettings(const ParsedArgs& args, const std::string& defaultName);

// Splits "key=value" (value may be empty); throws a usage error without '=' or key.
std::pair<std::string, std::string> parseProperty(const std::string& text);

}  // namespace rtmctl

#endif
