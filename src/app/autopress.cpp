#include "app/autopress.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace quillon::app {
namespace {

// How often the progress bar is looked at for the picture in the middle of an update; a
// run of the K80 image at the real line rate takes about 1.5 s.
constexpr int kShotPollMs = 20;

bool Save(QWidget* form, const QString& path) {
    if (form->grab().save(path)) return true;
    std::fprintf(stderr, "quillon: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
}

// The moment for the picture: the bar has started over near zero (the search leaves it
// near full) and has since reached half of its range.
struct MidUpdateShot {
    bool restarted = false;
    bool taken = false;
    bool Due(const QProgressBar& bar) {
        const int span = bar.maximum() - bar.minimum();
        const int at = bar.value() - bar.minimum();
        if (taken || span <= 0) return false;
        if (at * 10 < span) restarted = true;
        return restarted && at * 2 >= span;
    }
};

}  // namespace

bool ArmAutoPress(ui::qt::Binding& binding, ui::Shell& shell,
                  std::function<void(const QString&)> trace) {
    if (!qEnvironmentVariableIsSet("QUILLON_AUTOPRESS")) return true;
    bool ok = false;
    const int presses = qEnvironmentVariable("QUILLON_AUTOPRESS").toInt(&ok);
    if (!ok || presses < 1 || presses > kMaxAutoPresses) {
        std::fprintf(stderr, "quillon: QUILLON_AUTOPRESS wants a number of presses from 1 to %d\n",
                     kMaxAutoPresses);
        return false;
    }
    const QString shots = qEnvironmentVariable("QUILLON_SHOTS");
    QTimer::singleShot(0, [&binding, &shell, presses, shots, trace] {
        ui::qt::FormWidget* form = binding.form(shell.main_window());
        auto* button = form->findChild<QPushButton*>("Button1");
        auto* bar = form->findChild<QProgressBar*>("ProgressBar1");
        MidUpdateShot shot;
        shot.taken = shots.isEmpty() || !bar;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!shot.Due(*bar)) return;
            Save(form, shots + "/update.png");
            shot.taken = true;  // once, whether or not it could be written
        });
        watch.start(kShotPollMs);
        // Each click runs a whole search and update inside it, the window kept alive by the
        // waits; the button comes back when the update has ended.
        for (int i = 1; i <= presses && button && button->isVisible() && button->isEnabled(); ++i) {
            trace(QString("press %1").arg(i));
            button->click();
        }
        watch.stop();
        if (!shots.isEmpty()) Save(form, shots + "/result.png");
        form->close();
    });
    return true;
}

}  // namespace quillon::app
