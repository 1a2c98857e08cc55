#include "ui/qt/qt_pump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>

namespace quillon::ui::qt {
namespace {

// Ends the running wait once the user has acted (a click, a key, a window closing). The
// event's handler runs before the wait returns, so the caller sees a Stop at once, not at
// the end of its slice.
class UserActionWake : public QObject {
public:
    explicit UserActionWake(std::function<void()> wake) : wake_(std::move(wake)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonRelease:
            case QEvent::KeyRelease:
            case QEvent::Close:
                wake_();
                break;
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> wake_;
};

}  // namespace

QtPump::QtPump(std::function<int()> input_handle)
    : input_handle_(input_handle), plain_(std::move(input_handle)) {}

QtPump::~QtPump() {
    if (filter_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(filter_.get());
}

void QtPump::wake() {
    if (active_) active_->woken = true;
}

// Input with no wait running is not this pump's to read: the run is over, or the engine
// is between waits and reads it in its next one. Either way the watch goes until a wait
// arms it again, so that unread bytes cannot keep the event loop busy.
void QtPump::input() {
    if (active_ && active_->fd >= 0) {
        wake();
    } else if (notifier_) {
        notifier_->setEnabled(false);
    }
}

void QtPump::rest() {
    if (notifier_) notifier_->setEnabled(false);
}

bool QtPump::watching() const {
    return notifier_ && notifier_->isEnabled();
}

void QtPump::build() {
    if (timer_) return;
    timer_ = std::make_unique<QTimer>();
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { wake(); });
    ++built_.timers;
    filter_ = std::make_unique<UserActionWake>([this] { wake(); });
    QCoreApplication::instance()->installEventFilter(filter_.get());
    ++built_.filters;
}

void QtPump::arm(const Active& a) {
    // The timer counts whole milliseconds: round up, so a wait never ends before its time
    // (the caller's deadline arithmetic would only make another, shorter wait).
    const auto left = a.deadline - now();
    timer_->start(left > engine::Clock::duration::zero()
                      ? std::chrono::ceil<std::chrono::milliseconds>(left)
                      : std::chrono::milliseconds(0));
    if (a.fd >= 0 && a.fd != notifier_fd_) {
        // A new handle (the port was opened again): its own notifier.
        notifier_ = std::make_unique<QSocketNotifier>(a.fd, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { input(); });
        notifier_fd_ = a.fd;
        ++built_.notifiers;
    }
    // Enabled while waits want the input; a wait that does not, or a closed handle, turns
    // it off (a closed handle is never polled).
    if (notifier_) notifier_->setEnabled(a.fd >= 0 && a.fd == notifier_fd_);
}

void QtPump::wait(engine::Clock::duration max, bool process_ui, bool wake_on_input) {
    if (max <= engine::Clock::duration::zero()) return;
    if (!process_ui || !QCoreApplication::instance()) {
        plain_.wait(max, process_ui, wake_on_input);
        return;
    }
    build();
    Active self{now() + max, wake_on_input && input_handle_ ? input_handle_() : -1};
    Active* const outer = active_;
    active_ = &self;
    arm(self);
    while (!self.woken) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    active_ = outer;
    if (outer) {  // a wait nested in an event handler gives the timer and notifier back
        arm(*outer);
    } else {
        timer_->stop();  // the notifier stays armed for the next wait (see rest())
    }
}

}  // namespace quillon::ui::qt
