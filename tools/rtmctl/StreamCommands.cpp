#include "StreamCommands.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <opencv2/imgcodecs.hpp>

#include "ArgParser.h"
#include "CtlError.h"
#include "ImageUtil.h"
#include "InterruptGuard.h"
#include "RateMeter.h"
#include "TemporaryInPort.h"

namespace rtmctl {

namespace {

const char* const kHzUsage =
    "Usage: rtmctl hz OUTPORT [--count N] [--seconds S] [--interface TYPE]\n"
    "                 [--endpoint HOST[:PORT]]\n"
    "\n"
    "Connects an inport of rtmctl's own to the RTC::TimedLongSeq outport OUTPORT\n"
    "(push, subscription new) and prints once a second: frames/s, MB/s (10^6 bytes\n"
    "of CDR data), the last sample's size in elements and bytes, and the samples'\n"
    "age from their time stamps (mean and worst). Ctrl-C, --count or --seconds\n"
    "ends it; the connection is removed on the way out.\n"
    "\n"
    "  e.g. rtmctl hz /localhost/h.host_cxt/FrameSource0.rtc:out --seconds 5\n"
    "\n"
    "Options:\n"
    "  -n, --count N    stop after N samples\n"
    "  -s, --seconds S  stop after S seconds\n"
    "  --interface TYPE dataport.interface_type of the connection (default\n"
    "                   corba_cdr; shared_memory when OUTPORT is on this host)\n"
    "  --endpoint HOST[:PORT]\n"
    "                   where rtmctl's inport listens for the outport's calls\n"
    "                   (default 127.0.0.1 for a name server on this host, else\n"
    "                   every interface)\n";

const char* const kSnapshotUsage =
    "Usage: rtmctl snapshot OUTPORT WIDTHxHEIGHT FILE [--wait S] [--interface TYPE]\n"
    "                       [--endpoint HOST[:PORT]]\n"
    "\n"
    "Takes the next sample the RTC::TimedLongSeq outport OUTPORT sends and writes\n"
    "it as a picture (the format follows FILE's extension: .png, .jpg, .bmp ...).\n"
    "Each element is one pixel, row by row from the top: blue in bits 0-7, green\n"
    "8-15, red 16-23. The sample must hold exactly WIDTH x HEIGHT elements.\n"
    "\n"
    "  e.g. rtmctl snapshot /localhost/h.host_cxt/FrameSource0.rtc:out 640x480 frame.png\n"
    "\n"
    "Options:\n"
    "  -w, --wait S     give up when no sample came within S seconds (default 10)\n"
    "  --interface TYPE as for rtmctl hz\n"
    "  --endpoint HOST[:PORT]\n"
    "                   where rtmctl's inport listens (see rtmctl hz --help)\n";

double monotonicSec() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double wallClockSec() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

double positiveNumber(const ParsedArgs& parsed, const std::string& option,
                      const std::string& command, bool integer) {
  const std::string text = parsed.value(option);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value > 0) || !std::isfinite(value) ||
      (integer && value != std::floor(value))) {
    throw usageError("--" + option + " '" + text + "' is not a " +
                     (integer ? "whole number" : "number") + " above 0 (see rtmctl " + command +
                     " --help)");
  }
  return value;
}

RtmPath outportPath(const std::string& text) {
  RtmPath path = parseRtmPath(text);
  if (path.portName.empty()) {
    throw usageError("'" + text + "' names no port: add ':<port>', e.g. " + path.objectPath() +
                     ":out");
  }
  return path;
}

bool isLoopback(const std::string& host) {
  return host == "localhost" || host.compare(0, 4, "127.") == 0 || host == "::1";
}

// The ORB serves the temporary inport: on loopback for a local name server
// (peers there are local too), on every interface otherwise, unless told.
std::string endpointFor(const RtmPath& path, const ParsedArgs& parsed) {
  if (parsed.has("endpoint")) {
    const std::string where = parsed.value("endpoint");
    if (where.empty()) throw usageError("--endpoint needs HOST or HOST:PORT");
    return "giop:tcp:" + where + (where.find(':') == std::string::npos ? ":" : "");
  }
  return isLoopback(path.host) ? "giop:tcp:127.0.0.1:" : "giop:tcp::";
}

struct FrameSize {
  int width = 0;
  int height = 0;
};

FrameSize parseFrameSize(const std::string& text) {
  FrameSize size;
  char x = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &size.width, &x, &size.height, &rest) != 3 ||
      (x != 'x' && x != 'X') || size.width <= 0 || size.height <= 0 ||
      static_cast<long long>(size.width) * size.height > ImageUtil::kMaxPixels) {
    throw usageError("'" + text + "' is not a picture size WIDTHxHEIGHT such as 640x480 (at most " +
                     std::to_string(ImageUtil::kMaxPixels) + " pixels)");
  }
  return size;
}

std::string interfaceFor(const ParsedArgs& parsed) {
  const std::string type = parsed.value("interface", "corba_cdr");
  if (type.empty()) throw usageError("--interface needs a type such as corba_cdr");
  return type;
}

// Resolves the outport and joins rtmctl's own inport to it.
std::unique_ptr<TemporaryInPort> attach(Session& session, const RtmPath& path,
                                        const ParsedArgs& parsed, const std::string& name) {
  const std::string interfaceType = interfaceFor(parsed);
  session.setEndpoint(endpointFor(path, parsed));
  // Listening first: a bad --endpoint is reported as such, not as a name server fault.
  PortableServer::POA_var poa = session.servingPoa();
  RTC::RTObject_var component = session.component(path);
  RTC::PortService_var outport = session.port(component, path);
  return std::unique_ptr<TemporaryInPort>(
      new TemporaryInPort(session, outport, path.str(), name, interfaceType));
}

