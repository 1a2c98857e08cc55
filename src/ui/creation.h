// Creation work of the windows: captions, titles, pictures and the selectors that the
// product label decides. Runs once per window, at the moment start-up creates it.
#pragma once

#include <string>

#include "ui/windows.h"

namespace quillon::ui {

// What the build fixed: the product label and the build stamps ("Dec  9 2026", "14:03:07").
struct BuildInfo {
    std::string label;
    std::string date;
    std::string time;
};

// "Updater 2.7 - <label>   [ <date> ]": the main window's caption and the caption of the
// second-instance message.
std::string UpdaterTitle(const BuildInfo& build);
std::string UpgradeCaption(const BuildInfo& build);
std::string LoaderCaption(const BuildInfo& build, std::uint8_t loader_family);

void CreateUpgradeWork(Shell& shell, const BuildInfo& build);
void CreateLoaderWork(Shell& shell, const BuildInfo& build);
// Does nothing when an edition window exists: the main window then stays in its
// design-time state and is never shown.
void CreateMainWork(Shell& shell, const BuildInfo& build);

// Loader window: puts the progress bar, message line and device rows back to the prompt.
void ClearLabel(TForm6& form);

// Runs the creation work of every window, in start-up order.
void RunCreationWork(Shell& shell, const BuildInfo& build);

}  // namespace quillon::ui
