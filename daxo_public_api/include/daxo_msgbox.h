// A message for the user: printed on the console and, when a display is
// reachable, shown in a simple X11 window until the user closes it.
//
// Threading: may be called from any thread, but it blocks the calling thread
// until the window is closed (a key or button press in it, or the window
// manager's close). Not for threads with time limits. While a window is up
// the X11 error handler of the process is replaced; it is restored before
// MsgBox returns.
#pragma once

namespace DAXO {

/// Message kinds.
constexpr int MsgBoxInfo = 0;
constexpr int MsgBoxWarning = 1;
constexpr int MsgBoxError = 2;

/// Prints "Warning: <title>: <text>\n" on standard output for kind 1,
/// "Error: <title>: <text>\n" on standard error for kind 2 and
/// "<title>: <text>\n" on standard output for any other kind (a null title
/// or text prints as empty). Then, unless the environment variable SILENT or
/// VELQUOR_SILENT is set, shows the text in a window titled `title` on the
/// default X11 display (or ":0") and waits until it is closed. Returns at
/// once when no display can be opened or the font "fixed" is missing.
void MsgBox(const char* title, const char* text, int kind);

}  // namespace DAXO
