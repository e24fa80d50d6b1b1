// FrameSource -> viewer in separate processes, as a user runs them: counter
// frames pushed (flush) flat out and at 30 Hz, at 640x480, 1920x1080 and
// 3840x2160, into PixmoorComp and, as the baseline in the same run, into
// FrameSinkComp in its decode mode: the viewer's work short of the window, so
// that the difference between the two is what the window costs; the viewer
// with OpenCV's window ("viewer") and with its own ("x11"). Each case over
// corba_cdr and, at 1920x1080 and 3840x2160, over shared_memory. Prints
// shown fps, mean and p99 age from tm to the window, frames lost and the
// receiver's CPU, then shared_memory against corba_cdr.
//
//   bench/endtoend/bench_endtoend [--quick] [--seconds S] [--buffer-length N]
//                                 [--interface corba_cdr|shared_memory]
//
// Uses its own omniNames on 127.0.0.1 and, when DISPLAY is unset, its own Xvfb.
// The figures come from the receivers' SDO status (see rtmctl stats), read
// right after each refresh, and the CPU from /proc/<pid>/stat.
#include <rtm/idl/RTCSkel.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

using pixmoor_test::ChildProcess;

namespace {

struct Options {
  double seconds = 5.0;  // measured per case, after a warm-up
  double warmup = 1.5;
  std::string bufferLength;  // "" keeps the connector's default
  std::vector<std::string> interfaces = {"corba_cdr", "shared_memory"};
};

// One reading of a receiver: its status, when it was published (near
// enough), and its CPU time.
struct Reading {
  double time = 0;
  double cpuSeconds = 0;
  double read = 0, shown = 0, arrived = 0, overwritten = 0, refused = 0;
  std::vector<double> histogram;  // counts per bin
  double binMs = 0.25;
};

struct Result {
  double fps = 0, meanMs = 0, p99Ms = 0, lost = 0, cpu = 0;
  bool ok = false;
};

double number(const CORBA::Any& value) {
  CORBA::ULongLong count = 0;
  CORBA::Double d = 0;
  if (value >>= count) return static_cast<double>(count);
  if (value >>= d) return d;
  return 0;
}

// "0.25ms i:n i:n ..." -> counts per bin.
void parseHistogram(const std::string& text, Reading* r) {
  std::istringstream in(text);
  std::string word;
  in >> word;
  r->binMs = std::atof(word.c_str());
  while (in >> word) {
    const std::size_t colon = word.find(':');
    const std::size_t bin = std::strtoul(word.c_str(), nullptr, 10);
    if (r->histogram.size() <= bin) r->histogram.resize(bin + 1, 0);
    r->histogram[bin] = std::atof(word.c_str() + colon + 1);
  }
}

double cpuSeconds(pid_t pid) {
  const std::string stat = pixmoor_test::readFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool readStatus(RTC::RTObject_ptr rtc, const std::string& port, Reading* r) {
  SDOPackage::NVList_var list;
  try {
    list = rtc->get_status_list();
  } catch (const CORBA::Exception&) {
    return false;
  }
  *r = Reading();
  for (CORBA::ULong i = 0; i < list->length(); ++i) {
    const std::string name = static_cast<const char*>(list[i].name);
    const char* text = nullptr;
    if (name == "age.histogram" && (list[i].value >>= text)) parseHistogram(text, r);
    if (name == "frames.read") r->read = number(list[i].value);
    if (name == "frames.shown") r->shown = number(list[i].value);
    if (name == "port." + port + ".arrived") r->arrived = number(list[i].value);
    if (name == "port." + port + ".overwritten") r->overwritten = number(list[i].value);
    if (name == "port." + port + ".refused") r->refused = number(list[i].value);
  }
  return true;
}

// Waits for the next refresh of the status (once a second) and reads it.
bool freshReading(RTC::RTObject_ptr rtc, const std::string& port, pid_t pid, Reading* r) {
  Reading before;
  if (!readStatus(rtc, port, &before)) return false;
  const double end = pixmoor_test::now() + 3;
  while (pixmoor_test::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!readStatus(rtc, port, r)) return false;
    if (r->arrived != before.arrived || r->read != before.read ||
        r->histogram != before.histogram) {
      r->time = pixmoor_test::now();
      r->cpuSeconds = cpuSeconds(pid);
      return true;
    }
  }
  return false;
}

Result compare(const Reading& a, const Reading& b) {
  Result res;
  const double dt = b.time - a.time;
  if (dt <= 0) return res;
  res.fps = (b.shown - a.shown) / dt;
  res.lost = (b.overwritten - a.overwritten) + (b.refused - a.refused);
  res.cpu = 100.0 * (b.cpuSeconds - a.cpuSeconds) / dt;
  std::vector<double> bins(std::max(a.histogram.size(), b.histogram.size()), 0);
  double total = 0, sum = 0;
  for (std::size_t i = 0; i < bins.size(); ++i) {
    bins[i] = (i < b.histogram.size() ? b.histogram[i] : 0) -
              (i < a.histogram.size() ? a.histogram[i] : 0);
    total += bins[i];
    sum += bins[i] * (static_cast<double>(i) + 0.5) * b.binMs;
  }
  if (total <= 0) return res;
  res.meanMs = sum / total;
  double seen = 0;
  for (std::size_t i = 0; i < bins.size(); ++i) {
    seen += bins[i];
    if (seen >= 0.99 * total) {
      res.p99Ms = (static_cast<double>(i) + 1) * b.binMs;
      break;
    }
  }
  res.ok = true;
  return res;
}

class Bench {
 public:
  explicit Bench(const Options& options)
      : m_options(options), m_dir(pixmoor_test::makeTempDir("endtoend")) {}
  ~Bench() {
    m_processes.clear();
    m_names.stop();
    pixmoor_test::removeTree(m_dir);
  }

