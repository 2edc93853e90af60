// modrin-wm: the two things a window manager does that the soak needs, on a display that has
// none.
//   modrin-wm ping WINDOW TIMEOUT_MS  asks the client that owns the X window WINDOW whether its
//                                     event loop still turns (_NET_WM_PING) and waits up to
//                                     TIMEOUT_MS for the answer: status 0 answered, 1 not in
//                                     time
//   modrin-wm close WINDOW            asks the client to close WINDOW (WM_DELETE_WINDOW), as
//                                     a title bar's close button does
// Status 2: bad arguments, no display or no such window. The client sends its answer to a
// ping back to the root window, so it is read from the root's structure notifications.
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

void SendProtocolMessage(Display* display, Window window, Atom protocol, long stamp) {
  XEvent message{};
  message.xclient.type = ClientMessage;
  message.xclient.window = window;
  message.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  message.xclient.format = 32;
  message.xclient.data.l[0] = static_cast<long>(protocol);
  message.xclient.data.l[1] = stamp;
  message.xclient.data.l[2] = static_cast<long>(window);
  XSendEvent(display, window, False, NoEventMask, &message);
  XFlush(display);
}

// True when the answer to the ping stamped `stamp` comes before `deadline`.
bool AwaitPingAnswer(Display* display, long stamp, Clock::time_point deadline) {
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  while (true) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == ClientMessage && event.xclient.message_type == protocols &&
          static_cast<Atom>(event.xclient.data.l[0]) == ping && event.xclient.data.l[1] == stamp) {
        return true;
      }
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left));
  }
}

// A window that has gone (a dialog closing by itself meanwhile) is an answer, not a crash.
int ReportXError(Display* display, XErrorEvent* error) {
  char text[256];
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::fprintf(stderr, "modrin-wm: %s\n", text);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const bool ping = argc == 4 && std::strcmp(argv[1], "ping") == 0;
  const bool close = argc == 3 && std::strcmp(argv[1], "close") == 0;
  const Window window = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 0;
  const long timeout_ms = ping ? std::strtol(argv[3], nullptr, 10) : 0;
  Display* display = (ping || close) ? XOpenDisplay(nullptr) : nullptr;
  if (display == nullptr || window == 0 || (ping && timeout_ms <= 0)) {
    std::fprintf(stderr,
                 "usage: modrin-wm ping WINDOW TIMEOUT_MS | modrin-wm close WINDOW "
                 "(on an X display)\n");
    return 2;
  }
  XSetErrorHandler(ReportXError);
  bool answered = true;
  if (ping) {
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    // A stamp of our own tells our answer from one to anyone else's ping.
    const auto now = Clock::now();
    const long stamp = static_cast<long>(now.time_since_epoch().count() & 0x7fffffff);
    SendProtocolMessage(display, window, XInternAtom(display, "_NET_WM_PING", False), stamp);
    answered = AwaitPingAnswer(display, stamp, now + std::chrono::milliseconds(timeout_ms));
  } else {
    SendProtocolMessage(display, window, XInternAtom(display, "WM_DELETE_WINDOW", False),
                        CurrentTime);
  }
  XCloseDisplay(display);
  return answered ? 0 : 1;
}
