// Finds out, without putting the process at risk, whether the window system
// that OpenCV's windows would be drawn on can be reached.
#ifndef COMPONENT_DISPLAYPROBE_H
#define COMPONENT_DISPLAYPROBE_H

#include <string>

// Returns true when a window can be opened: the window system the Qt library
// under OpenCV would pick (QT_QPA_PLATFORM, else a Wayland session's
// compositor, else the X server named by DISPLAY) answers. Otherwise returns
// false and says why in `reason`. Qt ends the whole process when it cannot
// connect, so this runs before the first window is created.
bool probeDisplay(std::string* reason);

#endif
