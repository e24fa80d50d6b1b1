// Frames from an outport in a child process to an inport here, on 127.0.0.1,
// at the viewer's usual sizes, over each interface type (corba_cdr: the
// frame in GIOP; shared_memory: the frame in a segment, GIOP carries only
// the call): frames per second streamed, latency from the sender's time
// stamp to the end of read() (one frame at a time, and at 30 Hz), the time
// read() itself takes on the reading thread, and what receiving costs the
// receiving process's CPU. The baseline, measured in the same run, is one
// memcpy of each frame in this process.
// Ends with one ratio line per size and interface type, the receiving side's
// counters and CPU per frame, and shared_memory against corba_cdr.
// The data types before the port headers, whose templates look up their
// Any operators (see rtm/CdrSerializer.h).
#include <rtm/idl/BasicDataTypeSkel.h>

#include <benchmark/benchmark.h>
#include <poll.h>
#include <rtm/DataInPort.h>
#include <rtm/DataOutPort.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

// Every allocation in this process is counted, so that the figures can say
// how many the receiving side makes per frame.
#include "AllocationCounter.h"

namespace {

// The third argument of the streaming benchmarks indexes this.
const char* const kInterfaces[] = {"corba_cdr", "shared_memory"};
const int kInterfaceCount = 2;

double wallNow() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

CORBA::ORB_ptr startOrb() {
  // A 3840x2160 frame is 33.2 MB; omniORB's default limit is 2 MiB.
  const char* options[][2] = {
      {"endPoint", "giop:tcp:127.0.0.1:"}, {"giopMaxMsgSize", "134217728"}, {nullptr, nullptr}};
  int argc = 0;
  CORBA::ORB_ptr orb = CORBA::ORB_init(argc, nullptr, "omniORB4", options);
  CORBA::Object_var obj = orb->resolve_initial_references("RootPOA");
  PortableServer::POA_var poa = PortableServer::POA::_narrow(obj);
  PortableServer::POAManager_var manager = poa->the_POAManager();
  manager->activate();
  return orb;
}

// Reads one line from `fd` into `line`; false at end of file.
bool readLine(int fd, std::string& pending, std::string& line) {
  for (;;) {
    const std::string::size_type nl = pending.find('\n');
    if (nl != std::string::npos) {
      line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      return true;
    }
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    pending.append(buf, static_cast<size_t>(n));
  }
}

bool inputWaiting(int fd, const std::string& pending) {
  if (pending.find('\n') != std::string::npos) return true;
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// The sending process: an outport per interface type (each to be joined to
// one inport of the receiver) that writes frames on command from its
// standard input ("via I", "frame W H", "send N", "stream" ... "stop",
// "quit"; "via" picks the outport that writes) and answers "ok" when a
// command is done.
int runSender() {
  CORBA::ORB_var orb = startOrb();
  RTC::TimedLongSeq value;
  RTC::OutPort<RTC::TimedLongSeq> cdrOut("out_cdr", value), shmOut("out_shm", value);
  RTC::OutPort<RTC::TimedLongSeq>* const outs[kInterfaceCount] = {&cdrOut, &shmOut};
  for (RTC::OutPort<RTC::TimedLongSeq>* out : outs) {
    out->setOwner(RTC::RTObject::_nil(), "BenchSource0");
    RTC::PortService_var ref = out->getPortRef();
    CORBA::String_var ior = orb->object_to_string(ref);
    std::printf("IOR %s\n", ior.in());
  }
  std::fflush(stdout);
  RTC::OutPort<RTC::TimedLongSeq>* out = outs[0];
  std::string pending, line;
  auto send = [&] {
    setTimestamp(value);
    out->write();
  };
  while (readLine(0, pending, line)) {
    unsigned w = 0, h = 0, n = 0;
    if (std::sscanf(line.c_str(), "via %u", &n) == 1 &&
        n < static_cast<unsigned>(kInterfaceCount)) {
      out = outs[n];
    } else if (std::sscanf(line.c_str(), "frame %u %u", &w, &h) == 2) {
      value.data.length(w * h);
      for (CORBA::ULong i = 0; i < w * h; ++i)
        value.data[i] = static_cast<CORBA::Long>(i * 2654435761u);
    } else if (std::sscanf(line.c_str(), "send %u", &n) == 1) {
      for (unsigned i = 0; i < n; ++i) send();
    } else if (line == "stream") {
      while (!inputWaiting(0, pending)) send();
      readLine(0, pending, line);  // "stop"
    } else if (line == "quit") {
      break;
    }
    std::printf("ok\n");
    std::fflush(stdout);
  }
  for (RTC::OutPort<RTC::TimedLongSeq>* port : outs) port->deactivatePort();
  orb->destroy();
  return 0;
}

// The child process and the pipes to it.
class Sender {
 public:
  bool start(const char* self) {
    int toChild[2], fromChild[2];
    if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) return false;
    m_pid = ::fork();
    if (m_pid < 0) return false;
    if (m_pid == 0) {
      ::dup2(toChild[0], 0);
      ::dup2(fromChild[1], 1);
      ::close(toChild[1]);
      ::close(fromChild[0]);
      ::execl(self, self, "--sender", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    m_to = toChild[1];
    m_from = fromChild[0];
    for (std::string& ior : m_iors) {
      std::string line;
      if (!readLine(m_from, m_pending, line) || line.compare(0, 4, "IOR ") != 0) return false;
      ior = line.substr(4);
    }
    return true;
  }
  ~Sender() {
    if (m_pid > 0) {
      post("quit");
      ::close(m_to);
      int status = 0;
      for (int i = 0; i < 100 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, &status, 0);
    }
  }
  void post(const std::string& command) {
    const std::string line = command + "\n";
    if (::write(m_to, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      std::fprintf(stderr, "the sender process is gone\n");
      std::exit(1);
    }
  }
  // Returns whether the sender answered "ok" (waiting when `block`).
  bool answered(bool block) {
    if (!block && !inputWaiting(m_from, m_pending)) return false;
    std::string line;
    return readLine(m_from, m_pending, line) && line == "ok";
  }
  void command(const std::string& c) {
    post(c);
    answered(true);
  }
  // The outport of interface type `index` (see kInterfaces).
  const std::string& ior(int index) const { return m_iors[index]; }

 private:
  pid_t m_pid = -1;
  int m_to = -1, m_from = -1;
  std::string m_pending, m_iors[kInterfaceCount];
};

struct Receiver {
  explicit Receiver(const char* name) : port(name, value) {}
  RTC::TimedLongSeq value;
  RTC::InPort<RTC::TimedLongSeq> port;
  bool connected = false;
};

Sender* g_sender = nullptr;
Receiver* g_receivers[kInterfaceCount] = {};
Receiver* g_receiver = nullptr;  // the one the running benchmark reads

double threadCpuNow() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

double processCpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Time spent inside read() since the last reset, on the clock and on the
// reading thread's CPU: what that thread pays per frame, and how much of it
// is work rather than waiting for a lock or the scheduler.
double g_readSeconds = 0;
double g_readCpuSeconds = 0;

// Waits for the next frame and reads it; returns tm -> end of read().
double readNext() {
  while (!g_receiver->port.isNew()) std::this_thread::yield();
  const double start = wallNow();
  const double cpuStart = threadCpuNow();
  g_receiver->port.read();
  g_readCpuSeconds += threadCpuNow() - cpuStart;
  const double end = wallNow();
  g_readSeconds += end - start;
  return end - (g_receiver->value.tm.sec + g_receiver->value.tm.nsec * 1e-9);
}

// Picks the connection of the benchmark's interface type and the frame
// size; false (the benchmark skipped, with the reason) when the ports did
// not take that interface type.
bool setFrame(benchmark::State& state) {
  const int via = static_cast<int>(state.range(2));
  g_receiver = g_receivers[via];
  if (!g_receiver->connected) {
    state.SkipWithError((std::string("the ports refused ") + kInterfaces[via]).c_str());
    return false;
  }
  g_sender->command("via " + std::to_string(via));
  g_sender->command("frame " + std::to_string(state.range(0)) + " " +
                    std::to_string(state.range(1)));
  return true;
}

void reportFrames(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(1) * 4);
}

// The baseline: one copy of each frame's bytes into a kept buffer.
void BM_Memcpy(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0) * state.range(1) * 4);
  std::vector<char> from(bytes, 1), to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
  }
  reportFrames(state);
}

