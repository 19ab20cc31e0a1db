// The one way a worker thread reaches the window: its request runs on the
// thread that owns the window, and the worker waits for it. On that thread
// itself the request runs directly; a blocking queued call from there would
// wait for itself.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <type_traits>
#include <utility>

namespace quenlo::qt {

template <class Fn>
std::invoke_result_t<Fn&> CallOnUi(QObject* ui, Fn&& fn) {
    using Result = std::invoke_result_t<Fn&>;
    if (QThread::currentThread() == ui->thread()) return fn();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(
            ui, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            ui, [&fn, &result] { result = fn(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

// Hands fn to the window's thread and returns at once: for callers that must
// never wait (log sinks, the standard-error reader).
template <class Fn>
void PostToUi(QObject* ui, Fn&& fn) {
    QMetaObject::invokeMethod(ui, std::forward<Fn>(fn), Qt::QueuedConnection);
}

}  // namespace quenlo::qt
