#include <rtm/StatusList.h>

namespace RTC {

StatusList& StatusList::operator=(const SDOPackage::NVList& list) {
  // Built outside the lock: the ORB's readers wait only for the swap.
  SDOPackage::NVList fresh(list);
  if (m_appendix) m_appendix(fresh);
  std::lock_guard<std::mutex> lock(m_mutex);
  m_list = fresh;
  m_published = true;
  return *this;
}

SDOPackage::NVList StatusList::copy() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_list;
}

bool StatusList::published() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_published;
}

}  // namespace RTC
