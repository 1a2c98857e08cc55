// Quillon start-up: single instance, edition from the product label, the windows in their
// fixed order, the message loop, and a last-resort catch that still ends with code 0.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/edition.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "ui/commands.h"
#include "ui/creation.h"
#include "ui/qt/binding.h"

namespace {

using namespace quillon;

// QUILLON_TRACE=1 prints the start-up steps on stderr and dismisses message boxes at once,
// so that the whole program can be driven by tests and scripts without a person.
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

void ShowMessage(QMessageBox::Icon icon, const QString& caption, const QString& text,
                 bool topmost) {
    Trace("message box: " + caption + "|" + text);
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    if (topmost) box.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (Tracing()) QTimer::singleShot(0, &box, &QMessageBox::accept);
    box.exec();
}

void WireCommands(ui::Shell& shell, ui::qt::Binding& binding) {
    if (shell.form1) {
        auto& c = binding.commands(shell.form1->window);
        c.button2_click = [&shell] { ui::MainStopClick(shell); };
    }
    if (shell.form5) {
        auto& c = binding.commands(shell.form5->window);
        c.button2_click = [&shell] { ui::UpgradeStopClick(shell); };
    }
    if (shell.form6) {
        auto& c = binding.commands(shell.form6->window);
        c.button2_click = [&shell] { ui::LoaderAbortClick(shell); };
    }
    // Closing the main window ends the message loop, whatever dialogs are still open.
    auto& main_commands = binding.commands(shell.main_window());
    main_commands.form_close = [] { QCoreApplication::quit(); };
}

void Run(const ui::BuildInfo& build) {
    ui::Shell shell;
    const ui::Edition edition = app::SelectEdition(build.label);
    ui::CreateWindows(shell, edition);
    ui::RunCreationWork(shell, build);
    for (const ui::Window* w : {shell.form5 ? &shell.form5->window : nullptr,
                                shell.form6 ? &shell.form6->window : nullptr, &shell.form1->window,
                                &shell.form3->window, &shell.form4->window})
        if (w) Trace("created " + QString::fromLatin1(w->name.c_str()));
    QApplication::setApplicationDisplayName(QString::fromLatin1(shell.app_title.c_str()));

    ui::qt::Binding binding(shell);
    WireCommands(shell, binding);
    shell.main_window().visible = true;
    binding.sync();
    Trace("running " + QString::fromLatin1(shell.main_window().name.c_str()) + " \"" +
          QString::fromLatin1(shell.main_window().caption.c_str()) + "\"");
    QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const ui::BuildInfo build{app::ProductLabel(), app::BuildDate(), app::BuildTime()};

    app::SingleInstance guard;
    if (guard.already_running()) {
        QApplication::setApplicationDisplayName(QString());
        ShowMessage(QMessageBox::NoIcon, QString::fromLatin1(ui::UpdaterTitle(build).c_str()),
                    "Already in progress", true);
        return 0;
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
