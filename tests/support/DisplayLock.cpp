#include "DisplayLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace pixmoor_test {

DisplayLock::DisplayLock() {
  const char* display = std::getenv("DISPLAY");
  std::string name = display ? display : "";
  for (char& c : name)
    if (c == '/' || c == ':') c = '_';
  std::string path = "/tmp/pixmoor-display" + name + ".lock";
  m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (m_fd < 0) return;
  ::fchmod(m_fd, 0666);  // another user's tests may share the server
  while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

DisplayLock::~DisplayLock() {
  if (m_fd >= 0) ::close(m_fd);
}

}  // namespace pixmoor_test
