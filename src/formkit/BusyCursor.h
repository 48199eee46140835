#pragma once
// The wait cursor while the user-interface thread is blocked, so a window that cannot answer
// never looks dead.
//
//     { BusyCursor busy; worker.join(); }   // for a scope
//     BusyCursor::UntilIdle();              // from now until the thread is back in its event loop
//
// Both nest. On a worker thread, or without a GUI application, they do nothing.
//
// Thread contract: call from any thread; only the user-interface thread's calls act.

#include <QtGlobal>

class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    // Shows the wait cursor until the event loop runs again (a handler has returned, or a
    // message box waits for the user, who then sees the ordinary cursor).
    static void UntilIdle();
    // Whether the wait cursor shows now.
    static bool Shown();

private:
    bool held_ = false;
};
