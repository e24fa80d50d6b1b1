// sequenceToImage at the viewer's usual sizes, with the per-element reference
// loop as the baseline; ends with one ratio line per size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <random>
#include <string>
#include <vector>

#include "ImageUtil.h"

namespace {

using Sequence = RTC::TimedLongSeq::_data_seq;

Sequence randomFrame(int width, int height) {
  std::mt19937 random(1);
  Sequence seq;
  seq.length(static_cast<CORBA::ULong>(width) * static_cast<CORBA::ULong>(height));
  CORBA::Long* buffer = seq.get_buffer();
  for (CORBA::ULong i = 0; i < seq.length(); ++i) {
    buffer[i] = static_cast<CORBA::Long>(random());
  }
  return seq;
}

void countFrames(benchmark::State& state, int width, int height) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * std::int64_t(width) * height * 4);
}

void BM_SequenceToImage(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  ImageUtil image(width, height, 3);
  const Sequence seq = randomFrame(width, height);
  for (auto _ : state) {
    benchmark::DoNotOptimize(image.sequenceToImage(seq));
    benchmark::ClobberMemory();
  }
  countFrames(state, width, height);
}

// The same with OpenCV's worker threads off: the cost on one core.
void BM_SequenceToImageOneThread(benchmark::State& state) {
  const int threads = cv::getNumThreads();
  cv::setNumThreads(1);
  BM_SequenceToImage(state);
  cv::setNumThreads(threads);
}

void BM_SequenceToImageReference(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  cv::Mat image(height, width, CV_8UC3, cv::Scalar::all(0));
  const Sequence seq = randomFrame(width, height);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ImageUtil::sequenceToImageReference(seq, image));
    benchmark::ClobberMemory();
  }
  countFrames(state, width, height);
}

void frameSizes(benchmark::internal::Benchmark* bench) {
  bench->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160});
  bench->Unit(benchmark::kMicrosecond)->UseRealTime();
}

BENCHMARK(BM_SequenceToImageReference)->Apply(frameSizes);
BENCHMARK(BM_SequenceToImage)->Apply(frameSizes);
BENCHMARK(BM_SequenceToImageOneThread)->Apply(frameSizes);

// Prints as usual and remembers each run's real time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        m_seconds[run.benchmark_name()] = run.GetAdjustedRealTime() * 1e-6;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void printRatios() const {
    std::printf("\nsequenceToImage against the per-element reference loop (same run):\n");
    for (const char* size : {"640/480", "1920/1080", "3840/2160"}) {
      const double reference = lookup("BM_SequenceToImageReference/", size);
      for (const char* variant : {"BM_SequenceToImage/", "BM_SequenceToImageOneThread/"}) {
        const double fast = lookup(variant, size);
        if (reference > 0 && fast > 0) {
          std::printf("  %-10s %-28s %8.3f ms vs %8.3f ms: %5.2fx faster\n", size, variant,
                      fast * 1e3, reference * 1e3, reference / fast);
        }
      }
    }
  }

 private:
  double lookup(const std::string& family, const std::string& size) const {
    const auto found = m_seconds.find(family + size + "/real_time");
    return found == m_seconds.end() ? 0.0 : found->second;
  }

  std::map<std::string, double> m_seconds;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios();
  benchmark::Shutdown();
  return 0;
}
