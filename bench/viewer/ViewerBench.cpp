// One onExecute of the viewer (read, decode, mirrors, show, 1 ms event pump)
// at the usual frame sizes, with decoding alone as the baseline measured in
// the same run; ends with one ratio line per size. Also where the window's
// share goes (imshow and the pump, Qt raster against cv::WINDOW_OPENGL) and
// what decoding with the mirrors fused into one pass would save. The component runs in a
// manager of this process; frames reach its port through a connection of its
// own, outside the timed part, and every call, window ones included, is made
// from the benchmark's thread.
#include <benchmark/benchmark.h>
#include <rtm/Manager.h>
#include <rtm/idl/DataPortSkel.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <utility>
#include <vector>

#include "CdrProducer.h"
#include "ImageUtil.h"
#include "Pixmoor.h"
#include "X11Display.h"

namespace {

// Opens the viewer's members to the benchmark.
class BenchViewer : public Pixmoor {
 public:
  using Pixmoor::m_flip_h;
  using Pixmoor::m_flip_v;
};

Pixmoor* g_viewer = nullptr;
OpenRTM::InPortCdr_var g_inport;

// A frame whose pixels are all different, as CDR bytes (little endian:
// tm.sec, tm.nsec, element count, elements) and as a decoded sequence.
struct Frame {
  OpenRTM::CdrData cdr;
  RTC::TimedLongSeq::_data_seq pixels;
};

Frame makeFrame(int width, int height) {
  Frame frame;
  const CORBA::ULong count = static_cast<CORBA::ULong>(width) * static_cast<CORBA::ULong>(height);
  frame.pixels.length(count);
  frame.cdr.length(12 + 4 * count);
  CORBA::Octet* out = frame.cdr.get_buffer();
  auto put = [&out](CORBA::ULong v) {
    for (int i = 0; i < 4; ++i) *out++ = static_cast<CORBA::Octet>(v >> (8 * i));
  };
  put(1);
  put(0);
  put(count);
  for (CORBA::ULong i = 0; i < count; ++i) {
    frame.pixels[i] = static_cast<CORBA::Long>(0xFF000000u | (i * 2654435761u >> 8));
    put(static_cast<CORBA::ULong>(frame.pixels[i]));
  }
  return frame;
}

void setSize(int width, int height) {
  RTC::ConfigAdmin& config = g_viewer->getConfigAdmin();
  config.setActiveValue("input_image_width", std::to_string(width));
  config.setActiveValue("input_image_height", std::to_string(height));
  config.update();
}

void countFrames(benchmark::State& state, int width, int height) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * std::int64_t(width) * height * 4);
}

void BM_DecodeOnly(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  ImageUtil image(width, height, 3);
  const Frame frame = makeFrame(width, height);
  for (auto _ : state) {
    benchmark::DoNotOptimize(image.sequenceToImage(frame.pixels));
    benchmark::ClobberMemory();
  }
  countFrames(state, width, height);
}

// The window's share: show a picture and pump events for 1 ms, as onExecute

// Shows `image` in a window of `display` and takes its events, once per
// iteration.
void showAndPump(benchmark::State& state, ImageDisplay& display, const char* name,
                 ImageUtil& image) {
  display.openWindow(name);
  for (auto _ : state) {
    display.show(name, image.getImage());
    display.processEvents(1);
  }
  display.closeAllWindows();
  countFrames(state, image.getImage().cols, image.getImage().rows);
}

// does after decoding.
void BM_ShowAndPump(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  ImageUtil image(width, height, 3);
  image.sequenceToImage(makeFrame(width, height).pixels);
  ImageDisplay& display = desktopDisplay();
  showAndPump(state, display, "bench_viewer", image);
}

// The same through the viewer's own window (display: x11): one conversion
// into a shared-memory image and one put, then the queued events.
void BM_ShowAndPumpX11(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  ImageUtil image(width, height, 3);
  image.sequenceToImage(makeFrame(width, height).pixels);
  X11Display display;
  std::string reason;
  if (!display.reachable(&reason)) {
    state.SkipWithError(reason.c_str());
    return;
  }
  showAndPump(state, display, "bench_viewer_x11", image);
}