void printLine(std::ostream& out, const std::string& line) {
  out << line << "\n";
  out.flush();  // one line a second is for watching as it comes
}

}  // namespace

int runHz(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs("hz", args,
                                      {{"count", 'n', true},
                                       {"seconds", 's', true},
                                       {"interface", 0, true},
                                       {"endpoint", 0, true}});
  if (parsed.help) {
    out << kHzUsage;
    return kExitOk;
  }
  parsed.requirePositionals("hz", 1, 1, "one outport PATH");
  const RtmPath path = outportPath(parsed.positional[0]);
  const double count = parsed.has("count") ? positiveNumber(parsed, "count", "hz", true) : 0;
  const double seconds = parsed.has("seconds") ? positiveNumber(parsed, "seconds", "hz", false) : 0;
  endpointFor(path, parsed);
  interfaceFor(parsed);

  InterruptGuard interrupt;
  std::unique_ptr<TemporaryInPort> port = attach(session, path, parsed, "hz");
  const double start = monotonicSec();
  // The first sample starts the clock, so that rates count the intervals
  // between samples rather than the wait for the first one.
  std::unique_ptr<RateMeter> window, total;
  double nextReport = start + 1.0;
  unsigned long received = 0;
  for (;;) {
    const RTC::TimedLongSeq* sample = port->next();
    const double now = monotonicSec();
    if (sample != nullptr) {
      const bool first = received++ == 0;
      if (first) {
        window.reset(new RateMeter(now));
        total.reset(new RateMeter(now));
        nextReport = now + 1.0;
      }
      const double age = sampleAgeMs(sample->tm, wallClockSec());
      window->add(sample->data.length(), age, first);
      total->add(sample->data.length(), age, first);
    }
    const bool done = interrupt.interrupted() || (count > 0 && received >= count) ||
                      (seconds > 0 && now - start >= seconds);
    if (now >= nextReport || done) {
      const RateReport report = window ? window->take(now) : RateReport();
      if (report.samples > 0 || !done) printLine(out, formatRateReport(report));
      nextReport = now + 1.0;
      if (report.samples == 0 && !done && !port->connected()) {
        throw CtlError("the connection to " + path.str() +
                       " ended (its component exited or removed it)");
      }
    }
    if (done) break;
  }
  if (total) {
    printLine(out, "total " + std::to_string(received) +
                       (received == 1 ? " sample: " : " samples: ") +
                       formatRateReport(total->take(monotonicSec())));
  }
  if (!port->disconnect()) {
    throw CtlError("could not remove the connection from " + path.str() +
                   " (its component may have gone)");
  }
  return kExitOk;
}

int runSnapshot(Session& session, const std::vector<std::string>& args, std::ostream& out) {
  const ParsedArgs parsed = parseArgs(
      "snapshot", args, {{"wait", 'w', true}, {"interface", 0, true}, {"endpoint", 0, true}});
  if (parsed.help) {
    out << kSnapshotUsage;
    return kExitOk;
  }
  parsed.requirePositionals("snapshot", 3, 3, "an outport PATH, WIDTHxHEIGHT and a FILE");
  const RtmPath path = outportPath(parsed.positional[0]);
  const FrameSize size = parseFrameSize(parsed.positional[1]);
  const std::string file = parsed.positional[2];
  const double wait = parsed.has("wait") ? positiveNumber(parsed, "wait", "snapshot", false) : 10;
  endpointFor(path, parsed);
  interfaceFor(parsed);
  if (!cv::haveImageWriter(file)) {
    throw usageError("cannot tell a picture format from '" + file +
                     "': end it in .png, .jpg, .bmp or another extension OpenCV writes");
  }

  InterruptGuard interrupt;
  std::unique_ptr<TemporaryInPort> port = attach(session, path, parsed, "snapshot");
  const double deadline = monotonicSec() + wait;
  const RTC::TimedLongSeq* sample = nullptr;
  while (sample == nullptr && !interrupt.interrupted() && monotonicSec() < deadline) {
    sample = port->next();
  }
  if (sample == nullptr) {
    if (interrupt.interrupted()) throw CtlError("interrupted before a sample came");
    throw CtlError("no sample came from " + path.str() + " within " + parsed.value("wait", "10") +
                   " s (is its component active? raise it with --wait)");
  }
  const CORBA::ULong expected = static_cast<CORBA::ULong>(size.width) * size.height;
  if (sample->data.length() != expected) {
    throw CtlError("the sample holds " + std::to_string(sample->data.length()) + " elements, not " +
                   std::to_string(size.width) + "x" + std::to_string(size.height) + " = " +
                   std::to_string(expected) + ": give the size the producer sends");
  }
  ImageUtil image(size.width, size.height, 3);
  if (!image.isValid() || !image.sequenceToImage(sample->data)) {
    throw CtlError("cannot hold a " + parsed.positional[1] + " picture");
  }
  try {
    if (!cv::imwrite(file, image.getImage()))
      throw CtlError("cannot write " + file + " (does its folder exist, may you write there?)");
  } catch (const cv::Exception& ex) {
    throw CtlError("cannot write " + file + ": " + ex.err);
  }
  port->disconnect();
  out << "wrote " << file << " (" << size.width << "x" << size.height << ")\n";
  return kExitOk;
}

}  // namespace rtmctl