  bool start() {
    if (!m_names.start()) {
      std::fprintf(stderr, "bench_endtoend: omniNames did not start\n");
      return false;
    }
    m_context = "/" + m_names.address() + "/" + pixmoor_test::hostName() + ".host_cxt/";
    return true;
  }

  // Runs one case; `receiver` is "viewer" (OpenCV's window), "x11" (the
  // viewer's own window) or "sink"; `interfaceType` is the connection's.
  Result run(const std::string& receiver, int width, int height, double rate,
             const std::string& interfaceType) {
    const bool viewer = receiver == "viewer" || receiver == "x11";
    const std::string instance = viewer ? "Pixmoor0" : "FrameSink0";
    const std::string port = viewer ? "image" : "in";
    m_processes.clear();  // the previous case's, killed
    ChildProcess& rx = host(viewer ? "host/PixmoorComp" : "tests/fixtures/FrameSink/FrameSinkComp",
                            receiver, receiver == "x11" ? "Generic.Pixmoor.display: x11\n" : "");
    host("tools/framesource/FrameSourceComp", "source",
         "exec_cxt.periodic.rate: " + std::to_string(rate) + "\n");
    Result none;
    if (!waitBound(instance) || !waitBound("FrameSource0")) return none;
    const std::string src = m_context + "FrameSource0.rtc";
    const std::string dst = m_context + instance + ".rtc";
    std::vector<std::vector<std::string>> steps = {
        {"config", "set", src, "pattern", "counter"},
        {"config", "set", src, "width", std::to_string(width)},
        {"config", "set", src, "height", std::to_string(height)}};
    if (viewer) {
      steps.push_back({"config", "set", dst, "input_image_width", std::to_string(width)});
      steps.push_back({"config", "set", dst, "input_image_height", std::to_string(height)});
    } else {
      steps.push_back({"config", "set", dst, "mode", "decode"});
    }
    std::vector<std::string> connect = {"connect",        src + ":out", dst + ":" + port,
                                        "--subscription", "flush",      "--interface",
                                        interfaceType};
    if (!m_options.bufferLength.empty()) {
      connect.push_back("--buffer-length");
      connect.push_back(m_options.bufferLength);
    }
    steps.push_back(connect);
    steps.push_back({"activate", dst, src});
    for (const auto& step : steps) {
      if (!rtmctl(step)) return none;
    }
    CORBA::Object_var obj = pixmoor_test::resolveName(
        m_names.corbaloc(), pixmoor_test::hostName() + ".host_cxt/" + instance + ".rtc");
    RTC::RTObject_var rtc = RTC::RTObject::_narrow(obj);
    if (CORBA::is_nil(rtc)) return none;
    std::this_thread::sleep_for(std::chrono::duration<double>(m_options.warmup));
    Reading a, b;
    bool read = freshReading(rtc, port, rx.pid(), &a);
    if (read) {
      std::this_thread::sleep_for(std::chrono::duration<double>(m_options.seconds - 1));
      read = freshReading(rtc, port, rx.pid(), &b);
    }
    if (!read) {
      std::fprintf(stderr, "bench_endtoend: %s published no figures within 3 s\n",
                   instance.c_str());
      return none;
    }
    rtmctl({"deactivate", src});
    return compare(a, b);
  }

