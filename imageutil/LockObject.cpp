#include "LockObject.h"

LockObject::LockObject() = default;

LockObject::~LockObject() = default;

void LockObject::lock() { m_criticalSection.lock(); }

void LockObject::unlock() { m_criticalSection.unlock(); }
