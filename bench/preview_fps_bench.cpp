// Frames per second of the "City Preview" window at 500 x 500, the way the program draws them:
// a QOpenGLWidget repainted and put on screen, every frame finished before the next. Over
// examples/metropolis (100 x 100 cells) drawn from vertex buffers and in immediate mode, and
// over examples/downtown/downtown-1024.xml (1024 x 1024 cells) from buffers; each from the home
// camera and from inside the city. Run from the repository root under xvfb-run (Mesa's
// software renderer).
#include "app/AppSetup.h"
#include "base/Log.h"
#include "base/Memory.h"
#include "config/CityFactory.h"
#include "grammar/Texture.h"
#include "preview/CityWindow.h"
#include "preview/gl/TextureCache.h"

#include <GL/gl.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <malloc.h>
#include <memory>
#include <string>

namespace {

// As the programs do when they start.
[[maybe_unused]] const bool kFreedMemoryKept = (ombrel::keepFreedMemory(), true);

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_preview_fps";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// Heap bytes in use (small blocks and mapped ones): the driver keeps buffers there.
double heapBytes() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks) + static_cast<double>(m.hblkhd);
}

// CPU time of the whole process, the renderer's threads included.
double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const char* const kCities[] = {"examples/metropolis/metropolis.xml",
                               "examples/downtown/downtown-1024.xml"};

struct Preview {
    ombrel::StringLogSink log;
    ombrel::ScopedLogSink scoped{log};
    ombrel::CityFactory factory;
    ombrel::CityFactory::Generated city;
    std::unique_ptr<ombrel::CCityWindow> window;
    int cityIndex = -1;
};

// The city is kept for the whole run (a city is generated when a benchmark asks for another)
// and never destroyed; each benchmark opens a window of its own and closes it (see
// closeWindow), since windows must go while Qt is still whole.
Preview* openPreview(int cityIndex, std::string* why) {
    static Preview* p = nullptr;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        *why = "needs a display: run under xvfb-run";
        return nullptr;
    }
    if (!p) {
        ombrel::prepareApplication(application());
        p = new Preview;
    }
    if (!p->window) {
        p->window = std::make_unique<ombrel::CCityWindow>(24);
        if (!p->window->CreateGLContext()) {
            *why = "no OpenGL context";
            p->window.reset();
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
            p->window.reset();
            return nullptr;
        }
    }
    if (p->cityIndex != cityIndex) {
        p->window->setCity(nullptr);
        p->city = {};
        const char* file = kCities[cityIndex];
        if (!p->factory.load(file)) {
            *why = std::string("cannot load ") + file +
                   " (run from the repository root): " + p->log.text();
            return nullptr;
        }
        p->city = p->factory.generate();
        p->cityIndex = cityIndex;
    }
    return p;
}

// The window goes, and with its context the texture objects of the city's textures.
void closeWindow(Preview& p) {
    p.window->setCity(nullptr);
    if (p.window->MakeCurrent()) {
        for (const auto& [name, group] : p.factory.textureGroups) {
            for (const auto& entry : group->textures.entries()) {
                ombrel::TextureCache::release(*entry.item);
            }
        }
    }
    p.window.reset();
}

// One frame as the camera timer asks for it: paint now, put it on screen, wait until drawn.
void frame(ombrel::CCityWindow& window) {
    window.repaint();
    QCoreApplication::processEvents();
    window.makeCurrent();
    glFinish();
}

void BM_PreviewFrame(benchmark::State& state) {
    const int cityIndex = static_cast<int>(state.range(0));
    const bool immediate = state.range(1) != 0;
    const bool inside = state.range(2) != 0;
    std::string why;
    Preview* p = openPreview(cityIndex, &why);
    if (!p) {
        state.SkipWithError(why.c_str());
        return;
    }
    ombrel::CCityWindow& window = *p->window;
    window.setRenderer(immediate ? ombrel::CityRenderer::immediate : ombrel::CityRenderer::batched);
    const ombrel::Vec3 lo = p->city.minCorner;
    const ombrel::Vec3 hi = p->city.maxCorner;
    ombrel::CameraState camera = ombrel::cameraFacingCity(lo, hi);
    if (inside) {
        camera.position = {lo.x + (hi.x - lo.x) * 0.45f, lo.y + (hi.y - lo.y) * 0.3f, 20.0f};
    }
    // Handing the city over builds its buffers; the first frames upload the textures (and, for
    // a city over the buffer budget, build the blocks in view, 50 ms of building a frame).
    const double before = heapBytes();
    QElapsedTimer built;
    built.start();
    window.setCity(p->city.city.get());
    const double buildSeconds = static_cast<double>(built.nsecsElapsed()) * 1e-9;
    window.setCameraHome(camera);
    QElapsedTimer firstFrames;
    firstFrames.start();
    int building = 0;
    do {
        frame(window);
        ++building;
    } while (window.building());
    const double firstSeconds = static_cast<double>(firstFrames.nsecsElapsed()) * 1e-9;
    const double after = heapBytes();
    const double cpuStart = processSeconds();
    for (auto _ : state) {
        frame(window);
    }
    const double frames = static_cast<double>(state.iterations());
    const double cells = static_cast<double>(p->city.city->cellCount());
    const ombrel::CityBatch& batch = window.sceneView().batch();
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["process_cpu_ms"] = (processSeconds() - cpuStart) / frames * 1e3;
    state.counters["buffer_B_per_cell"] =
        immediate ? 0.0 : static_cast<double>(batch.bufferBytes()) / cells;
    state.counters["heap_growth_MB"] = (after - before) / 1.0e6;
    state.counters["hand_over_s"] = buildSeconds;
    state.counters["first_frames"] = building;
    state.counters["first_frames_s"] = firstSeconds;
    state.counters["blocks_drawn"] = immediate ? 0.0 : static_cast<double>(batch.blocksDrawn());
    state.SetLabel(std::string(cityIndex == 0 ? "metropolis" : "downtown-1024") +
                   (immediate ? " immediate" : " batched") + (inside ? " inside" : " home"));
    closeWindow(*p);
}
BENCHMARK(BM_PreviewFrame)
    ->ArgNames({"city", "immediate", "inside"})
    ->Args({0, 0, 0})
    ->Args({0, 1, 0})
    ->Args({0, 0, 1})
    ->Args({0, 1, 1})
    ->Args({1, 0, 0})
    ->Args({1, 0, 1})
    ->UseRealTime()
    ->MinTime(5.0)
    ->Unit(benchmark::kMillisecond);

} // namespace