// A 3840x2160 picture scaled down to range(0) x range(1) into the 4-byte
// pixels of the viewer's own window, by three roads (range(2)): 0 scaled in
// BGR then converted (the viewer's: averaging for a whole ratio,
// interpolation else), 1 converted first and scaled in 4 channels, 2 as 0
// but averaging at any ratio.
void BM_FitToScreen(benchmark::State& state) {
  const cv::Size shown(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const int road = static_cast<int>(state.range(2));
  cv::Mat picture(2160, 3840, CV_8UC3);
  cv::randu(picture, 0, 256);
  cv::Mat scaled(shown, CV_8UC3), server(shown, CV_8UC4), full(picture.size(), CV_8UC4);
  const bool wholeRatio = picture.cols % shown.width == 0 && picture.rows % shown.height == 0;
  const int interpolation = wholeRatio || road == 2 ? cv::INTER_AREA : cv::INTER_LINEAR;
  for (auto _ : state) {
    if (road == 1) {
      cv::cvtColor(picture, full, cv::COLOR_BGR2BGRA);
      cv::resize(full, server, shown, 0, 0, interpolation);
    } else {
      cv::resize(picture, scaled, shown, 0, 0, interpolation);
      cv::cvtColor(scaled, server, cv::COLOR_BGR2BGRA);
    }
    benchmark::DoNotOptimize(server.data);
  }
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// The window alone, imshow and the 1 ms pump timed apart (counters show_ms,
// pump_ms); range(2): 0 the viewer's Qt raster window, 1 cv::WINDOW_OPENGL.
// Alternate pictures, so that every show has new pixels to put on screen.
void BM_WindowPath(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const bool opengl = state.range(2) != 0;
  cv::Mat pictures[2] = {cv::Mat(height, width, CV_8UC3, cv::Scalar(10, 200, 30)),
                         cv::Mat(height, width, CV_8UC3, cv::Scalar(200, 10, 90))};
  const char* name = opengl ? "bench_viewer_gl" : "bench_viewer_raster";
  try {
    cv::namedWindow(name,
                    cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL | (opengl ? cv::WINDOW_OPENGL : 0));
  } catch (const cv::Exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  double show = 0, pump = 0;
  int i = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    cv::imshow(name, pictures[i++ & 1]);
    show += millisecondsSince(start);
    start = std::chrono::steady_clock::now();
    cv::waitKey(1);
    pump += millisecondsSince(start);
  }
  cv::destroyWindow(name);
  state.counters["show_ms"] = show / static_cast<double>(state.iterations());
  state.counters["pump_ms"] = pump / static_cast<double>(state.iterations());
  countFrames(state, width, height);
}

// Decode with both mirrors: range(2) 0 in three passes (decode, then mirror
// into the back image and swap, twice), 1 fused into one pass as the viewer
// does it. The two pictures are checked to be the same first.
void BM_DecodeBothMirrors(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const bool fused = state.range(2) != 0;
  const Frame frame = makeFrame(width, height);
  ImageUtil image(width, height, 3);
  ImageUtil own(width, height, 3);
  image.sequenceToImage(frame.pixels);
  image.flipHorizontal();
  image.flipVertical();
  own.sequenceToMirroredImage(frame.pixels, true, true);
  if (cv::norm(own.getImage(), image.getImage(), cv::NORM_INF) != 0) {
    state.SkipWithError("the fused pass does not give the three passes' picture");
    return;
  }
  for (auto _ : state) {
    if (fused) {
      own.sequenceToMirroredImage(frame.pixels, true, true);
    } else {
      image.sequenceToImage(frame.pixels);
      image.flipHorizontal();
      image.flipVertical();
    }
    benchmark::ClobberMemory();
  }
  countFrames(state, width, height);
}

// range(2): 0 no mirror, 3 both mirrors.
void BM_OnExecute(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const bool mirrors = state.range(2) != 0;
  setSize(width, height);
  static_cast<BenchViewer*>(g_viewer)->m_flip_h = mirrors;
  static_cast<BenchViewer*>(g_viewer)->m_flip_v = mirrors;
  if (g_viewer->onActivated(0) != RTC::RTC_OK) {
    state.SkipWithError("activation failed (no display?)");
    return;
  }
  const Frame frame = makeFrame(width, height);
  for (auto _ : state) {
    state.PauseTiming();
    OpenRTM::PortStatus stored = g_inport->put(frame.cdr);
    state.ResumeTiming();
    if (stored != OpenRTM::PORT_OK || g_viewer->onExecute(0) != RTC::RTC_OK) {
      state.SkipWithError("the frame was not shown");
      break;
    }
  }
  g_viewer->onDeactivated(0);
  countFrames(state, width, height);
}

// onExecute with the viewer's own window (display: x11), no mirror.
void BM_OnExecuteX11(benchmark::State& state) {
  X11Display display;
  g_viewer->setDisplay(&display);
  BM_OnExecute(state);
  g_viewer->setDisplay(&desktopDisplay());
}

void frameSizes(benchmark::internal::Benchmark* bench) {
  bench->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Each frame size with `modes` as a third argument.
template <int... modes>
void frameSizesWith(benchmark::internal::Benchmark* bench) {
  for (const auto& size : {std::make_pair(640, 480), std::make_pair(1920, 1080),
                           std::make_pair(3840, 2160)}) {
    for (int mode : {modes...}) bench->Args({size.first, size.second, mode});
  }
  frameSizes(bench);
}

BENCHMARK(BM_DecodeOnly)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Apply(frameSizes);
BENCHMARK(BM_ShowAndPump)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Apply(frameSizes);
BENCHMARK(BM_ShowAndPumpX11)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Apply(frameSizes);
BENCHMARK(BM_OnExecuteX11)->Apply(frameSizesWith<0>);
BENCHMARK(BM_FitToScreen)
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Args({1365, 768, 0})
    ->Args({1365, 768, 1})
    ->Args({1365, 768, 2})
    ->Apply(frameSizes);
BENCHMARK(BM_WindowPath)->Apply(frameSizesWith<0, 1>);
BENCHMARK(BM_DecodeBothMirrors)->Apply(frameSizesWith<0, 1>);
BENCHMARK(BM_OnExecute)->Apply(frameSizesWith<0, 3>);

// Prints as usual and remembers each run's real time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        m_seconds[run.benchmark_name()] = run.GetAdjustedRealTime() * 1e-3;
    ConsoleReporter::ReportRuns(runs);
  }

  void printRatios() const {
    std::printf("\nonExecute against decoding alone (same run):\n");
    for (const char* size : {"640/480", "1920/1080", "3840/2160"}) {
      const double decode = lookup("BM_DecodeOnly/" + std::string(size));
      const double show = lookup("BM_ShowAndPump/" + std::string(size));
      if (decode > 0 && show > 0)
        std::printf("  %-10s %-13s %8.3f ms vs decode %7.3f ms: %6.1fx\n", size, "show + pump",
                    show * 1e3, decode * 1e3, show / decode);
      const double showX11 = lookup("BM_ShowAndPumpX11/" + std::string(size));
      if (decode > 0 && showX11 > 0)
        std::printf("  %-10s %-13s %8.3f ms vs decode %7.3f ms: %6.1fx\n", size, "x11 show",
                    showX11 * 1e3, decode * 1e3, showX11 / decode);
      const double executeX11 = lookup("BM_OnExecuteX11/" + std::string(size) + "/0");
      if (decode > 0 && executeX11 > 0)
        std::printf("  %-10s %-13s %8.3f ms vs decode %7.3f ms: %6.1fx\n", size, "x11 no mirror",
                    executeX11 * 1e3, decode * 1e3, executeX11 / decode);
      for (const char* mirrors : {"0", "3"}) {
        const double execute = lookup("BM_OnExecute/" + std::string(size) + "/" + mirrors);
        if (decode > 0 && execute > 0)
          std::printf("  %-10s %-13s %8.3f ms vs decode %7.3f ms: %6.1fx\n", size,
                      mirrors[0] == '0' ? "no mirror" : "both mirrors", execute * 1e3, decode * 1e3,
                      execute / decode);
      }
    }
  }

 private:
  double lookup(const std::string& name) const {
    const auto found = m_seconds.find(name + "/real_time");
    return found == m_seconds.end() ? 0.0 : found->second;
  }
  std::map<std::string, double> m_seconds;
};

// Starts a manager with the viewer in it and connects a producer of ours
// to its "image" port.
bool startViewer(const char* program) {
  std::vector<std::string> args = {program,
                                   "-o",
                                   "naming.enable:NO",
                                   "-o",
                                   "corba.endpoint:127.0.0.1:",
                                   "-o",
                                   "logger.log_level:ERROR",
                                   "-o",
                                   "logger.file_name:STDERR"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  RTC::Manager* manager = RTC::Manager::init(static_cast<int>(args.size()), argv.data());
  if (!manager->activateManager()) return false;
  PixmoorInit(manager);
  g_viewer = dynamic_cast<Pixmoor*>(manager->createComponent("Pixmoor"));
  if (!g_viewer) return false;

  RTC::PortServiceList_var ports = g_viewer->get_ports();
  if (ports->length() != 1) return false;
  CORBA::ORB_var orb = manager->getORB();
  if (pixmoor_test::connectAsForeignProducer(orb, ports[0], "bench", g_inport) != RTC::RTC_OK)
    return false;
  return !CORBA::is_nil(g_inport);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    std::fprintf(stderr,
                 "bench_viewer shows frames and needs an X display, e.g.\n"
                 "  xvfb-run -s \"-screen 0 4096x2304x24\" %s\n",
                 argv[0]);
    return 1;
  }
  if (!startViewer(argv[0])) {
    std::fprintf(stderr, "bench_viewer: could not start the viewer in a manager\n");
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  g_inport = OpenRTM::InPortCdr::_nil();
  RTC::Manager::instance().shutdown();
  benchmark::Shutdown();
  return 0;
}
