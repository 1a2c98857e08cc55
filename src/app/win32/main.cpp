// Quillon start-up on Windows: single instance, then the program of the edition the
// product label names, with a last-resort catch that still ends with code 0.
#include <windows.h>

#include "app/edition.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/win32/program.h"
#include "ui/creation.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace quillon;
    const ui::BuildInfo build{app::ProductLabel(), app::BuildDate(), app::BuildTime()};
    app::SingleInstance guard;
    if (guard.already_running()) {
        app::win32::ShowMessage(ui::UpdaterTitle(build), "Already in progress",
                                MB_TOPMOST | MB_SETFOREGROUND);
        return app::kExitCode;
    }
    app::win32::Trace("guard taken");
    const int code = app::RunGuarded([&] { app::win32::Run(build); },
                                     [](const std::string& message) {
                                         app::win32::ShowMessage("Quillon", message, MB_ICONERROR);
                                     });
    guard.release();
    return code;
}
