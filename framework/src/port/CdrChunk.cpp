#include "port/CdrChunk.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "port/MemoryBudget.h"

namespace RTC {

namespace {

bool aligned8(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 7u) == 0; }

}  // namespace

static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= 8,
              "in-place CDR reads need new[] to return 8-aligned storage");

bool CdrChunk::assign(const CORBA::Octet* data, CORBA::ULong length) {
  if (!resize(length)) return false;
  if (length > 0) std::memcpy(m_data, data, length);
  return true;
}

bool CdrChunk::resize(CORBA::ULong length) {
  if (length > m_capacity) {
    release();
    if (m_budget != nullptr && !m_budget->reserve(length)) return false;
    try {
      m_data = OpenRTM::CdrData::allocbuf(length);
    } catch (const std::bad_alloc&) {
      m_data = nullptr;
    }
    if (m_data == nullptr) {
      if (m_budget != nullptr) m_budget->release(length);
      return false;
    }
    m_capacity = length;
  }
  m_length = length;
  return true;
}

bool CdrChunk::takeFrom(OpenRTM::CdrData& seq, bool& ok) {
  const CORBA::ULong length = seq.length();
  const CORBA::ULong maximum = seq.maximum();
  if (seq.release() && length > 0 && aligned8(seq.NP_data())) {
    release();
    if (m_budget != nullptr && !m_budget->reserve(maximum)) {
      ok = false;
      return false;
    }
    CORBA::Octet* buffer = seq.get_buffer(true);
    if (buffer == nullptr && m_budget != nullptr) m_budget->release(maximum);
    if (buffer != nullptr) {
      m_data = buffer;
      m_capacity = maximum;
      m_length = length;
      ok = true;
      return true;
    }
  }
  ok = assign(seq.NP_data(), length);
  return false;
}

void CdrChunk::release() {
  if (m_data != nullptr) OpenRTM::CdrData::freebuf(m_data);
  if (m_budget != nullptr && m_capacity > 0) m_budget->release(m_capacity);
  m_data = nullptr;
  m_length = 0;
  m_capacity = 0;
}

}  // namespace RTC
