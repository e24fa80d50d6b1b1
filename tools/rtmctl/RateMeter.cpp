#include "RateMeter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace rtmctl {

RateMeter::RateMeter(double startSec) : m_start(startSec) {}

void RateMeter::add(std::size_t elements, double ageMs, bool first) {
  ++m_window.samples;
  if (!first) {
    ++m_window.paced;
    m_window.pacedBytes += timedLongSeqBytes(elements);
  }
  m_window.elements = elements;
  if (std::isnan(ageMs)) return;
  m_window.worstAgeMs = m_window.stamped == 0 ? ageMs : std::max(m_window.worstAgeMs, ageMs);
  ++m_window.stamped;
  m_ageSumMs += ageMs;
}

RateReport RateMeter::take(double nowSec) {
  RateReport report = m_window;
  report.seconds = nowSec - m_start;
  if (report.stamped > 0) report.meanAgeMs = m_ageSumMs / report.stamped;
  m_window = RateReport();
  m_ageSumMs = 0;
  m_start = nowSec;
  return report;
}

double sampleAgeMs(const RTC::Time& stamp, double nowEpochSec) {
  if (stamp.sec == 0 && stamp.nsec == 0) return NAN;
  return (nowEpochSec - (stamp.sec + stamp.nsec * 1e-9)) * 1000.0;
}

std::string formatRateReport(const RateReport& report) {
  char line[256];
  if (report.samples == 0) {
    std::snprintf(line, sizeof line, "0.0 frames/s (no samples)");
    return line;
  }
  const double seconds = report.seconds > 0 ? report.seconds : 1.0;
  int n = std::snprintf(line, sizeof line, "%.1f frames/s, %.2f MB/s, %zu elements (%.0f bytes)",
                        report.paced / seconds, report.pacedBytes / seconds / 1e6, report.elements,
                        timedLongSeqBytes(report.elements));
  if (report.stamped == 0) {
    std::snprintf(line + n, sizeof line - n, ", age - (no time stamps)");
  } else {
    std::snprintf(line + n, sizeof line - n, ", age %.1f ms mean, %.1f ms worst", report.meanAgeMs,
                  report.worstAgeMs);
  }
  return line;
}

}  // namespace rtmctl
