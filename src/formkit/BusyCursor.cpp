#include "formkit/BusyCursor.h"

#include <QCursor>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>

namespace {

// Set while UntilIdle's cursor waits for the event loop (user-interface thread only).
bool g_untilIdle = false;

bool OnUserInterfaceThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return qobject_cast<const QGuiApplication*>(app) != nullptr && QThread::currentThread() == app->thread();
}

}  // namespace

BusyCursor::BusyCursor() : held_(OnUserInterfaceThread()) {
    if (held_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor() {
    if (held_) QGuiApplication::restoreOverrideCursor();
}

void BusyCursor::UntilIdle() {
    if (g_untilIdle || !OnUserInterfaceThread()) return;
    g_untilIdle = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // A zero timer fires only once the thread processes events again.
    QTimer::singleShot(0, QCoreApplication::instance(), [] {
        g_untilIdle = false;
        QGuiApplication::restoreOverrideCursor();
    });
}

bool BusyCursor::Shown() {
    if (!OnUserInterfaceThread()) return false;
    const QCursor* c = QGuiApplication::overrideCursor();
    return c != nullptr && c->shape() == Qt::WaitCursor;
}
