// RTC::Logger: the framework's logger and its RTC_* macros.
#ifndef RTM_SYSTEMLOGGER_H
#define RTM_SYSTEMLOGGER_H

#include <coil/Properties.h>
#include <coil/stringutil.h>

#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

namespace RTC {

// A named logger. Lines read "<date> <LEVEL>: <name>: <message>" and go to
// every sink configured process-wide (files, STDOUT, STDERR).
class Logger {
 public:
  enum {
    RTL_SILENT,
    RTL_FATAL,
    RTL_ERROR,
    RTL_WARN,
    RTL_INFO,
    RTL_DEBUG,
    RTL_TRACE,
    RTL_VERBOSE,
    RTL_PARANOID
  };

  explicit Logger(const char* name = "");
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Renames the logger (components are named after their instance).
  void setName(const char* name);
  const std::string& getName() const;

  // Returns whether lines of `level` are written with the current settings.
  bool isValid(int level) const;
  // Serialises writers of this logger, as the log macros do around a line.
  void lock();
  void unlock();
  // Starts a line at `level`; the line is written when std::endl flushes it.
  // Threads sharing a logger hold lock() around the line, as the macros do.
  std::ostream& level(int level);
  // Writes `message` as one line at `level` when that level is enabled; safe
  // from any thread without lock().
  void log(int level, const std::string& message);

  // Receives every line this logger writes (level, logger name, message)
  // on the writing thread, whatever the file settings; it must not block.
  typedef std::function<void(int, const std::string&, const std::string&)> RecordSink;
  // Sets the record sink; an empty one removes it.
  void setRecordSink(RecordSink sink);

  // Applies the manager's logger.* keys process-wide: enable, file_name
  // (%p is the process id; STDOUT/STDERR; comma list), log_level and
  // date_format (strftime, %Q for milliseconds). Returns false and keeps the
  // console when a file cannot be opened.
  static bool configure(const coil::Properties& managerConfig);
  // Returns the level named by `name` (INFO, WARN, ...), or `def`.
  static int levelFromName(const std::string& name, int def);
  // Returns the process-wide level.
  static int globalLevel();
  // Sets the process-wide level (tests).
  static void setGlobalLevel(int level);

 private:
  class LineBuffer;
  void write(int level, const std::string& message);
  std::string m_name;
  std::recursive_mutex m_mutex;
  std::unique_ptr<LineBuffer> m_buffer;
  std::unique_ptr<std::ostream> m_stream;
  std::shared_ptr<const RecordSink> m_sink;
};

}  // namespace RTC

#define RTC_LOG_AT(lvl, fmt)                          \
  do {                                                \
    if (rtclog.isValid(lvl)) {                        \
      std::string rtc_log_str_ = ::coil::sprintf fmt; \
      rtclog.lock();                                  \
      rtclog.level(lvl) << rtc_log_str_ << std::endl; \
      rtclog.unlock();                                \
    }                                                 \
  } while (0)

#define RTC_FATAL(fmt) RTC_LOG_AT(::RTC::Logger::RTL_FATAL, fmt)
#define RTC_ERROR(fmt) RTC_LOG_AT(::RTC::Logger::RTL_ERROR, fmt)
#define RTC_WARN(fmt) RTC_LOG_AT(::RTC::Logger::RTL_WARN, fmt)
#define RTC_INFO(fmt) RTC_LOG_AT(::RTC::Logger::RTL_INFO, fmt)
#define RTC_DEBUG(fmt) RTC_LOG_AT(::RTC::Logger::RTL_DEBUG, fmt)
#define RTC_TRACE(fmt) RTC_LOG_AT(::RTC::Logger::RTL_TRACE, fmt)
#define RTC_VERBOSE(fmt) RTC_LOG_AT(::RTC::Logger::RTL_VERBOSE, fmt)
#define RTC_PARANOID(fmt) RTC_LOG_AT(::RTC::Logger::RTL_PARANOID, fmt)

#endif
