// Quillon start-up: single instance, edition from the product label, the windows in their
// fixed order, the message loop, and a last-resort catch that still ends with code 0.
#include <QApplication>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/edition.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "catalog/preparation.h"
#include "engine/session.h"
#include "serial/channel.h"
#include "serial/ports.h"
#include "ui/commands.h"
#include "ui/creation.h"
#include "ui/engine_frontend.h"
#include "ui/program.h"
#include "ui/qt/binding.h"
#include "ui/qt/qt_pump.h"
#include "ui/qt/setup_dialog_view.h"
#include "ui/qt/version_dialog_view.h"

namespace {

using namespace quillon;

constexpr quint16 kUdpListenerPort = 3004;
constexpr qint64 kUdpReceiveBufferBytes = 65536;

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

// The "\P" switch opens a UDP listener on port 3004. Nothing is defined for it to
// receive or send: datagrams are read and dropped so the socket never fills up.
std::unique_ptr<QUdpSocket> OpenUdpListener(const QStringList& args) {
    if (args.size() < 2 || args.at(1).compare("\\P", Qt::CaseInsensitive) != 0) return nullptr;
    auto socket = std::make_unique<QUdpSocket>();
    socket->setReadBufferSize(kUdpReceiveBufferBytes);
    if (!socket->bind(QHostAddress::Any, kUdpListenerPort)) return nullptr;
    QUdpSocket* raw = socket.get();
    QObject::connect(raw, &QUdpSocket::readyRead, raw, [raw] {
        while (raw->hasPendingDatagrams()) raw->receiveDatagram();
    });
    Trace("udp listener on 3004");
    return socket;
}

// Everything one running program owns, created in start-up order and destroyed in reverse.
struct Program {
    ui::Shell shell;
    serial::ChannelTable channels;
    serial::PortSelection ports;
    std::unique_ptr<catalog::CatalogState> catalog = std::make_unique<catalog::CatalogState>();
    ui::EngineFrontend frontend{shell, ports, channels};
    // The pump wakes on the port the link reads: a running search or session keeps its own.
    ui::qt::QtPump pump{[this] { return channels.PollHandle(engine::LinkPort(engine)); }};
    engine::Engine engine{frontend, channels, ports, pump};
    ui::Services services{channels, ports, *catalog, engine, {}, {}, {}, {}};
    std::unique_ptr<QUdpSocket> udp;
};

void WireCommands(Program& p, ui::qt::Binding& binding) {
    ui::Shell& shell = p.shell;
    ui::Services& s = p.services;
    auto& main = binding.commands(shell.form1->window);
    main.button1_click = [&] { ui::MainUpdateClick(shell, s); };
    main.button2_click = [&] { ui::MainStopClick(shell); };
    main.menu_click = [&] { ui::MainChangePortClick(shell, s); };
    main.label1_double_click = [&] { ui::MainLabel1DblClick(shell, s); };
    if (shell.form5) {
        auto& c = binding.commands(shell.form5->window);
        c.button1_click = [&] { ui::UpgradeStartClick(shell, s); };
        c.button2_click = [&] { ui::UpgradeStopClick(shell); };
        c.menu_click = [&] { ui::UpgradeSerialPortClick(shell, s); };
    }
    if (shell.form6) {
        auto& c = binding.commands(shell.form6->window);
        c.button1_click = [&] { ui::LoaderUpdateClick(shell, s); };
        c.button2_click = [&] { ui::LoaderAbortClick(shell); };
        c.menu_click = [&] { ui::LoaderChangePortClick(shell, s); };
    }
    // Closing the main window saves the port and ends the message loop, whatever dialogs
    // are still open.
    binding.commands(shell.main_window()).form_close = [&] {
        ui::MainFormClose(shell, s);
        QCoreApplication::quit();
    };
}

void Run(const ui::BuildInfo& build) {
    Program p;
    p.services.build = build;
    p.services.list_ports = [] { return serial::ListPorts(); };
    p.services.session = [&p](engine::ProgressBarRef bar, engine::StatusBarRef status) {
        return static_cast<std::int8_t>(engine::PrgMode(p.engine, *p.catalog, bar, status));
    };
    p.channels.message_box = [](std::string_view caption, std::string_view text) {
        ShowMessage(QMessageBox::Critical, Q(std::string(caption)), Q(std::string(text)), false);
    };

    ui::Shell& shell = p.shell;
    const ui::Edition edition = app::SelectEdition(build.label);
    ui::CreateWindows(shell, edition);
    if (edition != ui::Edition::Loader) {
        p.udp = OpenUdpListener(QCoreApplication::arguments());
        if (p.udp) shell.notify_outcome = [](std::uint8_t) {};  // nothing is sent
    }
    ui::RunCreationWork(shell, p.services);
    for (const ui::Window* w : {shell.form5 ? &shell.form5->window : nullptr,
                                shell.form6 ? &shell.form6->window : nullptr, &shell.form1->window,
                                &shell.form3->window, &shell.form4->window})
        if (w) Trace("created " + Q(w->name));
    QApplication::setApplicationDisplayName(Q(shell.app_title));

    ui::qt::Binding binding(shell);
    ui::qt::SetupDialogView setup(binding, shell, p.ports, p.channels);
    ui::qt::VersionDialogView version(binding, shell, *p.catalog);
    WireCommands(p, binding);
    shell.main_window().visible = true;
    binding.sync();
    Trace("running " + Q(shell.main_window().name) + " \"" + Q(shell.main_window().caption) + "\"");
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
