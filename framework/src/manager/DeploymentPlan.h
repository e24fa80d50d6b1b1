// What rtc.conf asks the manager to do at start: the modules to load, and
// the components to create, connect and activate. Parsing only: nothing
// here touches the ORB, the file system or the manager.
#ifndef RTM_SRC_DEPLOYMENTPLAN_H
#define RTM_SRC_DEPLOYMENTPLAN_H

#include <string>
#include <utility>
#include <vector>

namespace RTC {

// Splits a comma list of entries, trimming each and dropping empty ones.
std::vector<std::string> splitEntries(const std::string& list);

// A module file and the function that registers its component types.
struct ModuleEntry {
  std::string file;      // "Pixmoor.so", as named (a path or a bare file name)
  std::string initFunc;  // "PixmoorInit"
};

// Parses one manager.modules.preload entry: "Pixmoor", "Pixmoor.so" or
// "libviewer.so(PixmoorInit)". A name without a dot gets "." + `suffix`;
// the init function defaults to the file name's part before its first dot
// followed by "Init". False with `error` set for an entry that names no file
// or no function.
bool parseModuleEntry(const std::string& entry, const std::string& suffix, ModuleEntry& out,
                      std::string& error);

// Returns the candidate paths of module `file`, in the order to try:
// an absolute path as it stands (only when `absPathAllowed`), otherwise the
// file under each directory of `loadPath`. Empty with `error` set when an
// absolute path is not allowed.
std::vector<std::string> moduleCandidates(const std::string& file,
                                          const std::vector<std::string>& loadPath,
                                          bool absPathAllowed, std::string& error);

// A component named in rtc.conf: a local instance name, or an rtcname://
// name found through a name server.
struct ComponentRef {
  std::string instance;  // local instance name; "" for a remote component
  std::string server;    // "host:port" of the name server (remote only)
  std::string path;      // naming path with the component's kind: "h.host_cxt/Camera0.rtc"

  bool remote() const { return !server.empty(); }
};

// A data port of a component: the port's name is "<instance>.<port>".
struct PortRef {
  ComponentRef component;
  std::string portName;  // full port name, "Camera0.out"
};

// The parsers below leave `out` as it was when they return false.

// Parses a component name: "Pixmoor0" or
// "rtcname://host[:port]/ctx.host_cxt/Camera0" (port 2809 when absent).
bool parseComponentRef(const std::string& text, ComponentRef& out, std::string& error);
// Parses a port name: "Pixmoor0.image" or
// "rtcname://host[:port]/ctx.host_cxt/Camera0.out": the component is the
// part before the last dot, the port the last path element.
bool parsePortRef(const std::string& text, PortRef& out, std::string& error);

// One manager.components.preconnect entry.
struct ConnectionEntry {
  std::vector<PortRef> ports;  // the ports to join, the entry's first one first
  // Connector properties in the order given, each "dataport.<key>";
  // interface_type corba_cdr and dataflow_type push unless given.
  std::vector<std::pair<std::string, std::string> > properties;
};

// Parses "Comp0.port0?port=Comp1.port1&key=value...": every port= (or
// port1=, port2= ...) key adds a port, every other key a connector property.
// False with `error` set for an entry without a second port or with a
// malformed key.
bool parseConnectionEntry(const std::string& entry, ConnectionEntry& out, std::string& error);

}  // namespace RTC

#endif
