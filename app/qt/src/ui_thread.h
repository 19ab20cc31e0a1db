// The one way a worker thread reaches the window: its request is queued to the
// thread that owns the window and the worker goes on at once, so that no
// worker's timing depends on how busy the window is.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <utility>

namespace quenlo::qt {

// Hands fn to the window's thread and returns at once.
template <class Fn>
void PostToUi(QObject* ui, Fn&& fn) {
    QMetaObject::invokeMethod(ui, std::forward<Fn>(fn), Qt::QueuedConnection);
}

}  // namespace quenlo::qt
