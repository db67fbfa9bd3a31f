#include "platform/x11_key_sender.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

// After Qt: the X headers define Bool, Status and None as macros.
// clang-format off
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

namespace kelvrin::platform {

const char* const kNeedsX11Text =
    "Sending your email program's Send/Receive keys needs an X11 session.\r"
    "Log in with an X11 (Xorg) session to use it, or press Send/Receive in your "
    "email program yourself.";

namespace {

Display* dpy(void* d) {
  return static_cast<Display*>(d);
}

// A window can go away between listing and reading it; Xlib's default
// handler would end the program for that.
int ignoreXError(Display*, XErrorEvent*) {
  return 0;
}

std::vector<Window> windowList(Display* d, Window w, const char* property) {
  std::vector<Window> out;
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, XInternAtom(d, property, False), 0, 1L << 16, False, XA_WINDOW,
                         &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    if (type == XA_WINDOW && format == 32) {
      const auto* ids = reinterpret_cast<const unsigned long*>(data);
      out.assign(ids, ids + count);
    }
    XFree(data);
  }
  return out;
}

std::vector<Window> children(Display* d, Window w) {
  Window root = 0, parent = 0;
  Window* kids = nullptr;
  unsigned int n = 0;
  std::vector<Window> out;
  if (XQueryTree(d, w, &root, &parent, &kids, &n) != 0 && kids != nullptr) {
    out.assign(kids, kids + n);
    XFree(kids);
  }
  return out;
}

QString windowTitle(Display* d, Window w) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  QString title;
  if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False,
                         XInternAtom(d, "UTF8_STRING", False), &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    if (format == 8)
      title = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(count));
    XFree(data);
  }
  if (!title.isEmpty()) return title;
  XTextProperty text{};
  if (XGetWMName(d, w, &text) != 0 && text.value != nullptr) {
    const auto* bytes = reinterpret_cast<const char*>(text.value);
    title = text.encoding == XInternAtom(d, "UTF8_STRING", False)
                ? QString::fromUtf8(bytes, static_cast<int>(text.nitems))
                : QString::fromLatin1(bytes, static_cast<int>(text.nitems));
    XFree(text.value);
  }
  return title;
}

