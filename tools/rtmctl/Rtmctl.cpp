#include "Rtmctl.h"

#include <cstdlib>

#include "ArgParser.h"
#include "ComponentCommands.h"
#include "ConfigCommands.h"
#include "ConnectionCommands.h"
#include "CtlError.h"
#include "ManagerCommands.h"
#include "Session.h"
#include "StreamCommands.h"

namespace rtmctl {

namespace {

// Longer than any sensible call; keeps the ORB's millisecond counter sane.
constexpr long kMaxCallTimeoutMs = 3600 * 1000;

int parseTimeout(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value <= 0 || value > kMaxCallTimeoutMs) {
    throw usageError("--timeout '" + text + "' is not a number of milliseconds from 1 to " +
                     std::to_string(kMaxCallTimeoutMs));
  }
  return static_cast<int>(value);
}

}  // namespace

std::string topLevelUsage() {
  return "Usage: rtmctl [--timeout MS] COMMAND [ARGUMENTS]\n"
         "\n"
         "Lists, connects, activates and configures RT components through their\n"
         "name servers, and reads what their outports send.\n"
         "\n"
         "Commands:\n"
         "  list [PATH]               what a name server holds, recursively\n"
         "  show PATH                 a component's profile, state and ports\n"
         "  ports PATH[:PORT]         ports with their properties and connectors\n"
         "  connect OUT IN            connect a data outport to an inport\n"
         "  disconnect PORT [PORT2]   remove connections (--id, --name, --all)\n"
         "  activate PATH...          INACTIVE -> ACTIVE in the own execution context\n"
         "  deactivate PATH...        ACTIVE -> INACTIVE\n"
         "  reset PATH...             ERROR -> INACTIVE\n"
         "  state PATH...             print the life-cycle state\n"
         "  config ACTION PATH ...    get, set, sets, activate: configuration\n"
         "  exit PATH...              ask components to finish\n"
         "  hz OUTPORT                rate, bandwidth, size and age of the samples sent\n"
         "  snapshot OUTPORT WxH FILE one frame written as a picture\n"
         "  stats PATH                the figures a component publishes\n"
         "  watch PATH                a component's state changes as they happen\n"
         "  log PATH                  a component's log as it is written\n"
         "  managers [PATH]           the managers bound on a name server\n"
         "  create MANAGER TYPE       create a component through a manager\n"
         "  delete MANAGER INSTANCE   delete a component through a manager\n"
         "  modules MANAGER           a manager's modules and component types\n"
         "  load MANAGER FILE [INIT]  load a module into a manager's process\n"
         "\n"
         "Paths: /HOST[:PORT]/NAMING/PATH[:DATAPORT], the name server first (port\n"
         "2809 when none is given), then the naming path, then the data port:\n"
         "  /localhost:2809/myhost.host_cxt/Pixmoor0.rtc:image\n"
         "\n"
         "Options:\n"
         "  --timeout MS   bound on the command's remote calls together (each call\n"
         "                 of hz and snapshot; default 5000)\n"
         "  -h, --help     this text; 'rtmctl COMMAND --help' explains a command\n"
         "\n"
         "Exit status: 0 done, 1 the request failed, 2 the command line is wrong.\n";
}

int runRtmctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    // Global options come before the command; everything after it is the command's.
    int timeoutMs = kDefaultCallTimeoutMs;
    std::size_t at = 0;
    for (; at < args.size(); ++at) {
      const std::string& word = args[at];
      if (word == "--help" || word == "-h") {
        out << topLevelUsage();
        return kExitOk;
      }
      if (word == "--timeout") {
        if (at + 1 >= args.size()) throw usageError("--timeout needs a value in milliseconds");
        timeoutMs = parseTimeout(args[++at]);
      } else if (word.compare(0, 10, "--timeout=") == 0) {
        timeoutMs = parseTimeout(word.substr(10));
      } else if (!word.empty() && word[0] == '-') {
        throw usageError("unknown option '" + word + "' (see rtmctl --help)");
      } else {
        break;
      }
    }
    if (at >= args.size()) {
      err << topLevelUsage();
      return kExitUsage;
    }
    const std::string command = args[at];
    const std::vector<std::string> rest(args.begin() + static_cast<long>(at) + 1, args.end());

    Session session(timeoutMs);
    // hz and snapshot run for as long as asked; their calls keep a bound each.
    if (command != "hz" && command != "snapshot") session.boundWholeCommand();
    if (command == "list" || command == "ls") return runList(session, rest, out);
    if (command == "show") return runShow(session, rest, out);
    if (command == "ports") return runPorts(session, rest, out);
    if (command == "connect") return runConnect(session, rest, out);
    if (command == "disconnect") return runDisconnect(session, rest, out);
    if (command == "activate" || command == "deactivate" || command == "reset" ||
        command == "state") {
      return runLifecycle(command, session, rest, out);
    }
    if (command == "config") return runConfig(session, rest, out);
    if (command == "exit") return runExit(session, rest, out);
    if (command == "hz") return runHz(session, rest, out);
    if (command == "snapshot") return runSnapshot(session, rest, out);
    if (command == "stats") return runStats(session, rest, out);
    if (command == "watch") return runWatch(session, rest, out);
    if (command == "log") return runLog(session, rest, out);
    if (command == "managers") return runManagers(session, rest, out);
    if (command == "create") return runCreate(session, rest, out);
    if (command == "delete") return runDelete(session, rest, out);
    if (command == "modules") return runModules(session, rest, out);
    if (command == "load") return runLoad(session, rest, out);
    if (command == "help") {
      out << topLevelUsage();
      return kExitOk;
    }
    throw usageError("unknown command '" + command + "' (see rtmctl --help)");
  } catch (const CtlError& error) {
    err << "rtmctl: " << error.what() << "\n";
    return error.exitCode();
  } catch (const CORBA::SystemException& ex) {
    err << "rtmctl: unexpected CORBA::" << ex._name() << " (minor " << ex.minor() << ")\n";
    return kExitFailure;
  } catch (const CORBA::Exception& ex) {
    err << "rtmctl: unexpected CORBA exception " << ex._name() << "\n";
    return kExitFailure;
  } catch (const std::exception& ex) {
    err << "rtmctl: " << ex.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace rtmctl
