#include "QtMainThread.h"

#include "MyUtils.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

void InstallQtMainThread() {
    SetMainThreadWaker([] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { CheckSynchronize(0); }, Qt::QueuedConnection);
    });
    SetMessagePump([] { QCoreApplication::processEvents(); });
}

void WaitForEvents() {
    CheckSynchronize(0);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void WakeUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    // A posted call both wakes the event wait and counts as the event it waits for.
    QMetaObject::invokeMethod(
        app, [] {}, Qt::QueuedConnection);
}