bool iconified(Display* d, Window w) {
  const Atom wmState = XInternAtom(d, "WM_STATE", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool iconic = false;
  if (XGetWindowProperty(d, w, wmState, 0, 2, False, wmState, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    iconic = format == 32 && count >= 1 && *reinterpret_cast<const long*>(data) == IconicState;
    XFree(data);
  }
  return iconic;
}

bool focusIsIn(Display* d, Window w) {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  const Window root = DefaultRootWindow(d);
  // The focus may sit on a child of the client window.
  for (int depth = 0; focus != 0 && focus != PointerRoot && focus != root && depth < 16; ++depth) {
    if (focus == w) return true;
    Window r = 0, parent = 0;
    Window* kids = nullptr;
    unsigned int n = 0;
    if (XQueryTree(d, focus, &r, &parent, &kids, &n) == 0) return false;
    if (kids != nullptr) XFree(kids);
    focus = parent;
  }
  return false;
}

KeySym virtualKeySym(unsigned vk) {
  switch (vk) {
    case 8:
      return XK_BackSpace;
    case 9:
      return XK_Tab;
    case 13:
      return XK_Return;
    case 16:
      return XK_Shift_L;
    case 17:
      return XK_Control_L;
    case 18:
      return XK_Alt_L;
    case 19:
      return XK_Pause;
    case 20:
      return XK_Caps_Lock;
    case 27:
      return XK_Escape;
    case 33:
      return XK_Page_Up;
    case 34:
      return XK_Page_Down;
    case 35:
      return XK_End;
    case 36:
      return XK_Home;
    case 37:
      return XK_Left;
    case 38:
      return XK_Up;
    case 39:
      return XK_Right;
    case 40:
      return XK_Down;
    case 45:
      return XK_Insert;
    case 46:
      return XK_Delete;
    default:
      break;
  }
  if (vk >= 112 && vk <= 123) return XK_F1 + (vk - 112);
  return NoSymbol;
}

KeySym modifierKeySym(unsigned vk) {
  return vk == settings::kVkShift     ? XK_Shift_L
         : vk == settings::kVkControl ? XK_Control_L
                                      : XK_Alt_L;
}

constexpr KeySym kModifierKeys[] = {XK_Shift_L, XK_Shift_R, XK_Control_L,       XK_Control_R,
                                    XK_Alt_L,   XK_Alt_R,   XK_Meta_L,          XK_Meta_R,
                                    XK_Super_L, XK_Super_R, XK_ISO_Level3_Shift};

}  // namespace

X11KeySender::X11KeySender(std::function<void()> afterEachKey)
    : afterEachKey_(std::move(afterEachKey)) {}

X11KeySender::~X11KeySender() {
  if (display_ != nullptr) {
    // Never leave a key of ours held down.
    for (const unsigned kc : ownDown_)
      fakeKey(kc, false);
    XFlush(dpy(display_));
    XCloseDisplay(dpy(display_));
  }
}

bool X11KeySender::open() {
  if (display_ != nullptr) return true;
  if (triedOpen_) return false;
  triedOpen_ = true;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') return false;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return false;
  int event = 0, error = 0, major = 0, minor = 0;
  if (XTestQueryExtension(d, &event, &error, &major, &minor) == 0) {
    qWarning("hot-key: the X server has no XTest extension");
    XCloseDisplay(d);
    return false;
  }
  XSetErrorHandler(ignoreXError);
  display_ = d;
  return true;
}

std::optional<std::string> X11KeySender::unavailableReason() {
  if (open()) return std::nullopt;
  return std::string(kNeedsX11Text);
}

settings::KeySender::WindowHandle X11KeySender::GetHandleFromWindowTitle(std::string_view title) {
  if (!open()) return 0;
  Display* d = dpy(display_);
  const Window root = DefaultRootWindow(d);
  std::vector<Window> candidates = windowList(d, root, "_NET_CLIENT_LIST");
  if (candidates.empty()) {
    // No EWMH window manager: the top-level windows and, below a
    // reparenting manager's frames, their children.
    for (const Window top : children(d, root)) {
      candidates.push_back(top);
      for (const Window c : children(d, top))
        candidates.push_back(c);
    }
  }
  const QString wanted = QString::fromUtf8(title.data(), static_cast<int>(title.size()));
  for (const Window w : candidates) {
    if (windowTitle(d, w).compare(wanted, Qt::CaseInsensitive) == 0) return w;
  }
  return 0;
}

void X11KeySender::MakeWindowActive(WindowHandle window) {
  if (window == 0 || !open()) return;
  Display* d = dpy(display_);
  const auto w = static_cast<Window>(window);
  if (iconified(d, w)) XMapRaised(d, w);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = 2;  // a request on the user's behalf, not to be refused as focus stealing
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
  XFlush(d);
  // Keys sent before the window manager has moved the focus would land in
  // whatever window had it; wait a little for the focus, letting events run.
  for (int i = 0; i < 50 && !focusIsIn(d, w); ++i) {
    if (afterEachKey_) afterEachKey_();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void X11KeySender::fakeKey(unsigned keycode, bool down) {
  XTestFakeKeyEvent(dpy(display_), keycode, down ? True : False, CurrentTime);
}

void X11KeySender::tap(unsigned keycode, bool withShift) {
  const unsigned shift = XKeysymToKeycode(dpy(display_), XK_Shift_L);
  if (withShift) fakeKey(shift, true);
  fakeKey(keycode, true);
  fakeKey(keycode, false);
  if (withShift) fakeKey(shift, false);
}

void X11KeySender::SendKeys(std::string_view codes) {
  if (!open()) return;
  Display* d = dpy(display_);

  // Modifiers the user still holds would change the keys: let them go for
  // the replay and press them again afterwards.
  char keymap[32] = {};
  XQueryKeymap(d, keymap);
  std::vector<unsigned> userHeld;
  for (const KeySym sym : kModifierKeys) {
    const unsigned kc = XKeysymToKeycode(d, sym);
    if (kc == 0 || ownDown_.count(kc) != 0) continue;
    if ((keymap[kc / 8] & (1 << (kc % 8))) != 0) {
      bool seen = false;
      for (const unsigned u : userHeld)
        seen = seen || u == kc;
      if (!seen) userHeld.push_back(kc);
    }
  }
  for (const unsigned kc : userHeld)
    fakeKey(kc, false);

  for (const settings::KeyStep& step : settings::decodeKeyCodes(codes)) {
    using Kind = settings::KeyStep::Kind;
    switch (step.kind) {
      case Kind::ModifierDown:
      case Kind::ModifierUp: {
        const unsigned kc = XKeysymToKeycode(d, modifierKeySym(step.code));
        const bool down = step.kind == Kind::ModifierDown;
        fakeKey(kc, down);
        if (down) {
          ownDown_.insert(kc);
        } else {
          ownDown_.erase(kc);
        }
        break;
      }
      case Kind::VirtualKey: {
        const KeySym sym = virtualKeySym(step.code);
        const unsigned kc = sym == NoSymbol ? 0 : XKeysymToKeycode(d, sym);
        if (kc == 0) {
          qWarning("hot-key: key code %u has no key here and is skipped", step.code);
          break;
        }
        tap(kc, false);
        break;
      }
      case Kind::Character: {
        // The 8-bit codes are Latin-1, whose key symbols are the codes.
        const KeySym sym = (step.code >= 0x7F && step.code < 0xA0) ? NoSymbol : step.code;
        const unsigned kc = sym == NoSymbol ? 0 : XKeysymToKeycode(d, sym);
        int level = -1;
        if (kc != 0) {
          if (XkbKeycodeToKeysym(d, static_cast<KeyCode>(kc), 0, 0) == sym) {
            level = 0;
          } else if (XkbKeycodeToKeysym(d, static_cast<KeyCode>(kc), 0, 1) == sym) {
            level = 1;
          }
        }
        if (level < 0) {
          qWarning("hot-key: the keyboard layout cannot type character %u; it is skipped",
                   step.code);
          break;
        }
        tap(kc, level == 1 && !step.modifierHeld);
        break;
      }
    }
    XFlush(d);
    if (afterEachKey_) afterEachKey_();
  }

  for (const unsigned kc : userHeld)
    fakeKey(kc, true);
  XFlush(d);
}

std::optional<std::string> defaultMailProgramName() {
  QProcess query;
  query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                           QStringLiteral("x-scheme-handler/mailto")});
  if (!query.waitForFinished(2000) || query.exitCode() != 0) {
    query.kill();
    query.waitForFinished(1000);
    return std::nullopt;
  }
  const QString id = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
  if (id.isEmpty() || id.contains(QLatin1Char('/'))) return std::nullopt;

  QStringList dirs;
  const QByteArray home = qgetenv("XDG_DATA_HOME");
  dirs << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share")
                          : QString::fromLocal8Bit(home));
  const QByteArray data = qgetenv("XDG_DATA_DIRS");
  dirs << (data.isEmpty() ? QStringLiteral("/usr/local/share:/usr/share")
                          : QString::fromLocal8Bit(data))
              .split(QLatin1Char(':'), Qt::SkipEmptyParts);
  // A desktop file id "vendor-app.desktop" may also stand for vendor/app.desktop.
  QStringList names{id};
  if (id.contains(QLatin1Char('-')))
    names << QString(id).replace(QLatin1Char('-'), QLatin1Char('/'));
  for (const QString& dir : dirs) {
    for (const QString& name : names) {
      QFile file(dir + QStringLiteral("/applications/") + name);
      if (!file.open(QIODevice::ReadOnly)) continue;
      bool inEntry = false;
      while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
          inEntry = line == QStringLiteral("[Desktop Entry]");
        } else if (inEntry) {
          // Blanks around the "=" do not count; Name[xx] is a translation.
          const qsizetype equals = line.indexOf(QLatin1Char('='));
          if (equals > 0 && line.left(equals).trimmed() == QStringLiteral("Name")) {
            return line.mid(equals + 1).trimmed().toStdString();
          }
        }
      }
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace kelvrin::platform
