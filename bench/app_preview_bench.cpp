// Cost of the preview's sky backdrop (built again whenever the window's size changes; it follows
// the area) and of one generator-log append as the log grows (it must not grow with the log).
#include "app/AppSetup.h"
#include "app/OmbrelDialog.h"
#include "preview/gl/SceneView.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

void BM_BackdropImage(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    for (auto _ : state) {
        std::vector<std::uint8_t> image = ombrel::SceneView::backdropImage(w, h);
        benchmark::DoNotOptimize(image.data());
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}
BENCHMARK(BM_BackdropImage)->Args({500, 500})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_app_preview";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication app(argc, argv);
    return app;
}

// One log line of four pieces, appended to a log that already holds range(0) lines.
void BM_LogAppend(benchmark::State& state) {
    ombrel::prepareApplication(application());
    auto dialog = std::make_unique<ombrel::COmbrelDialog>();
    dialog->initDialog();
    dialog->show();
    const std::string line = "Generated city [randomSeed=0x0000D0E1]";
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        dialog->AppendToLog(line);
        dialog->AppendToLog("\r\n");
    }
    for (auto _ : state) {
        dialog->AppendToLog("Saved as VRML to ");
        dialog->AppendToLog("/tmp/city.wrl");
        dialog->AppendToLog("\r\n");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogAppend)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace
