// ImageUtil's per-frame operations (decode, encode, each mirror) at the
// viewer's usual sizes, once with OpenCV on one thread and once with its
// default, against two baselines measured in the same run: a memcpy of the
// frame's bytes (the least any decode can cost) and the plain per-element
// loops. Ends with one ratio line per operation, size and thread setting.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
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

// Sets OpenCV's thread count from range(2) (1: one thread, 0: OpenCV's
// default) for the life of a benchmark, and puts the default back after.
class Threads {
 public:
  explicit Threads(const benchmark::State& state) : m_previous(cv::getNumThreads()) {
    cv::setNumThreads(state.range(2) == 1 ? 1 : -1);
  }
  ~Threads() { cv::setNumThreads(m_previous); }

 private:
  int m_previous;
};

enum class Operation { kDecode, kEncode, kFlipHorizontal, kFlipVertical };

void runImageUtil(benchmark::State& state, Operation operation) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  Threads threads(state);
  ImageUtil image(width, height, 3);
  Sequence seq = randomFrame(width, height);
  image.sequenceToImage(seq);
  for (auto _ : state) {
    switch (operation) {
      case Operation::kDecode:
        benchmark::DoNotOptimize(image.sequenceToImage(seq));
        break;
      case Operation::kEncode:
        image.imageToSequence(seq);
        benchmark::DoNotOptimize(seq.get_buffer());
        break;
      case Operation::kFlipHorizontal:
        image.flipHorizontal();
        break;
      case Operation::kFlipVertical:
        image.flipVertical();
        break;
    }
    benchmark::ClobberMemory();
  }
  countFrames(state, width, height);
}

void BM_Decode(benchmark::State& state) { runImageUtil(state, Operation::kDecode); }
void BM_Encode(benchmark::State& state) { runImageUtil(state, Operation::kEncode); }
void BM_FlipHorizontal(benchmark::State& state) { runImageUtil(state, Operation::kFlipHorizontal); }
void BM_FlipVertical(benchmark::State& state) { runImageUtil(state, Operation::kFlipVertical); }

void BM_DecodeReference(benchmark::State& state) {
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

void BM_EncodeReference(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  cv::Mat image(height, width, CV_8UC3);
  cv::randu(image, cv::Scalar::all(0), cv::Scalar::all(256));
  Sequence seq = randomFrame(width, height);
  for (auto _ : state) {
    ImageUtil::imageToSequenceReference(image, seq);
    benchmark::DoNotOptimize(seq.get_buffer());
    benchmark::ClobberMemory();
  }
  countFrames(state, width, height);
}

// Copies the frame's width x height x 4 bytes: no decode can move less.
void BM_Memcpy(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const Sequence seq = randomFrame(width, height);
  std::vector<unsigned char> target(seq.length() * sizeof(CORBA::Long));
  for (auto _ : state) {
    std::memcpy(target.data(), seq.get_buffer(), target.size());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  countFrames(state, width, height);
}

const int kSizes[][2] = {{640, 480}, {1920, 1080}, {3840, 2160}};

void baselineSizes(benchmark::internal::Benchmark* bench) {
  for (const auto& size : kSizes) bench->Args({size[0], size[1]});
  bench->Unit(benchmark::kMicrosecond)->UseRealTime();
}

// Each size with OpenCV on one thread (1), then with its default (0).
void threadedSizes(benchmark::internal::Benchmark* bench) {
  for (int threads : {1, 0})
    for (const auto& size : kSizes) bench->Args({size[0], size[1], threads});
  bench->Unit(benchmark::kMicrosecond)->UseRealTime();
}

BENCHMARK(BM_Memcpy)->Apply(baselineSizes);
BENCHMARK(BM_DecodeReference)->Apply(baselineSizes);
BENCHMARK(BM_EncodeReference)->Apply(baselineSizes);
BENCHMARK(BM_Decode)->Apply(threadedSizes);
BENCHMARK(BM_Encode)->Apply(threadedSizes);
BENCHMARK(BM_FlipHorizontal)->Apply(threadedSizes);
BENCHMARK(BM_FlipVertical)->Apply(threadedSizes);

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
    std::printf(
        "\nAgainst a memcpy of the frame's bytes and the per-element loop (same run);"
        "\nmemcpy x: times the memcpy's time, loop /: times faster than the loop\n");
    const struct {
      const char* name;
      const char* reference;
    } operations[] = {{"BM_Decode", "BM_DecodeReference"},
                      {"BM_Encode", "BM_EncodeReference"},
                      {"BM_FlipHorizontal", nullptr},
                      {"BM_FlipVertical", nullptr}};
    for (const char* threads : {"1", "0"}) {
      std::printf("OpenCV threads: %s\n", threads[0] == '1' ? "1" : "default");
      for (const auto& size : kSizes) {
        const std::string dims = std::to_string(size[0]) + "/" + std::to_string(size[1]);
        const double copy = lookup("BM_Memcpy/" + dims);
        for (const auto& op : operations) {
          const double time = lookup(std::string(op.name) + "/" + dims + "/" + threads);
          if (time <= 0 || copy <= 0) continue;
          std::printf("  %-10s %-18s %8.3f ms  memcpy x %5.2f", dims.c_str(), op.name + 3,
                      time * 1e3, time / copy);
          const double loop = op.reference ? lookup(std::string(op.reference) + "/" + dims) : 0;
          if (loop > 0) std::printf("  loop / %5.2f", loop / time);
          std::printf("\n");
        }
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
