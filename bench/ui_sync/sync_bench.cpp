// Cost of one status-panel write in the running program: the model changes and every
// widget of the windows is brought in line with it (the binding's sync). A session makes
// one such write per packet, so this is the GUI's share of each packet's time.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdio>

#include "ui/creation.h"
#include "ui/messages.h"
#include "ui/qt/binding.h"

namespace {

using namespace quillon;

void BM_PanelWriteWithSync(benchmark::State& state) {
    ui::Shell shell;
    ui::CreateWindows(shell, ui::Edition::Updater);
    ui::RunCreationWork(shell, {"Quillon RC", "Dec  9 2026", "10:11:12"});
    ui::qt::Binding binding(shell);
    shell.main_window().visible = true;
    binding.sync();
    int block = 0;
    char text[32];
    for (auto _ : state) {
        std::snprintf(text, sizeof text, "Program %05d (%05x)", block, block);
        ui::SetPanelText(shell, shell.form1->StatusBar1, ui::PanelSlot::ActivityPanel, text);
        block += 64;
    }
}
BENCHMARK(BM_PanelWriteWithSync)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
