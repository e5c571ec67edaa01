// The console message and the X11 message window. The only unit of the
// runtime that includes X11 headers.
#include "daxo_msgbox.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

int PrintXError(Display* display, XErrorEvent* event) {
  char text[256] = {0};
  XGetErrorText(display, event->error_code, text, sizeof text);
  fprintf(stderr, "X11 error: %s\n", text);
  return 0;  // keep going: a failed request must not end the process
}

// A broken connection must end only the message, not the process: Xlib's
// default I/O error handler and exit handler both end the process. The exit
// handler is per display and sets the flag the event loop watches.
int PrintXIOError(Display* /*display*/) {
  fprintf(stderr, "X11 error: %s\n", "connection to the display lost");
  return 0;
}
void OnConnectionLost(Display* /*display*/, void* lost) {
  *static_cast<bool*>(lost) = true;
}

// Installs the process-wide X error handlers for the lifetime of the scope
// and restores the previous ones on every way out.
class XErrorHandlerScope {
 public:
  XErrorHandlerScope()
      : m_previous(XSetErrorHandler(&PrintXError)),
        m_previousIO(XSetIOErrorHandler(&PrintXIOError)) {}
  ~XErrorHandlerScope() {
    XSetIOErrorHandler(m_previousIO);
    XSetErrorHandler(m_previous);
  }
  XErrorHandlerScope(const XErrorHandlerScope&) = delete;
  XErrorHandlerScope& operator=(const XErrorHandlerScope&) = delete;

 private:
  XErrorHandler m_previous;
  XIOErrorHandler m_previousIO;
};

std::vector<std::string> SplitLines(const char* text) {
  std::vector<std::string> lines(1);
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += *p;
    }
  }
  return lines;
}

void ShowWindow(Display* display, const char* title, const char* text, const bool& lost) {
  XFontStruct* font = XLoadQueryFont(display, "fixed");
  if (font == nullptr) return;
  const std::vector<std::string> lines = SplitLines(text);
  const int lineHeight = 3 * (font->ascent + font->descent) / 2;
  int widest = 0;
  for (const std::string& line : lines) {
    const int w = XTextWidth(font, line.c_str(), static_cast<int>(line.size()));
    if (w > widest) widest = w;
  }
  const int screen = DefaultScreen(display);
  const int screenWidth = DisplayWidth(display, screen);
  const int screenHeight = DisplayHeight(display, screen);
  int width = widest + 80;
  if (width < 100) width = 100;
  if (width > screenWidth) width = screenWidth;
  const int height = lineHeight * static_cast<int>(lines.size()) + 100;
  const int x = (screenWidth - width) / 2;
  const int y = (screenHeight - height) / 2;

  const Window window = XCreateSimpleWindow(
      display, RootWindow(display, screen), x, y, static_cast<unsigned>(width),
      static_cast<unsigned>(height), 1, BlackPixel(display, screen), WhitePixel(display, screen));
  XSizeHints hints{};
  hints.flags = PPosition | PSize;
  hints.x = x;
  hints.y = y;
  hints.width = width;
  hints.height = height;
  XSetWMNormalHints(display, window, &hints);
  XStoreName(display, window, title);
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteWindow, 1);
  XSelectInput(display, window, ExposureMask | KeyPressMask | ButtonPressMask);
  const GC gc = XCreateGC(display, window, 0, nullptr);
  XSetFont(display, gc, font->fid);
  XSetForeground(display, gc, BlackPixel(display, screen));
  XMapWindow(display, window);
  XFlush(display);

  const int top = (height - lineHeight * static_cast<int>(lines.size())) / 2;
  const int left = (width - widest) / 2;
  bool open = true;
  while (open && !lost) {
    while (open && !lost && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      switch (event.type) {
        case Expose:
          XClearWindow(display, window);
          for (size_t i = 0; i < lines.size(); ++i) {
            XDrawString(display, window, gc, left,
                        top + static_cast<int>(i) * lineHeight + font->ascent, lines[i].c_str(),
                        static_cast<int>(lines[i].size()));
          }
          break;
        case KeyPress:
        case ButtonPress:
          open = false;
          break;
        case ClientMessage:
          if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) open = false;
          break;
        default:
          break;
      }
    }
    if (open && !lost) {
      const struct timespec tick = {0, 10 * 1000 * 1000};
      nanosleep(&tick, nullptr);
    }
  }
  XFreeGC(display, gc);
  XDestroyWindow(display, window);
  XFreeFont(display, font);
}

}  // namespace

namespace DAXO {

void MsgBox(const char* title, const char* text, int kind) {
  if (title == nullptr) title = "";
  if (text == nullptr) text = "";
  if (kind == MsgBoxWarning) {
    fprintf(stdout, "Warning: %s: %s\n", title, text);
    fflush(stdout);
  } else if (kind == MsgBoxError) {
    fprintf(stderr, "Error: %s: %s\n", title, text);
    fflush(stderr);
  } else {
    fprintf(stdout, "%s: %s\n", title, text);
    fflush(stdout);
  }
  if (getenv("SILENT") != nullptr || getenv("VELQUOR_SILENT") != nullptr) return;

  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) display = XOpenDisplay(":0");
  if (display == nullptr) return;
  // Both stay in force until the display is closed: errors are reported, a
  // broken connection ends only the message.
  bool lost = false;
  XSetIOErrorExitHandler(display, &OnConnectionLost, &lost);
  XErrorHandlerScope errors;
  ShowWindow(display, title, text, lost);
  XCloseDisplay(display);
}

}  // namespace DAXO
