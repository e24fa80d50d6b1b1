#include "ScopedLock.h"

#include <stdexcept>

#include "LockObject.h"

ScopedLock::ScopedLock(LockObject* object)
    : m_section(object != nullptr ? &object->m_criticalSection : nullptr) {
  if (m_section == nullptr) {
    throw std::invalid_argument("ScopedLock: pass the LockObject to hold, not null");
  }
  m_section->lock();
}

ScopedLock::~ScopedLock() { m_section->unlock(); }