// The sender writes as fast as the connection takes frames; this side reads
// each one into its bound sample.
void BM_Stream(benchmark::State& state) {
  if (!setFrame(state)) return;
  g_sender->post("send 1");  // warm: the first frame of a size allocates
  readNext();
  g_sender->answered(true);
  const RTC::InPortBase::Counters before = g_receiver->port.counters();
  const unsigned long allocations = pixmoor_test::allocationCount();
  g_sender->post("stream");
  double latency = 0;
  g_readSeconds = 0;
  g_readCpuSeconds = 0;
  // The reading thread spins between frames; the rest of the process is
  // what receiving costs (the ORB's threads: the socket, or the segment).
  const double processCpuStart = processCpuNow();
  const double threadCpuStart = threadCpuNow();
  for (auto _ : state) latency += readNext();
  const double receivingCpu =
      (processCpuNow() - processCpuStart) - (threadCpuNow() - threadCpuStart) + g_readCpuSeconds;
  const double reading = g_readSeconds;
  const double readingCpu = g_readCpuSeconds;
  const unsigned long allocated = pixmoor_test::allocationCount() - allocations;
  const RTC::InPortBase::Counters after = g_receiver->port.counters();
  g_sender->post("stop");
  while (!g_sender->answered(false)) {
    if (g_receiver->port.isNew()) g_receiver->port.read();
  }
  while (g_receiver->port.isNew()) g_receiver->port.read();
  reportFrames(state);
  const double n = static_cast<double>(state.iterations());
  state.counters["latency_ms"] = latency / n * 1e3;
  state.counters["read_ms"] = reading / n * 1e3;
  state.counters["read_cpu_ms"] = readingCpu / n * 1e3;
  state.counters["rx_cpu_ms"] = receivingCpu / n * 1e3;
  state.counters["allocs/frame"] = allocated / n;
  state.counters["adopted%"] =
      100.0 * (after.adopted - before.adopted) / std::max(1ul, after.stored - before.stored);
}

