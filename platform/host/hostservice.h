#pragma once

#include <QString>

class Instrument;
class QMainWindow;

// The host's service window: the instrument's option pages in an options
// frame, a button that opens the manual test dialog, and the instrument's
// status bar, with status polled every 2 s and temperatures every 5 s while
// it is open.
//
// Interactive (grabDir empty): shows the window and runs until it is closed;
// returns the event loop's exit code.
//
// Grab (grabDir set): takes the temperatures once, then saves each option
// page (shown in the window) and the manual test dialog as PNG files in
// grabDir, named after the page's class ("connectionpage.png", ...,
// "manualtest.png"), prints each path and returns 0; 1 when a file cannot
// be written or the instrument did not connect.
namespace hostservice {

int exec(Instrument* instrument, const QString& grabDir);

} // namespace hostservice
