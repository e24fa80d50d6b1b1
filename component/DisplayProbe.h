// Finds out, without putting the process at risk, whether the window system
// that OpenCV's windows would be drawn on can be reached.
#ifndef COMPONENT_DISPLAYPROBE_H
#define COMPONENT_DISPLAYPROBE_H

#include <string>

// How long the X server has to answer a connection: activation waits for
// the probe, and a stopped server would otherwise hold it for ever.
const int kXServerAnswerMs = 400;

// Returns true when a window can be opened: the window system the Qt library
// under OpenCV would pick (QT_QPA_PLATFORM, else a Wayland session's
// compositor, else the X server named by DISPLAY) answers. Otherwise returns
// false and says why in `reason`. Qt ends the whole process when it cannot
// connect, so this runs before the first window is created, and it accepts
// only platforms whose readiness it can check (xcb, wayland) or that need no
// display (offscreen, minimal). `platform`, when given, gets the one chosen.
bool probeDisplay(std::string* reason, std::string* platform = nullptr);

// Returns true when the X server named by `display` answers a connection
// within `timeoutMs`; otherwise false with the reason in `reason`.
bool xServerResponds(const std::string& display, int timeoutMs, std::string* reason);

#endif
