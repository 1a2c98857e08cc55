#include "ui/qt/qt_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <memory>

namespace quillon::ui::qt {

QtPump::QtPump(std::function<int()> input_handle)
    : input_handle_(input_handle), plain_(std::move(input_handle)) {}

void QtPump::wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) {
    if (max <= engine::Clock::duration::zero()) return;
    if (!process_ui || !QCoreApplication::instance()) {
        plain_.wait(max, process_ui, wake_on_input);
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    // The timer counts whole milliseconds: round up, so a wait never ends before its time
    // (the caller's deadline arithmetic would only make another, shorter wait).
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(max);
    timer.start(ms);

    std::unique_ptr<QSocketNotifier> input;
    const int fd = wake_on_input && input_handle_ ? input_handle_() : -1;
    if (fd >= 0) {
        input = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(input.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
    loop.exec();
}

}  // namespace quillon::ui::qt
