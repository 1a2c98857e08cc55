// Renders the main window of each edition offscreen and saves it as PNG into the folder
// given as the first argument.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "app/build_stamp.h"
#include "ui/creation.h"
#include "ui/messages.h"
#include "ui/qt/binding.h"

using namespace quillon;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QString dir = argc > 1 ? argv[1] : ".";
    QDir().mkpath(dir);
    struct Shot {
        const char* file;
        std::string label;
    };
    const Shot shots[] = {{"updater.png", "Quillon RC 2.04"},
                          {"upgrade.png", app::ProductLabel()},
                          {"loader.png", "KP310c 01.1x"}};
    for (const Shot& s : shots) {
        ui::Shell shell;
        ui::CreateWindows(shell, editions::FromLabel(s.label));
        ui::RunCreationWork(shell, {s.label, app::BuildDate(), app::BuildTime()});
        ui::qt::Binding binding(shell);
        shell.main_window().visible = true;
        ui::SetPanelText(shell, *shell.running.status_bar, ui::PanelSlot::PortPanel, "COM1");
        // The window as it shows a success on its large result line, where it has one.
        if (shell.facts().success_shown == editions::SuccessShown::Outcome)
            ui::ShowOutcome(shell, shell.facts().success_text, ui::colour::kGreen, 1);
        binding.sync();
        QApplication::processEvents();
        const QString path = dir + "/" + s.file;
        if (!binding.form(shell.main_window())->grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
            return 1;
        }
        std::printf("wrote %s\n", path.toLocal8Bit().constData());
    }
    return 0;
}
