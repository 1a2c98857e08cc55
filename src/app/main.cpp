// Quillon start-up: single instance, edition from the product label, the windows in their
// fixed order, the message loop, and a last-resort catch that still ends with code 0.
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

#include <cstdlib>
#include <memory>

#include "app/assembly.h"
#include "app/autopress.h"
#include "app/build_stamp.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/udp_listener.h"
#include "app/wiring.h"
#include "ui/commands.h"
#include "ui/creation.h"
#include "ui/qt/binding.h"
#include "ui/qt/qt_pump.h"
#include "ui/qt/setup_dialog_view.h"
#include "ui/qt/version_dialog_view.h"

namespace {

using namespace quillon;

// QUILLON_TRACE=1 prints the start-up steps and the runs on stderr, dismisses message boxes
// at once and takes user actions from standard input (see DriveFromInput), so that the
// whole program can be driven by tests and scripts without a person.
bool Tracing() {
    static const bool on = [] {
        const char* v = std::getenv("QUILLON_TRACE");
        return v && *v && *v != '0';
    }();
    return on;
}

void Trace(const QString& line) {
    if (Tracing()) std::fprintf(stderr, "quillon: %s\n", line.toLocal8Bit().constData());
}

QString Q(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

void ShowMessage(QMessageBox::Icon icon, const QString& caption, const QString& text,
                 bool topmost) {
    Trace("message box: " + caption + "|" + text);
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    if (topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (Tracing()) QTimer::singleShot(0, &box, &QMessageBox::accept);
    box.exec();
}

void WireCommands(app::Program& p, ui::qt::Binding& binding) {
    ui::Shell& shell = p.shell;
    ui::Services& s = p.services;
    app::WireWindowCommands(
        p, [&binding](const ui::Window& w) -> ui::Commands& { return binding.commands(w); },
        [](const std::function<void()>& update) {
            Trace("update");
            update();
            Trace("update returned");
        });
    // Closing the main window saves the port and ends the message loop, whatever dialogs
    // are still open; during a run, once the run has stopped.
    binding.commands(shell.main_window()).form_close = [&] {
        Trace("close");
        ui::MainFormClose(shell, s);
    };
    s.end_program = [] {
        Trace("ending");
        QCoreApplication::quit();
    };
}

// With tracing on, lines on standard input act as the user would: "click WINDOW BUTTON"
// clicks a button of a window ("click TForm1 Button1"), "close WINDOW" closes a window.
// They go through the real widgets, so the program's own handlers run.
std::unique_ptr<QSocketNotifier> DriveFromInput(ui::qt::Binding& binding, ui::Shell& shell) {
    if (!Tracing()) return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(
        notifier.get(), &QSocketNotifier::activated, [&binding, &shell, n = notifier.get()] {
            char buf[256];
            const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf - 1);
            if (got <= 0) {
                n->setEnabled(false);  // end of input: nothing more to do
                return;
            }
            const QStringList lines = QString::fromLatin1(buf, got).split('\n', Qt::SkipEmptyParts);
            for (const QString& line : lines) {
                const QStringList w = line.split(' ', Qt::SkipEmptyParts);
                QWidget* form = nullptr;
                for (const ui::Window* m : shell.windows())
                    if (w.size() >= 2 && Q(m->name) == w[1]) form = binding.form(*m);
                if (!form) {
                    Trace("no window: " + line);
                } else if (w[0] == "close") {
                    form->close();
                } else if (w[0] == "click" && w.size() >= 3) {
                    if (auto* b = form->findChild<QAbstractButton*>(w[2]))
                        b->click();
                    else
                        Trace("no button: " + line);
                }
            }
        });
    return notifier;
}

void Run(const ui::BuildInfo& build) {
    app::Program p(build, [](std::function<int()> input_handle) {
        return std::make_unique<ui::qt::QtPump>(std::move(input_handle));
    });
    // Scripts that drive the program (the close tests, the GUI benchmark) wait for these
    // lines.
    p.services.session = [&p, session = p.services.session] {
        Trace("session");
        p.shell.frames.reset_stats();
        const engine::SessionResult r = session();
        Trace(QString::fromStdString(p.shell.frames.StatsText()));
        Trace(QString("session ended, %1 images left").arg(r.remaining));
        return r;
    };
    p.channels.message_box = [](std::string_view caption, std::string_view text) {
        ShowMessage(QMessageBox::Critical, Q(std::string(caption)), Q(std::string(text)), false);
    };

    ui::Shell& shell = p.shell;
    std::vector<std::string> args;
    for (const QString& a : QCoreApplication::arguments().mid(1)) args.push_back(a.toStdString());
    const auto udp = app::OpenUdpListener(args, shell);
    if (udp) Trace(QString("udp listener on %1").arg(udp->port()));
    p.RunCreationWork();
    for (const ui::Window* w : shell.windows()) Trace("created " + Q(w->name));
    QApplication::setApplicationDisplayName(Q(shell.app_title));

    ui::qt::Binding binding(shell);
    ui::qt::SetupDialogView setup(binding, shell, p.ports, p.channels);
    ui::qt::VersionDialogView version(binding, shell, *p.catalog);
    WireCommands(p, binding);
    // Only the main window's close ends the program, and only once no run is left.
    QApplication::setQuitOnLastWindowClosed(false);
    const auto drive = DriveFromInput(binding, shell);
    shell.main_window().visible = true;
    binding.sync();
    Trace("running " + Q(shell.main_window().name) + " \"" + Q(shell.main_window().caption) + "\"");
    if (!app::ArmAutoPress(binding, shell, Trace)) return;
    QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const ui::BuildInfo build{app::ProductLabel(), app::BuildDate(), app::BuildTime()};

    app::SingleInstance guard;
    if (guard.already_running()) {
        QApplication::setApplicationDisplayName(QString());
        ShowMessage(QMessageBox::NoIcon, Q(ui::UpdaterTitle(build)), "Already in progress", true);
        return app::kExitCode;
    }
    Trace("guard taken");
    const int code = app::RunGuarded(
        [&] { Run(build); },
        [](const std::string& message) {
            ShowMessage(QMessageBox::Critical, QApplication::applicationDisplayName(),
                        QString::fromLocal8Bit(message.c_str()), false);
        });
    guard.release();
    return code;
}
