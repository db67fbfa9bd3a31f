// A stand-in for the user's mail program: one window with the title given
// as the argument, which prints every key event it receives
// ("press Control_L 0": key symbol and the send_event flag) and "ready"
// once it is mapped.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return 3;
  const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 10, 200, 100, 0, 0, 0xffffff);
  XStoreName(d, w, argv[1]);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(argv[1]),
                  static_cast<int>(std::strlen(argv[1])));
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = True;
  XSetWMHints(d, w, &hints);
  XSelectInput(d, w, KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask);
  XMapWindow(d, w);
  for (;;) {
    XEvent e;
    XNextEvent(d, &e);
    if (e.type == MapNotify) {
      std::printf("ready\n");
    } else if (e.type == FocusIn) {
      std::printf("focus\n");
    } else if (e.type == KeyPress || e.type == KeyRelease) {
      const KeySym sym = XLookupKeysym(&e.xkey, 0);
      const char* name = XKeysymToString(sym);
      std::printf("%s %s %d\n", e.type == KeyPress ? "press" : "release", name ? name : "?",
                  e.xkey.send_event ? 1 : 0);
    }
    std::fflush(stdout);
  }
}
