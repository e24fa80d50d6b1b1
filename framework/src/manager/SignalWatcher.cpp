#include "manager/SignalWatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

namespace RTC {

namespace {

sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // A closed terminal: by default the process would die without removing
  // its names. One started with SIGHUP ignored (nohup) never sees it.
  sigaddset(&set, SIGHUP);
  return set;
}

// The mask before the first watcher, for children forked afterwards: a
// program they exec would otherwise start with SIGTERM blocked.
sigset_t g_maskBefore;

extern "C" void restoreMaskInChild() { ::pthread_sigmask(SIG_SETMASK, &g_maskBefore, nullptr); }

void closeBoth(int fds[2]) {
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 0) ::close(fds[i]);
    fds[i] = -1;
  }
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal, Logger& log)
    : m_onSignal(std::move(onSignal)), m_log(log) {
  const sigset_t signals = terminationSignals();
  sigset_t before;
  ::pthread_sigmask(SIG_BLOCK, &signals, &before);
  m_signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
  if (m_signalFd < 0 || ::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
    const std::string reason = std::strerror(errno);
    if (m_signalFd >= 0) ::close(m_signalFd);
    m_signalFd = -1;
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    m_log.log(Logger::RTL_ERROR, "cannot watch for SIGINT, SIGTERM and SIGHUP (" + reason +
                                     "): signals end the process without a clean shutdown");
    return;
  }
  static std::once_flag atFork;
  std::call_once(atFork, [&before] {
    g_maskBefore = before;
    ::pthread_atfork(nullptr, nullptr, restoreMaskInChild);
  });
  m_thread = std::thread([this] { run(); });
}

SignalWatcher::~SignalWatcher() { stop(); }

void SignalWatcher::stop() {
  if (!m_thread.joinable()) return;
  const char byte = 'Q';
  ssize_t ignored = ::write(m_stopPipe[1], &byte, 1);
  (void)ignored;
  m_thread.join();
  ::close(m_signalFd);
  m_signalFd = -1;
  closeBoth(m_stopPipe);
}

void SignalWatcher::run() {
  for (;;) {
    struct pollfd fds[2];
    fds[0].fd = m_signalFd;
    fds[1].fd = m_stopPipe[0];
    for (struct pollfd& fd : fds) {
      fd.events = POLLIN;
      fd.revents = 0;
    }
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      m_log.log(Logger::RTL_ERROR, "signal watcher: poll failed; signals no longer handled");
      return;
    }
    if (fds[1].revents != 0) return;
    struct signalfd_siginfo info;
    if (fds[0].revents != 0 && ::read(m_signalFd, &info, sizeof(info)) == sizeof(info)) {
      m_onSignal(static_cast<int>(info.ssi_signo));
    }
  }
}

}  // namespace RTC
