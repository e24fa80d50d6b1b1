#include <rtm/SystemLogger.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <vector>

namespace RTC {

namespace {

const char* const kDefaultDateFormat = "%b %d %H:%M:%S.%Q";

struct Sink {
  std::FILE* file;
  bool owned;
};

// The process-wide sinks and settings. Deliberately never destroyed: loggers
// of static objects may still write while the process exits.
struct LogSettings {
  std::mutex mutex;  // guards sinks and dateFormat; held while a line is written
  std::vector<Sink> sinks;
  std::string dateFormat = kDefaultDateFormat;
  // Until configure() runs, only warnings and worse reach standard error.
  std::atomic<int> level{Logger::RTL_WARN};
};

LogSettings& settings() {
  static LogSettings* s = [] {
    LogSettings* created = new LogSettings;
    created->sinks.push_back(Sink{stderr, false});
    return created;
  }();
  return *s;
}

const char* levelWord(int level) {
  static const char* const words[] = {"SILENT", "FATAL", "ERROR",   "WARNING", "INFO",
                                      "DEBUG",  "TRACE", "VERBOSE", "PARANOID"};
  if (level < Logger::RTL_SILENT || level > Logger::RTL_PARANOID) return "UNKNOWN";
  return words[level];
}

// Formats the current local time with strftime, %Q giving milliseconds.
std::string formatDate(const std::string& format) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const long millis =
      static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);

  std::string expanded;
  expanded.reserve(format.size() + 8);
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      char next = format[i + 1];
      if (next == 'Q') {
        char digits[8];
        std::snprintf(digits, sizeof(digits), "%03ld", millis);
        expanded += digits;
      } else {
        expanded += '%';
        expanded += next;
      }
      ++i;
    } else {
      expanded += format[i];
    }
  }
  if (expanded.empty()) return expanded;
  char buffer[512];
  size_t n = std::strftime(buffer, sizeof(buffer), expanded.c_str(), &local);
  return std::string(buffer, n);
}

void closeSinks(std::vector<Sink>& sinks) {
  for (auto& sink : sinks) {
    if (sink.owned) std::fclose(sink.file);
  }
  sinks.clear();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

}  // namespace

// Collects one line; sync() (std::endl, flush) hands it to the sinks.
class Logger::LineBuffer : public std::stringbuf {
 public:
  explicit LineBuffer(Logger& owner) : m_owner(owner) {}
  void start(int level) {
    m_level = level;
    str(std::string());
  }

 protected:
  int sync() override {
    std::string text = str();
    str(std::string());
    if (text.empty()) return 0;
    if (text.back() == '\n') text.pop_back();
    m_owner.write(m_level, text);
    return 0;
  }

 private:
  Logger& m_owner;
  int m_level = RTL_INFO;
};

Logger::Logger(const char* name)
    : m_name(name != nullptr ? name : ""),
      m_buffer(new LineBuffer(*this)),
      m_stream(new std::ostream(m_buffer.get())) {}

Logger::~Logger() = default;

void Logger::setName(const char* name) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  m_name = name != nullptr ? name : "";
}

const std::string& Logger::getName() const { return m_name; }

bool Logger::isValid(int level) const {
  return level > RTL_SILENT && level <= RTL_PARANOID && level <= settings().level.load();
}

void Logger::lock() { m_mutex.lock(); }

void Logger::unlock() { m_mutex.unlock(); }

std::ostream& Logger::level(int level) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  m_buffer->start(level);
  return *m_stream;
}

void Logger::log(int level, const std::string& message) {
  if (!isValid(level)) return;
  write(level, message);
}

void Logger::write(int level, const std::string& message) {
  if (!isValid(level)) return;
  std::string name;
  std::shared_ptr<const RecordSink> sink;
  {
    std::lock_guard<std::recursive_mutex> guard(m_mutex);
    name = m_name;
    sink = m_sink;
  }
  if (sink) (*sink)(level, name, message);
  LogSettings& s = settings();
  std::lock_guard<std::mutex> guard(s.mutex);
  if (s.sinks.empty()) return;
  std::string line = formatDate(s.dateFormat);
  line += ' ';
  line += levelWord(level);
  line += ": ";
  line += name;
  line += ": ";
  line += message;
  line += '\n';
  for (auto& sink : s.sinks) {
    std::fwrite(line.data(), 1, line.size(), sink.file);
    std::fflush(sink.file);
  }
}

void Logger::setRecordSink(RecordSink sink) {
  std::lock_guard<std::recursive_mutex> guard(m_mutex);
  m_sink = sink ? std::make_shared<const RecordSink>(std::move(sink)) : nullptr;
}

bool Logger::configure(const coil::Properties& managerConfig) {
  LogSettings& s = settings();
  if (!coil::toBool(managerConfig.getProperty("logger.enable", "YES"), true)) {
    std::lock_guard<std::mutex> guard(s.mutex);
    closeSinks(s.sinks);
    s.level = RTL_SILENT;
    return true;
  }

  std::string dateFormat = managerConfig.getProperty("logger.date_format");
  if (coil::eraseBothEndsBlank(dateFormat).empty()) dateFormat = kDefaultDateFormat;
  const int level = levelFromName(managerConfig.getProperty("logger.log_level", "INFO"), RTL_INFO);

  std::vector<Sink> sinks;
  std::vector<std::string> failed;
  bool console = false;
  const std::string pid = std::to_string(static_cast<long>(::getpid()));
  for (const std::string& entry :
       coil::split(managerConfig.getProperty("logger.file_name", "./rtc%p.log"), ",")) {
    if (entry.empty()) continue;
    const std::string word = coil::toLower(entry);
    if (word == "stdout") {
      sinks.push_back(Sink{stdout, false});
      console = true;
    } else if (word == "stderr") {
      sinks.push_back(Sink{stderr, false});
      console = true;
    } else {
      const std::string path = replaceAll(entry, "%p", pid);
      std::FILE* file = std::fopen(path.c_str(), "a");
      if (file != nullptr) {
        sinks.push_back(Sink{file, true});
      } else {
        failed.push_back(path);
      }
    }
  }
  if (!failed.empty() && !console) sinks.push_back(Sink{stderr, false});

  {
    std::lock_guard<std::mutex> guard(s.mutex);
    closeSinks(s.sinks);
    s.sinks = sinks;
    s.dateFormat = dateFormat;
    s.level = level;
  }
  if (!failed.empty()) {
    Logger self("logger");
    for (const auto& path : failed) {
      self.write(RTL_ERROR, "cannot open log file '" + path + "'; logging to the console instead");
    }
  }
  return failed.empty();
}

int Logger::levelFromName(const std::string& name, int def) {
  const std::string word = coil::toLower(coil::eraseBothEndsBlank(name));
  static const char* const names[] = {"silent", "fatal", "error",   "warn",    "info",
                                      "debug",  "trace", "verbose", "paranoid"};
  for (int i = RTL_SILENT; i <= RTL_PARANOID; ++i) {
    if (word == names[i]) return i;
  }
  if (word == "warning") return RTL_WARN;
  return def;
}

int Logger::globalLevel() { return settings().level.load(); }

void Logger::setGlobalLevel(int level) { settings().level = level; }

}  // namespace RTC
