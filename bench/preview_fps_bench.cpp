// Frames per second of the "City Preview" window at 500 x 500 over examples/metropolis (100 x 100
// cells), the way the program draws them: a QOpenGLWidget repainted and put on screen, every
// frame finished before the next. "afresh" hands the city to the window before every frame, so
// every frame draws it in immediate mode; "recorded" replays its display list. Run from the
// repository root under xvfb-run (Mesa's software renderer).
#include "app/AppSetup.h"
#include "base/Log.h"
#include "config/CityFactory.h"
#include "preview/CityWindow.h"

#include <GL/gl.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <memory>
#include <string>

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_preview_fps";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// Heap bytes in use (small blocks and mapped ones): the driver keeps display lists there. Resident
// memory would hide them in pages that the generation freed and the allocator kept.
double heapBytes() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks) + static_cast<double>(m.hblkhd);
}

struct Preview {
    ombrel::StringLogSink log;
    ombrel::ScopedLogSink scoped{log};
    ombrel::CityFactory factory;
    ombrel::CityFactory::Generated city;
    std::unique_ptr<ombrel::CCityWindow> window;
};

// The window shown, the city generated and handed over, the camera at its home in front of it.
std::unique_ptr<Preview> openPreview(std::string* why) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        *why = "needs a display: run under xvfb-run";
        return nullptr;
    }
    ombrel::prepareApplication(application());
    auto p = std::make_unique<Preview>();
    if (!p->factory.load("examples/metropolis/metropolis.xml")) {
        *why = "cannot load examples/metropolis/metropolis.xml (run from the repository root): " +
               p->log.text();
        return nullptr;
    }
    p->city = p->factory.generate();
    p->window = std::make_unique<ombrel::CCityWindow>(24);
    if (!p->window->CreateGLContext()) {
        *why = "no OpenGL context";
        return nullptr;
    }
    p->window->resize(500, 500);
    p->window->show();
    QElapsedTimer waited;
    waited.start();
    while (!(p->window->windowHandle() && p->window->windowHandle()->isExposed()) &&
           waited.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!p->window->windowHandle() || !p->window->windowHandle()->isExposed()) {
        *why = "the window was never shown";
        return nullptr;
    }
    p->window->setCity(p->city.city.get());
    p->window->setCameraHome(ombrel::cameraFacingCity(p->city.minCorner, p->city.maxCorner));
    return p;
}

// One frame as the camera timer asks for it: paint now, put it on screen, wait until drawn.
void frame(ombrel::CCityWindow& window) {
    window.repaint();
    QCoreApplication::processEvents();
    window.makeCurrent();
    glFinish();
}

void BM_PreviewFrame(benchmark::State& state) {
    const bool recorded = state.range(0) != 0;
    std::string why;
    std::unique_ptr<Preview> p = openPreview(&why);
    if (!p) {
        state.SkipWithError(why.c_str());
        return;
    }
    ombrel::CCityWindow& window = *p->window;
    // The first frame uploads the textures, the second records the list: its memory is the
    // heap's growth over the second.
    frame(window);
    const double before = heapBytes();
    frame(window);
    const double after = heapBytes();
    for (auto _ : state) {
        if (!recorded) {
            window.setCity(p->city.city.get());
        }
        frame(window);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["list_MB"] = recorded ? (after - before) / 1.0e6 : 0.0;
    state.counters["list_builds"] = static_cast<double>(window.sceneView().cityListBuilds());
    state.SetLabel(recorded ? "recorded" : "afresh");
}
BENCHMARK(BM_PreviewFrame)
    ->ArgName("recorded")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->MinTime(5.0)
    ->Unit(benchmark::kMillisecond);

} // namespace