 private:
  ChildProcess& host(const std::string& binary, const std::string& name, const std::string& extra) {
    const std::string conf = m_dir + "/" + name + ".conf";
    pixmoor_test::writeFile(conf, "corba.nameservers: " + m_names.address() +
                                      "\ncorba.endpoint: 127.0.0.1:\n"
                                      "naming.formats: %h.host_cxt/%n.rtc\n"
                                      "logger.file_name: " +
                                      m_dir + "/" + name +
                                      ".log\n"
                                      "exec_cxt.transition_timeout: 5\n" +
                                      extra);
    m_processes.emplace_back(
        new ChildProcess({pixmoor_test::buildPath(binary), "-f", conf}, {}, m_dir));
    return *m_processes.back();
  }

  bool waitBound(const std::string& instance) {
    const bool bound = pixmoor_test::waitUntil(
        [&] {
          CORBA::Object_var obj = pixmoor_test::resolveName(
              m_names.corbaloc(), pixmoor_test::hostName() + ".host_cxt/" + instance + ".rtc");
          if (CORBA::is_nil(obj)) return false;
          // The last case's process left its binding behind when it was killed.
          try {
            return !obj->_non_existent();
          } catch (const CORBA::Exception&) {
            return false;
          }
        },
        20, 50);
    if (!bound) std::fprintf(stderr, "bench_endtoend: %s did not come up\n", instance.c_str());
    return bound;
  }

