#include "InterruptGuard.h"

#include <csignal>

namespace rtmctl {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void noteInterrupt(int) { g_interrupted = 1; }

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
  struct sigaction action = {};
  action.sa_handler = noteInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &m_oldInt);
  sigaction(SIGTERM, &action, &m_oldTerm);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &m_oldInt, nullptr);
  sigaction(SIGTERM, &m_oldTerm, nullptr);
}

bool InterruptGuard::interrupted() const { return g_interrupted != 0; }

}  // namespace rtmctl
