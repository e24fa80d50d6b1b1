#include "port/SharedSegment.h"

#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace RTC {

bool isSegmentName(const std::string& name) {
  if (name.size() != 36) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? name[i] != '-' : !std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

bool parseSegmentSize(const std::string& text, size_t& size) {
  size_t end = text.size();
  while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  size_t begin = 0;
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  std::uint64_t scale = 1;
  if (end > begin && (text[end - 1] == 'k' || text[end - 1] == 'K')) {
    scale = 1024;
    --end;
  } else if (end > begin && text[end - 1] == 'M') {
    scale = 1024 * 1024;
    --end;
  }
  if (begin == end || end - begin > 12) return false;
  std::uint64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  if (value == 0 || value > kLargestSegment / scale) return false;
  size = static_cast<size_t>(value * scale);
  return true;
}

namespace {

std::string systemName(const std::string& name) { return "/" + name; }

std::string failure(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

}  // namespace

bool SharedSegment::create(const std::string& name, size_t size, std::string& error) {
  close();
  if (!isSegmentName(name) || size == 0 || size > kLargestSegment) {
    error = "not a segment name or size";
    return false;
  }
  const std::string path = systemName(name);
  const int fd = ::shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = failure("shm_open", errno);
    return false;
  }
  void* data = MAP_FAILED;
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    error = failure("ftruncate", errno);
  } else {
    data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) error = failure("mmap", errno);
  }
  ::close(fd);
  if (data == MAP_FAILED) {
    ::shm_unlink(path.c_str());
    return false;
  }
  m_name = name;
  m_data = static_cast<unsigned char*>(data);
  m_size = size;
  m_linked = true;
  return true;
}

bool SharedSegment::open(const std::string& name, std::uint64_t size, size_t limit,
                         std::string& error) {
  close();
  if (!isSegmentName(name)) {
    error = "the name is not a UUID";
    return false;
  }
  if (size <= 8) {
    error = "a segment must hold more than its 8-byte length word";
    return false;
  }
  if (size > limit || size > kLargestSegment) {
    error = "it is larger than the port's memory_limit of " + std::to_string(limit) + " bytes";
    return false;
  }
  // Read-only and without O_CREAT: the peer's segment, as it made it.
  const int fd = ::shm_open(systemName(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) {
    error = failure("shm_open", errno);
    return false;
  }
  struct stat st;
  void* data = MAP_FAILED;
  if (::fstat(fd, &st) != 0) {
    error = failure("fstat", errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = "it is not a shared-memory segment";
  } else if (static_cast<std::uint64_t>(st.st_size) < size) {
    error = "the segment holds only " + std::to_string(st.st_size) + " bytes";
  } else {
    data = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) error = failure("mmap", errno);
  }
  ::close(fd);
  if (data == MAP_FAILED) return false;
  m_name = name;
  m_data = static_cast<unsigned char*>(data);
  m_size = static_cast<size_t>(size);
  m_linked = false;
  return true;
}

void SharedSegment::unlinkName() {
  if (!m_linked) return;
  ::shm_unlink(systemName(m_name).c_str());
  m_linked = false;
}

void SharedSegment::close() {
  unlinkName();
  if (m_data != nullptr) ::munmap(m_data, m_size);
  m_data = nullptr;
  m_size = 0;
}

namespace {

// The guarded copy in progress on this thread: where it reads, and where to
// return to when that read faults.
struct GuardedCopy {
  sigjmp_buf resume;
  const char* begin;
  const char* end;
};

thread_local GuardedCopy* volatile t_copy = nullptr;
struct sigaction g_previous;

void onSigbus(int signal, siginfo_t* info, void* context) {
  GuardedCopy* copy = t_copy;
  const char* at = static_cast<const char*>(info != nullptr ? info->si_addr : nullptr);
  if (copy != nullptr && at >= copy->begin && at < copy->end) siglongjmp(copy->resume, 1);
  // Not a fault of ours: whoever handled SIGBUS before us does.
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction != nullptr) g_previous.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previous.sa_handler == SIG_IGN) return;
  if (g_previous.sa_handler == SIG_DFL) {
    // Returning re-runs the faulting access, which now ends the process.
    ::signal(SIGBUS, SIG_DFL);
    return;
  }
  g_previous.sa_handler(signal);
}

void installSigbusHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_sigaction = onSigbus;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
  });
}

}  // namespace

bool copyFromSegment(void* to, const void* from, size_t n) {
  if (n == 0) return true;
  installSigbusHandler();
  GuardedCopy copy;
  copy.begin = static_cast<const char*>(from);
  copy.end = copy.begin + n;
  // The saved signal mask unblocks SIGBUS again after a fault.
  if (sigsetjmp(copy.resume, 1) != 0) {
    t_copy = nullptr;
    return false;
  }
  t_copy = &copy;
  std::memcpy(to, from, n);
  t_copy = nullptr;
  return true;
}

}  // namespace RTC