// One frame at a time: the time stamp is taken just before write().
void BM_Latency(benchmark::State& state) {
  if (!setFrame(state)) return;
  g_sender->post("send 1");
  readNext();
  g_sender->answered(true);
  double latency = 0;
  for (auto _ : state) {
    g_sender->post("send 1");
    latency += readNext();
    g_sender->answered(true);
  }
  reportFrames(state);
  state.counters["latency_ms"] = latency / static_cast<double>(state.iterations()) * 1e3;
}

// One frame every 1/30 s, as a camera sends them: the latency, and the
// receiving process's CPU as a share of one core (the reading thread, which
// spins while a frame is on its way, counted only inside read()).
void BM_At30Hz(benchmark::State& state) {
  if (!setFrame(state)) return;
  g_sender->post("send 1");
  readNext();
  g_sender->answered(true);
  const double period = 1.0 / 30;
  double latency = 0;
  g_readCpuSeconds = 0;
  const double start = wallNow();
  const double processCpuStart = processCpuNow();
  const double threadCpuStart = threadCpuNow();
  double due = start;
  for (auto _ : state) {
    due += period;
    const double wait = due - wallNow();
    if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    g_sender->post("send 1");
    latency += readNext();
    g_sender->answered(true);
  }
  const double receivingCpu =
      (processCpuNow() - processCpuStart) - (threadCpuNow() - threadCpuStart) + g_readCpuSeconds;
  const double elapsed = wallNow() - start;
  reportFrames(state);
  state.counters["latency_ms"] = latency / static_cast<double>(state.iterations()) * 1e3;
  state.counters["rx_cpu%"] = 100.0 * receivingCpu / elapsed;
}

void frameSizes(benchmark::internal::Benchmark* bench) {
  bench->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160});
  bench->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Each size over each interface type, all in one run.
