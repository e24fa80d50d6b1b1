// What `rtmctl hz` prints: the figures of the samples seen in a window of time.
#ifndef PIXMOOR_TOOLS_RTMCTL_RATEMETER_H
#define PIXMOOR_TOOLS_RTMCTL_RATEMETER_H

#include <rtm/idl/BasicDataTypeSkel.h>

#include <cstddef>
#include <string>

namespace rtmctl {

// The figures of one window.
struct RateReport {
  double seconds = 0;         // length of the window
  unsigned long samples = 0;  // samples seen in it
  unsigned long paced = 0;    // of those, samples that ended an interval since the one before
  double pacedBytes = 0;      // their size on the wire, summed
  std::size_t elements = 0;   // element count of the last sample
  unsigned long stamped = 0;  // samples that carried a time stamp
  double meanAgeMs = 0;       // over the stamped samples
  double worstAgeMs = 0;
};

// Sums samples as they arrive and hands out the figures window by window.
class RateMeter {
 public:
  // Starts the first window at `startSec` (a monotonic clock's seconds).
  explicit RateMeter(double startSec);

  // Counts one sample of `elements` elements; `ageMs` is its age from its
  // time stamp, NaN when it carries none. The first sample of a run starts
  // the clock (`first`): its size and age count, but it ends no interval.
  void add(std::size_t elements, double ageMs, bool first = false);
  // Returns the figures since the window began and begins the next at `nowSec`.
  RateReport take(double nowSec);

 private:
  double m_start;
  RateReport m_window;
  double m_ageSumMs = 0;
};

// Returns the bytes a TimedLongSeq of `elements` elements takes as CDR:
// seconds, nanoseconds, count, then the elements.
inline double timedLongSeqBytes(std::size_t elements) { return 12.0 + 4.0 * elements; }

// Returns how long ago, in ms, `stamp` was at wall-clock time `nowEpochSec`;
// NaN for a zero stamp, which producers that set none send.
double sampleAgeMs(const RTC::Time& stamp, double nowEpochSec);

// Returns one line: "20.0 frames/s, 24.58 MB/s, 307200 elements (1228812 bytes),
// age 2.4 ms mean, 4.1 ms worst" (MB = 10^6 bytes).
std::string formatRateReport(const RateReport& report);

}  // namespace rtmctl

#endif
