// Fresh connector identifiers.
#ifndef RTM_SRC_UUID_H
#define RTM_SRC_UUID_H

#include <string>

namespace RTC {

// Returns a random (version 4) UUID in its 36-character text form.
std::string makeUuid();

}  // namespace RTC

#endif
