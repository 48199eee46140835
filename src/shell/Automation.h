#pragma once
// kvt40's scripted runs (tests, screenshots, benchmarks): connect at start without showing
// the Connect dialog, open a form and a tab, click buttons, then print a cell, save the
// window, say it is shown or report each measurement cycle. Not shown in the usage:
//   --connect PORT [--address N] [--baud 4800|9600|19200]
//                                 runs the Connect dialog's code path without showing it
//   --form ID                     switches to form ID after start (and after --connect)
//   --tab N                       then shows tab N of the form's tab control (0 the first)
//   --click ID                    then clicks the form's button ID (repeatable, in order)
//   --print-cell-within-ms M ROW COL
//                                 prints the cell of the form's grid as soon as it is filled
//                                 (at most M ms after start; empty and exit 1 then) and exits
//   --screenshot FILE [--after-ms M]   saves the main window to FILE after M ms and exits
//   --quit-when-shown             prints "shown" once the main window is up, then exits
//   --print-cycles                prints the wall time of each measurement cycle in ms

#include <string>
#include <vector>

class CMainFrame;
class QApplication;

struct Options {
    bool internal = false;
    bool sim = false;
    std::string connectPort;
    int address = 1;
    int baudIndex = 1;
    int form = 0;
    int tab = -1;
    std::vector<int> clicks;
    int printAfterMs = -1;
    int printRow = 0;
    int printCol = 0;
    std::string screenshot;
    int shotAfterMs = 1000;
    bool quitWhenShown = false;
    bool printCycles = false;
};

bool Parse(int argc, char** argv, Options& o);

// Runs the options against the frame shown, then the event loop; returns the exit code.
// With interactiveSim a failed connect leaves the window up, unconnected.
int RunAutomation(QApplication& app, CMainFrame& frame, Options& o, bool interactiveSim);
