#include "FrameFigures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

const double FrameFigures::kDefaultLogInterval = 5.0;
const FrameFigures::Clock::duration FrameFigures::kStatusInterval = std::chrono::seconds(1);

namespace {

// Real time in microseconds, the clock samples are stamped with.
std::int64_t realTimeMicroseconds() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void append(SDOPackage::NVList& list, const char* name, const CORBA::Any& value) {
  const CORBA::ULong n = list.length();
  list.length(n + 1);
  list[n].name = CORBA::string_dup(name);
  list[n].value = value;
}

}  // namespace

FrameFigures::FrameFigures()
    : m_logInterval(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(kDefaultLogInterval))) {
  m_histogram.fill(0);
  restart(Clock::now());
}

bool FrameFigures::parseLogInterval(const std::string& text, double* seconds) {
  if (text.empty()) {
    *seconds = kDefaultLogInterval;
    return true;
  }
  char* end = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(value >= 0) || value > 86400) return false;
  *seconds = value;
  return true;
}

void FrameFigures::setLogInterval(double seconds) {
  m_logInterval =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void FrameFigures::restart(Clock::time_point now) {
  m_status.restart(now, m_read, m_shown);
  m_log.restart(now, m_read, m_shown);
}

void FrameFigures::Window::restart(Clock::time_point now, std::uint64_t r, std::uint64_t s) {
  start = now;
  read = r;
  shown = s;
  ageSum = 0;
  aged = 0;
  worst = 0;
}

void FrameFigures::Window::note(std::int64_t age) {
  ageSum += age;
  ++aged;
  worst = std::max(worst, age);
}

void FrameFigures::frameShown(unsigned long sec, unsigned long nsec) {
  ++m_shown;
  if (sec == 0 && nsec == 0) return;
  const std::int64_t stamp =
      static_cast<std::int64_t>(sec) * 1000000 + static_cast<std::int64_t>(nsec / 1000);
  // A producer whose clock runs ahead would give negative ages.
  const std::int64_t age = std::max<std::int64_t>(0, realTimeMicroseconds() - stamp);
  m_status.note(age);
  m_log.note(age);
  ++m_histogram[static_cast<size_t>(std::min<std::int64_t>(age / kBinMicroseconds, kBins - 1))];
}

SDOPackage::NVList FrameFigures::status(Clock::time_point now) {
  SDOPackage::NVList list;
  CORBA::Any value;
  value <<= static_cast<CORBA::ULongLong>(m_read);
  append(list, "frames.read", value);
  value <<= static_cast<CORBA::ULongLong>(m_shown);
  append(list, "frames.shown", value);
  if (m_status.aged > 0) {
    value <<= static_cast<CORBA::Double>(m_status.ageSum / 1000.0 / m_status.aged);
    append(list, "age.mean_ms", value);
    value <<= static_cast<CORBA::Double>(m_status.worst / 1000.0);
    append(list, "age.worst_ms", value);
  }
  // Only the bins in use: "<bin width in ms>ms index:count ...".
  char width[16];
  std::snprintf(width, sizeof width, "%gms", kBinMicroseconds / 1000.0);
  std::string histogram = width;
  for (int i = 0; i < kBins; ++i) {
    if (m_histogram[static_cast<size_t>(i)] == 0) continue;
    histogram +=
        " " + std::to_string(i) + ":" + std::to_string(m_histogram[static_cast<size_t>(i)]);
  }
  value <<= histogram.c_str();
  append(list, "age.histogram", value);
  m_status.restart(now, m_read, m_shown);
  return list;
}

std::string FrameFigures::logLine(Clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - m_log.start).count();
  const unsigned long long read = m_read - m_log.read;
  const unsigned long long shown = m_shown - m_log.shown;
  char line[256];
  int n = std::snprintf(line, sizeof line,
                        "figures, last %.1f s: %llu frames read, %llu shown (%.1f/s)", seconds,
                        read, shown, seconds > 0 ? shown / seconds : 0.0);
  if (m_log.aged > 0) {
    std::snprintf(line + n, sizeof line - static_cast<size_t>(n),
                  "; age when shown: mean %.1f ms, worst %.1f ms",
                  m_log.ageSum / 1000.0 / m_log.aged, m_log.worst / 1000.0);
  }
  m_log.restart(now, m_read, m_shown);
  return line;
}