void frameSizesAndInterfaces(benchmark::internal::Benchmark* bench) {
  for (int via = 0; via < kInterfaceCount; ++via) {
    bench->Args({640, 480, via})->Args({1920, 1080, via})->Args({3840, 2160, via});
  }
  bench->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Memcpy)->Apply(frameSizes);
BENCHMARK(BM_Stream)->Apply(frameSizesAndInterfaces);
BENCHMARK(BM_Latency)->Apply(frameSizesAndInterfaces);
BENCHMARK(BM_At30Hz)->Apply(frameSizesAndInterfaces)->MinTime(2.0);

// Prints as usual and keeps each run's time per frame and counters.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      // Names without the "/min_time:..." a family's own minimum time adds.
      std::string name = run.benchmark_name();
      const std::string::size_type minTime = name.find("/min_time:");
      if (minTime != std::string::npos) name.erase(minTime, name.find('/', minTime + 1) - minTime);
      Result& r = m_results[name];
      r.seconds = run.GetAdjustedRealTime() * 1e-3;
      for (const auto& c : run.counters) r.counters[c.first] = c.second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void printRatios() const {
    std::printf(
        "\nBetween two processes on 127.0.0.1 against one in-process memcpy per "
        "frame (same run):\n");
    for (const char* size : {"640/480", "1920/1080", "3840/2160"}) {
      const Result* copy = find("BM_Memcpy/" + std::string(size));
      if (copy == nullptr) continue;
      for (int via = 0; via < kInterfaceCount; ++via) {
        const Result* stream = find(streamName("BM_Stream/", size, via));
        const Result* latency = find(streamName("BM_Latency/", size, via));
        if (stream == nullptr || latency == nullptr) continue;
        std::printf(
            "  %-10s %-13s memcpy %7.3f ms (%6.0f fps) | stream %7.3f ms/frame (%6.1f fps, "
            "%5.1fx memcpy) | latency tm->read %7.3f ms alone (%5.1fx memcpy), %7.3f ms "
            "streaming | read() %6.3f ms (%4.2fx memcpy), %6.3f ms of CPU | receiving %6.3f ms "
            "of CPU | allocations/frame %.1f, adopted %.0f%%\n",
            size, kInterfaces[via], copy->seconds * 1e3, 1 / copy->seconds, stream->seconds * 1e3,
            1 / stream->seconds, stream->seconds / copy->seconds, latency->counter("latency_ms"),
            latency->counter("latency_ms") * 1e-3 / copy->seconds, stream->counter("latency_ms"),
            stream->counter("read_ms"), stream->counter("read_ms") * 1e-3 / copy->seconds,
            stream->counter("read_cpu_ms"), stream->counter("rx_cpu_ms"),
            stream->counter("allocs/frame"), stream->counter("adopted%"));
      }
    }
    bool headed = false;
    for (const char* size : {"640/480", "1920/1080", "3840/2160"}) {
      const Result* cdrStream = find(streamName("BM_Stream/", size, 0));
      const Result* shmStream = find(streamName("BM_Stream/", size, 1));
      const Result* cdrLatency = find(streamName("BM_Latency/", size, 0));
      const Result* shmLatency = find(streamName("BM_Latency/", size, 1));
      const Result* cdrPaced = find(streamName("BM_At30Hz/", size, 0));
      const Result* shmPaced = find(streamName("BM_At30Hz/", size, 1));
      if (!cdrStream || !shmStream || !cdrLatency || !shmLatency || !cdrPaced || !shmPaced)
        continue;
      if (!headed) {
        std::printf(
            "\nshared_memory against corba_cdr (same run; frames above 1 are more, "
            "times below 1 are shorter):\n");
        headed = true;
      }
      std::printf(
          "  %-10s frames flat out %5.2fx | latency alone %5.2fx (%.3f ms against %.3f ms) | "
          "receiving CPU per frame %5.2fx (%.3f ms against %.3f ms) | at 30 Hz latency "
          "%.3f ms against %.3f ms, receiving CPU %.1f %% against %.1f %%\n",
          size, cdrStream->seconds / shmStream->seconds,
          shmLatency->counter("latency_ms") / cdrLatency->counter("latency_ms"),
          shmLatency->counter("latency_ms"), cdrLatency->counter("latency_ms"),
          shmStream->counter("rx_cpu_ms") / cdrStream->counter("rx_cpu_ms"),
          shmStream->counter("rx_cpu_ms"), cdrStream->counter("rx_cpu_ms"),
          shmPaced->counter("latency_ms"), cdrPaced->counter("latency_ms"),
          shmPaced->counter("rx_cpu%"), cdrPaced->counter("rx_cpu%"));
    }
  }

 private:
  struct Result {
    double seconds = 0;
    std::map<std::string, double> counters;
    double counter(const std::string& name) const {
      const auto found = counters.find(name);
      return found == counters.end() ? 0.0 : found->second;
    }
  };
  static std::string streamName(const std::string& family, const char* size, int via) {
    return family + size + "/" + std::to_string(via);
  }
  const Result* find(const std::string& name) const {
    const auto found = m_results.find(name + "/real_time");
    return found == m_results.end() ? nullptr : &found->second;
  }
  std::map<std::string, Result> m_results;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--sender") == 0) return runSender();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  CORBA::ORB_var orb = startOrb();
  int result = 0;
  {
    Sender sender;
    if (!sender.start("/proc/self/exe")) {
      std::fprintf(stderr, "cannot start the sending process\n");
      return 1;
    }
    Receiver cdrReceiver("in_cdr"), shmReceiver("in_shm");
    Receiver* const receivers[kInterfaceCount] = {&cdrReceiver, &shmReceiver};
    for (int via = 0; via < kInterfaceCount; ++via) {
      Receiver& receiver = *receivers[via];
      g_receivers[via] = &receiver;
      receiver.port.setOwner(RTC::RTObject::_nil(), "BenchSink0");
      CORBA::Object_var obj = orb->string_to_object(sender.ior(via).c_str());
      RTC::PortService_var out = RTC::PortService::_narrow(obj);
      RTC::PortService_var in = receiver.port.getPortRef();
      RTC::ConnectorProfile profile;
      profile.name = CORBA::string_dup("bench");
      profile.connector_id = CORBA::string_dup("");
      profile.ports.length(2);
      profile.ports[0] = RTC::PortService::_duplicate(out);
      profile.ports[1] = RTC::PortService::_duplicate(in);
      coil::Properties props;
      props.setProperty("dataport.interface_type", kInterfaces[via]);
      props.setProperty("dataport.dataflow_type", "push");
      props.setProperty("dataport.subscription_type", "flush");
      // Two slots and a blocking writer: nothing is dropped, and the sender
      // runs at most a frame or two ahead of the reader.
      props.setProperty("dataport.buffer.length", "2");
      props.setProperty("dataport.buffer.write.full_policy", "block");
      props.setProperty("dataport.buffer.write.timeout", "60");
      props.setProperty("dataport.buffer.read.empty_policy", "do_nothing");
      const auto& entries = props.entries();
      profile.properties.length(static_cast<CORBA::ULong>(entries.size()));
      for (CORBA::ULong i = 0; i < entries.size(); ++i) {
        profile.properties[i].name = CORBA::string_dup(entries[i].first.c_str());
        profile.properties[i].value <<= entries[i].second.c_str();
      }
      receiver.connected = out->connect(profile) == RTC::RTC_OK;
      if (!receiver.connected) {
        std::fprintf(stderr, "cannot connect the sender's outport to the inport over %s\n",
                     kInterfaces[via]);
      }
    }
    // corba_cdr is the baseline: without it there is nothing to compare.
    if (!cdrReceiver.connected) {
      result = 1;
    } else {
      g_sender = &sender;
      RatioReporter reporter;
      benchmark::RunSpecifiedBenchmarks(&reporter);
      reporter.printRatios();
    }
    g_sender = nullptr;
    g_receiver = nullptr;
    for (Receiver* receiver : receivers) {
      receiver->port.disconnect_all();
      receiver->port.deactivatePort();
    }
    for (Receiver*& receiver : g_receivers) receiver = nullptr;
  }
  benchmark::Shutdown();
  orb->destroy();
  return result;
}
