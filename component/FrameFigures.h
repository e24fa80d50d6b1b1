// The viewer's own figures: frames read and shown, and how old a frame is
// when it is handed to the window.
#ifndef COMPONENT_FRAMEFIGURES_H
#define COMPONENT_FRAMEFIGURES_H

#include <rtm/idl/SDOPackageSkel.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

// Counts per frame without allocating; the SDO status and the log line are
// built only when due (once a second, once per log interval).
class FrameFigures {
 public:
  typedef std::chrono::steady_clock Clock;
  // Width of one bin of the age histogram, in microseconds.
  static const std::int64_t kBinMicroseconds = 250;
  // Bins of the histogram; the last one holds every age from
  // (kBins - 1) x kBinMicroseconds up.
  static const int kBins = 2001;
  // Seconds between log lines when the component's properties say nothing.
  static const double kDefaultLogInterval;
  // How often the SDO status is refreshed.
  static const Clock::duration kStatusInterval;

  FrameFigures();

  // Reads a log interval in seconds (0: no log lines); "" gives the default.
  // Returns false, leaving `seconds` alone, for text that is not a number of
  // seconds from 0 to a day.
  static bool parseLogInterval(const std::string& text, double* seconds);
  // Sets the seconds between log lines; 0 turns them off.
  void setLogInterval(double seconds);
  // Starts the status and log windows afresh at `now`; the counts go on.
  void restart(Clock::time_point now);

  // Counts a frame read from the port.
  void frameRead() { ++m_read; }
  // Counts a frame handed to the window now; its age runs from its stamp
  // (`sec`.`nsec`, real time). A frame stamped 0 counts without an age.
  void frameShown(unsigned long sec, unsigned long nsec);

  // Returns whether status() / logLine() are due at `now`.
  bool statusDue(Clock::time_point now) const { return now >= m_status.start + kStatusInterval; }
  bool logDue(Clock::time_point now) const {
    return m_logInterval.count() > 0 && now >= m_log.start + m_logInterval;
  }
  // Returns the figures for the SDO status (frames.read, frames.shown,
  // age.mean_ms and age.worst_ms over the last window, age.histogram since
  // the start) and starts a new status window.
  SDOPackage::NVList status(Clock::time_point now);
  // Returns the log line for the window since the last one and starts a new one.
  std::string logLine(Clock::time_point now);

  std::uint64_t framesRead() const { return m_read; }
  std::uint64_t framesShown() const { return m_shown; }

 private:
  // What happened since a window started.
  struct Window {
    Clock::time_point start;
    std::uint64_t read = 0;   // m_read at the start
    std::uint64_t shown = 0;  // m_shown at the start
    std::int64_t ageSum = 0;  // microseconds
    std::uint64_t aged = 0;   // frames with an age
    std::int64_t worst = 0;   // microseconds
    void note(std::int64_t age);
    void restart(Clock::time_point now, std::uint64_t read, std::uint64_t shown);
  };

  std::uint64_t m_read = 0;
  std::uint64_t m_shown = 0;
  Clock::duration m_logInterval;
  Window m_status;
  Window m_log;
  std::array<std::uint32_t, kBins> m_histogram;
};

#endif
