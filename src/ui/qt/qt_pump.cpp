#include "ui/qt/qt_pump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <memory>

namespace quillon::ui::qt {
namespace {

// Ends a wait once the user has acted (a click, a key, a window closing): the handler has
// run by the time the loop returns, so the caller sees a Stop at once, not at the end of
// its slice.
class UserActionWake : public QObject {
public:
    explicit UserActionWake(QEventLoop& loop) : loop_(loop) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonRelease:
            case QEvent::KeyRelease:
            case QEvent::Close:
                QMetaObject::invokeMethod(&loop_, &QEventLoop::quit, Qt::QueuedConnection);
                break;
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QEventLoop& loop_;
};

}  // namespace

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
    UserActionWake wake(loop);
    QCoreApplication::instance()->installEventFilter(&wake);
    loop.exec();
    QCoreApplication::instance()->removeEventFilter(&wake);
}

}  // namespace quillon::ui::qt
