// RTC::ManagerConfig: the manager's configuration from command line, file
// and defaults; and the naming format expansion.
#ifndef RTM_SRC_MANAGERCONFIG_H
#define RTM_SRC_MANAGERCONFIG_H

#include <coil/Properties.h>

#include <string>
#include <vector>

namespace RTC {

// Reads a component host's command line (-f FILE, -o "key:value", -a,
// -p PORT, -d; anything else is ignored), finds the configuration file and
// merges, later winning: built-in defaults, the file, the command line's
// options in the order given. -p PORT sets corba.endpoints to ":PORT", -a
// manager.corba_servant to NO, -d manager.is_master to YES. -h or --help
// asks for the usage instead of a running manager.
class ManagerConfig {
 public:
  ManagerConfig();

  // Reads the options of `argv` (argv[0] is the program).
  void parseArgs(int argc, char** argv);
  // Replaces the files tried when neither -f nor RTC_MANAGER_CONFIG names
  // one (tests).
  void setSearchPaths(const std::vector<std::string>& paths);
  // Returns the merged configuration; warnings() then lists what was
  // skipped (malformed lines as "file:line: ...", unreadable files, bad
  // options).
  coil::Properties configure();

  // Returns whether -h or --help was given: the caller prints usage() and
  // ends rather than starting anything.
  bool helpRequested() const { return m_helpRequested; }
  // Returns the usage text of a host started as `program` (its argv[0]).
  static std::string usage(const std::string& program);

  // Returns the configuration file read by configure(); "" when none.
  const std::string& configFile() const { return m_configFile; }
  const std::vector<std::string>& warnings() const { return m_warnings; }

  // Returns the built-in defaults.
  static coil::Properties defaults();
  // Returns the files searched when no file is named, in order.
  static std::vector<std::string> defaultSearchPaths();

 private:
  bool readFile(const std::string& path, coil::Properties& into);

  std::string m_fileArg;
  bool m_haveFileArg = false;
  bool m_helpRequested = false;
  // Command-line settings in the order given, applied after the file.
  std::vector<std::pair<std::string, std::string> > m_argSettings;
  std::vector<std::string> m_searchPaths;
  std::string m_configFile;
  std::vector<std::string> m_warnings;
  std::vector<std::string> m_argWarnings;
};

// Expands a naming format ("%h.host_cxt/%n.rtc"): %n instance name, %t and
// %m type name, %v version, %V vendor, %c category, %i implementation id,
// %N instance number (instance name without the implementation id), %h host
// name, %M manager name, %p process id, %% a percent sign. `comp` is the
// component's profile, `manager` the manager's configuration (os.hostname
// and manager.name when set). Unknown sequences stay as written.
std::string formatName(const std::string& format, const coil::Properties& comp,
                       const coil::Properties& manager);

}  // namespace RTC

#endif
