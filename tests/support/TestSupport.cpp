#include "TestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <omniORB4/Naming.hh>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace pixmoor_test {

int freeTcpPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("freeTcpPort: cannot bind a socket on 127.0.0.1");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

int listenOnLoopback(int backlog, int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

std::string makeTempDir(const std::string& tag) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/pixmoor-" + tag + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  return buf.data();
}

void removeTree(const std::string& path) {
  if (path.empty() || path == "/") return;
  std::string cmd = "rm -rf '" + path + "'";
  if (std::system(cmd.c_str()) != 0) {
    // Leftovers in a temporary directory are harmless.
  }
}

std::string buildPath(const std::string& relative) {
  const char* dir = std::getenv("PIXMOOR_BUILD_DIR");
  return std::string(dir && *dir ? dir : PIXMOOR_BUILD_DIR) + "/" + relative;
}

std::string sourcePath(const std::string& relative) {
  const char* dir = std::getenv("PIXMOOR_SOURCE_DIR");
  return std::string(dir && *dir ? dir : PIXMOOR_SOURCE_DIR) + "/" + relative;
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

namespace {

bool waitFor(const std::function<bool()>& done, double timeoutSec) {
  double deadline = now() + timeoutSec;
  while (true) {
    if (done()) return true;
    if (now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env, const std::string& cwd) {
  if (argv.empty()) throw std::invalid_argument("ChildProcess: empty argv");
  m_dir = makeTempDir("child");
  std::string outPath = m_dir + "/stdout", errPath = m_dir + "/stderr";

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  for (const std::string& kv : env) {
    std::string key = kv.substr(0, kv.find('='));
    for (auto it = envStrings.begin(); it != envStrings.end();) {
      if (it->compare(0, key.size() + 1, key + "=") == 0)
        it = envStrings.erase(it);
      else
        ++it;
    }
    if (kv.find('=') != std::string::npos) envStrings.push_back(kv);  // "KEY" alone unsets
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  m_pid = ::fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || null < 0) ::_exit(126);
    ::dup2(null, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::setpgid(0, 0);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
}

ChildProcess::~ChildProcess() {
  if (running()) {
    ::kill(m_pid, SIGKILL);
    waitExit(10);
  }
  removeTree(m_dir);
}

bool ChildProcess::running() {
  if (m_reaped) return false;
  int status = 0;
  pid_t r = ::waitpid(m_pid, &status, WNOHANG);
  if (r == m_pid) {
    m_reaped = true;
    m_status = status;
    return false;
  }
  return r == 0;
}

namespace {

// Whether every thread of process `pid` is stopped (or already gone).
bool allThreadsStopped(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = ::opendir(tasks.c_str());
  if (dir == nullptr) return false;
  bool stopped = true;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream stat(tasks + "/" + entry->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::string::size_type nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos || nameEnd + 2 >= line.size()) continue;
    if (std::strchr("TtZX", line[nameEnd + 2]) == nullptr) stopped = false;
  }
  ::closedir(dir);
  return stopped;
}

}  // namespace

void ChildProcess::signal(int sig) {
  if (m_reaped) return;
  ::kill(m_pid, sig);
  // kill only queues a stop, and a busy machine can let the child answer
  // calls for a while after it; a test that then measures a silent peer
  // needs the stop to have reached every thread.
  if (sig == SIGSTOP) waitFor([this] { return allThreadsStopped(m_pid); }, 5.0);
}

bool ChildProcess::waitExit(double timeoutSec, int* status) {
  bool exited = waitFor([this] { return !running(); }, timeoutSec);
  if (exited && status) *status = m_status;
  return exited;
}

std::string ChildProcess::stdoutText() const { return readFile(m_dir + "/stdout"); }
std::string ChildProcess::stderrText() const { return readFile(m_dir + "/stderr"); }

bool ChildProcess::waitForStdout(const std::string& needle, double timeoutSec) const {
  return waitFor([&] { return stdoutText().find(needle) != std::string::npos; }, timeoutSec);
}

bool ChildProcess::waitForStderr(const std::string& needle, double timeoutSec) const {
  return waitFor([&] { return stderrText().find(needle) != std::string::npos; }, timeoutSec);
}

NameServer::NameServer() = default;

NameServer::~NameServer() { stop(); }

bool NameServer::start(int port) {
  stop();
  m_port = port ? port : freeTcpPort();
  m_dir = makeTempDir("names");
  std::string endpoint = "giop:tcp:127.0.0.1:" + std::to_string(m_port);
  m_process = new ChildProcess({"/usr/bin/omniNames", "-start", std::to_string(m_port), "-datadir",
                                m_dir, "-logdir", m_dir, "-ignoreport", "-ORBendPoint", endpoint});
  // It answers once its socket accepts a resolve.
  bool up = waitFor(
      [&] {
        if (!m_process->running()) return true;
        try {
          CORBA::Object_var obj = orb()->string_to_object(corbaloc().c_str());
          CosNaming::NamingContext_var nc = CosNaming::NamingContext::_narrow(obj);
          return !CORBA::is_nil(nc);
        } catch (const CORBA::Exception&) {
          return false;
        }
      },
      15);
  return up && m_process->running();
}

void NameServer::stop() {
  if (m_process) {
    m_process->signal(SIGTERM);
    if (!m_process->waitExit(5)) m_process->signal(SIGKILL);
    m_process->waitExit(5);
    delete m_process;
    m_process = nullptr;
  }
  if (!m_dir.empty()) removeTree(m_dir);
  m_dir.clear();
}

std::string NameServer::address() const { return "127.0.0.1:" + std::to_string(m_port); }

std::string NameServer::corbaloc() const {
  return "corbaloc::127.0.0.1:" + std::to_string(m_port) + "/NameService";
}

CORBA::ORB_ptr orb() {
  static CORBA::ORB_var theOrb;
  static std::once_flag once;
  std::call_once(once, [] {
    const char* options[][2] = {{"endPoint", "giop:tcp:127.0.0.1:"},
                                {"clientCallTimeOutPeriod", "10000"},
                                {"giopMaxMsgSize", "104857600"},
                                // Tests that put side by side get a connection each.
                                {"maxGIOPConnectionPerServer", "64"},
                                {nullptr, nullptr}};
    int argc = 0;
    theOrb = CORBA::ORB_init(argc, nullptr, "omniORB4", options);
    CORBA::Object_var poaObj = theOrb->resolve_initial_references("RootPOA");
    PortableServer::POA_var poa = PortableServer::POA::_narrow(poaObj);
    PortableServer::POAManager_var manager = poa->the_POAManager();
    manager->activate();
  });
  return theOrb.in();
}

CORBA::Object_ptr resolveName(const std::string& corbaloc, const std::string& path) {
  try {
    CORBA::Object_var obj = orb()->string_to_object(corbaloc.c_str());
    CosNaming::NamingContext_var nc = CosNaming::NamingContext::_narrow(obj);
    if (CORBA::is_nil(nc)) return CORBA::Object::_nil();
    // Each "id.kind" segment is one naming component, split at the last dot.
    CosNaming::Name name;
    std::stringstream segments(path);
    std::string segment;
    while (std::getline(segments, segment, '/')) {
      if (segment.empty()) continue;
      size_t dot = segment.rfind('.');
      CORBA::ULong i = name.length();
      name.length(i + 1);
      name[i].id = CORBA::string_dup(segment.substr(0, dot).c_str());
      name[i].kind =
          CORBA::string_dup(dot == std::string::npos ? "" : segment.substr(dot + 1).c_str());
    }
    return nc->resolve(name);
  } catch (const CORBA::Exception&) {  // NotFound and an unreachable server alike
    return CORBA::Object::_nil();
  }
}

std::string hostName() {
  char buf[256] = {0};
  ::gethostname(buf, sizeof buf - 1);
  return buf;
}

PrivateXServer::PrivateXServer() {}

PrivateXServer::~PrivateXServer() { delete m_process; }

bool PrivateXServer::start(const XServerOptions& options) {
  if (::access("/usr/bin/Xvfb", X_OK) != 0) return false;
  // -displayfd: the server takes the first free number (or the one given)
  // and writes it once it accepts connections.
  std::vector<std::string> argv = {"/usr/bin/Xvfb", "-displayfd", "1", "-nolisten",
                                   "tcp",           "-screen",    "0", options.screen};
  if (options.sameNumber && !m_display.empty()) argv.insert(argv.begin() + 1, m_display);
  // -noreset: a server left without clients (the probe's) starts over, and
  // refuses connections meanwhile.
  if (!options.resetWhenIdle) argv.push_back("-noreset");
  if (options.withoutSharedMemory) {
    argv.push_back("-extension");
    argv.push_back("MIT-SHM");
  }
  delete m_process;
  m_display.clear();
  m_process = new ChildProcess(argv);
  bool said = waitUntil(
      [this] {
        const std::string out = m_process->stdoutText();
        return out.find('\n') != std::string::npos || !m_process->running();
      },
      20, 2);
  const std::string out = m_process->stdoutText();
  if (!said || out.empty() || !m_process->running()) return false;
  m_display = ":" + out.substr(0, out.find('\n'));
  return true;
}

}  // namespace pixmoor_test
