#pragma once
// kvt40's scripted runs (tests, screenshots, benchmarks): connect at start without showing
// the Connect dialog, open a form and a tab, click buttons, then print a cell, save the
// window, say it is shown or report each measurement cycle. Its options (--tab, --click,
// --print-cell-within-ms, --after-ms, --quit-when-shown and --print-cycles are not in the help):
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
//   --step ACTION                 then, in order, each after the one before (repeatable):
//                                 wait:MS, click:ID (a button or check box), edit:ID=TEXT,
//                                 file:PATH (the update form's file dialog answers PATH),
//                                 form:ID (leave for form ID as the user would),
//                                 menu:ID (the window's command ID, as from its menu)
//   --show-messages               shows message boxes in a scripted run (for a screenshot
//                                 of a question); the window picture includes them

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}
class CMainFrame;
class QApplication;

class Automation {
public:
    // Declares the options on kvt40's command line; those with a text show in its help.
    void Declare(CLI::App& app);
    // After the parse: the usage error's message when a value is wrong, else nothing.
    std::optional<std::string> Check();
    // --sim: the built-in virtual module and its readings unless the line says otherwise.
    void StartOnVirtualModule();
    // A scripted run answers message boxes on stderr instead of showing them.
    bool Scripted() const;
    // Whether message boxes are shown even so (--show-messages).
    bool ShowsMessages() const { return showMessages_; }
    // Runs the options against the frame shown, then the event loop; returns the exit code.
    int Run(QApplication& app, CMainFrame& frame);

private:
    // As given on the line; Check turns them into the values below.
    std::string addressText_;
    std::string baudText_;
    std::string formText_;
    std::string tabText_;
    std::vector<std::string> clickTexts_;
    std::vector<std::string> printCellTexts_;
    std::string afterMsText_;

    bool interactiveSim_ = false;  // a failed connect then leaves the window up, unconnected
    std::string connectPort_;
    int address_ = 1;
    int baudIndex_ = 1;
    int form_ = 0;
    int tab_ = -1;
    std::vector<int> clicks_;
    int printAfterMs_ = -1;
    int printRow_ = 0;
    int printCol_ = 0;
    std::string screenshot_;
    int shotAfterMs_ = 1000;
    bool quitWhenShown_ = false;
    bool printCycles_ = false;
    bool showMessages_ = false;

    // One --step: what it does and to what.
    struct Step {
        enum class Kind { Wait, Click, Edit, File, Form, Menu } kind;
        int number = 0;  // the wait's ms, the control's or the form's id
        std::string text;
    };
    std::vector<std::string> stepTexts_;
    std::vector<Step> steps_;
    // Runs steps_ from `next` on; false (and a message on stderr) when one cannot be done.
    void RunSteps(CMainFrame& frame, std::size_t next, int& rc);
    bool RunStep(CMainFrame& frame, const Step& step);
};
