// RTC::StatusList: the component's SDO status, as get_status_list answers it.
#ifndef RTM_STATUSLIST_H
#define RTM_STATUSLIST_H

#include <rtm/idl/SDOPackageSkel.h>

#include <functional>
#include <mutex>

namespace RTC {

// An SDOPackage::NVList that the component replaces whole on its own thread
// while the ORB's threads copy it: both under one lock. Assigning and copying
// read as with the plain NVList the real framework declares, so
// `m_sdoStatus = fresh;` compiles against either.
class StatusList {
 public:
  // Adds the runtime's own entries to a list being published.
  typedef std::function<void(SDOPackage::NVList&)> Appendix;

  StatusList() = default;
  StatusList(const StatusList&) = delete;

  // Publishes `list`, with the appendix's entries taken at the same moment.
  StatusList& operator=(const SDOPackage::NVList& list);
  // Returns a copy of what was published last.
  operator SDOPackage::NVList() const { return copy(); }
  SDOPackage::NVList copy() const;
  // Returns whether anything was published yet.
  bool published() const;
  // Sets the appendix; called once, before the component may publish.
  void setAppendix(Appendix appendix) { m_appendix = std::move(appendix); }

 private:
  mutable std::mutex m_mutex;
  SDOPackage::NVList m_list;
  bool m_published = false;
  Appendix m_appendix;
};

}  // namespace RTC

#endif