  bool rtmctl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {pixmoor_test::buildPath("tools/rtmctl/rtmctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess ctl(argv);
    int status = -1;
    if (ctl.waitExit(30, &status) && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    std::fprintf(stderr, "bench_endtoend: rtmctl %s failed: %s\n", args[0].c_str(),
                 ctl.stderrText().c_str());
    return false;
  }

  Options m_options;
  std::string m_dir;
  std::string m_context;
  pixmoor_test::NameServer m_names;
  std::vector<std::unique_ptr<ChildProcess>> m_processes;
};

// Starts an Xvfb of our own on the first free display from :50 when there is
// no display; it ends with the benchmark.
std::unique_ptr<ChildProcess> ensureDisplay() {
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') return nullptr;  // empty means none
  for (int n = 50; n < 100; ++n) {
    if (access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0) continue;
    if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) continue;
    std::unique_ptr<ChildProcess> xvfb(
        new ChildProcess({"/usr/bin/Xvfb", ":" + std::to_string(n), "-screen", "0", "4096x2304x24",
                          "-noreset", "-nolisten", "tcp"}));
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (pixmoor_test::waitUntil([&] { return access(socket.c_str(), F_OK) == 0; }, 10, 20)) {
      setenv("DISPLAY", (":" + std::to_string(n)).c_str(), 1);
      return xvfb;
    }
  }
  std::fprintf(stderr, "bench_endtoend: no DISPLAY and no Xvfb could be started\n");
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      options.seconds = 3;
      options.warmup = 1;
    } else if (arg == "--seconds" && i + 1 < argc) {
      options.seconds = std::max(2.0, std::atof(argv[++i]));
    } else if (arg == "--buffer-length" && i + 1 < argc) {
      options.bufferLength = argv[++i];
    } else if (arg == "--interface" && i + 1 < argc) {
      options.interfaces = {argv[++i]};
    } else {
      std::printf(
          "Usage: bench_endtoend [--quick] [--seconds S] [--buffer-length N]\n"
          "                      [--interface corba_cdr|shared_memory]\n");
      return arg == "--help" || arg == "-h" ? 0 : 2;
    }
  }
  std::unique_ptr<ChildProcess> xvfb = ensureDisplay();
  pixmoor_test::orb();
  Bench bench(options);
  if (!bench.start()) return 1;

  const struct { int width, height; } sizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};
  const double kFlatOut = 100000;  // the source's cycle rate: as fast as the push returns
  std::printf("%-10s %-8s %-7s %-13s %9s %10s %10s %9s %8s\n", "size", "rate", "into", "via",
              "shown/s", "mean ms", "p99 ms", "lost/s", "CPU %");
  // shared_memory against corba_cdr, case by case, once the table is done.
  std::vector<std::string> comparisons;
  for (const auto& size : sizes) {
    for (double rate : {kFlatOut, 30.0}) {
      for (const char* receiver : {"sink", "viewer", "x11"}) {
        const std::string sizeText = std::to_string(size.width) + "x" + std::to_string(size.height);
        const std::string rateText = rate == kFlatOut ? "flat out" : "30 Hz";
        std::map<std::string, Result> byInterface;
        for (const std::string& via : options.interfaces) {
          // Shared memory is for large frames; small ones keep the run short.
          if (via != "corba_cdr" && size.width < 1920 && options.interfaces.size() > 1) continue;
          const Result r = bench.run(receiver, size.width, size.height, rate, via);
          if (!r.ok) {
            std::printf("%-10s %-8s %-7s %-13s   (failed)\n", sizeText.c_str(), rateText.c_str(),
                        receiver, via.c_str());
            continue;
          }
          byInterface[via] = r;
          std::printf("%-10s %-8s %-7s %-13s %9.1f %10.1f %10.1f %9.1f %8.0f\n", sizeText.c_str(),
                      rateText.c_str(), receiver, via.c_str(), r.fps, r.meanMs, r.p99Ms,
                      r.lost / options.seconds, r.cpu);
          std::fflush(stdout);
        }
        if (byInterface.count("corba_cdr") == 0 || byInterface.count("shared_memory") == 0)
          continue;
        const Result& cdr = byInterface["corba_cdr"];
        const Result& shm = byInterface["shared_memory"];
        char line[256];
        std::snprintf(line, sizeof line,
                      "%-10s %-8s %-7s shown %5.2fx | mean age %5.2fx (%.1f against %.1f ms) | "
                      "CPU %5.2fx (%.0f %% against %.0f %%)",
                      sizeText.c_str(), rateText.c_str(), receiver, shm.fps / cdr.fps,
                      shm.meanMs / cdr.meanMs, shm.meanMs, cdr.meanMs, shm.cpu / cdr.cpu, shm.cpu,
                      cdr.cpu);
        comparisons.push_back(line);
      }
    }
  }
  if (!comparisons.empty()) {
    std::printf("\nshared_memory against corba_cdr (same run):\n");
    for (const std::string& line : comparisons) std::printf("  %s\n", line.c_str());
  }
  return 0;
}
