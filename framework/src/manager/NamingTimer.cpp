#include "manager/NamingTimer.h"

#include <coil/stringutil.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>

#include "manager/NamingManager.h"

namespace RTC {

NamingTimer::NamingTimer(NamingManager& naming, Logger& log, double intervalSec)
    : m_naming(naming), m_log(log), m_thread([this, intervalSec] { run(intervalSec); }) {}

NamingTimer::~NamingTimer() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

double NamingTimer::intervalOf(const coil::Properties& config) {
  double interval = 10.0;
  if (!coil::stringTo(interval, config.getProperty("naming.update.interval").c_str()) ||
      !(interval > 0.0)) {
    interval = 10.0;
  }
  return std::max(0.1, std::min(interval, 86400.0));
}

void NamingTimer::run(double intervalSec) {
  const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(intervalSec));
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_wake.wait_for(lock, interval, [this] { return m_stop; })) return;
    }
    try {
      m_naming.update();
    } catch (const CORBA::Exception& e) {
      m_log.log(Logger::RTL_ERROR, std::string("naming update: ") + e._name());
    } catch (const std::exception& e) {
      m_log.log(Logger::RTL_ERROR, std::string("naming update: ") + e.what());
    }
  }
}

}  // namespace RTC
