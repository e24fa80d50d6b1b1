// Finds out, without putting the process at risk, whether the window system
// that OpenCV's windows would be drawn on can be reached.
#ifndef COMPONENT_DISPLAYPROBE_H
#define COMPONENT_DISPLAYPROBE_H

#include <string>

struct _XDisplay;  // Xlib's Display

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
// `keepOpen`, when given and the X server answered, gets the probe's Xlib
// connection for the caller to close (XCloseDisplay) once its own is open:
// a server left by its last client resets itself and drops the connections
// that arrive meanwhile, Qt's among them.
bool probeDisplay(std::string* reason, std::string* platform = nullptr,
                  _XDisplay** keepOpen = nullptr);

// Closes a connection probeDisplay kept open (null: nothing).
void closeProbeConnection(_XDisplay* connection);

// Returns true when the X server named by `display` answers a connection
// within `timeoutMs`; otherwise false with the reason in `reason`.
bool xServerResponds(const std::string& display, int timeoutMs, std::string* reason);

#endif
