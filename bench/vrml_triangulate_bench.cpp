// Triangulating face sets of quads (the faces that boxes and floors are made of).
#include "vrml/Triangulate.h"

#include <benchmark/benchmark.h>

namespace ombrel {
namespace {

void BM_TriangulateQuads(benchmark::State& state) {
    const int quads = int(state.range(0));
    auto coord = makeNode<VRCoordinate>();
    MFInt32 index, tex;
    for (int i = 0; i < quads; ++i) {
        const float x = float(i % 100), y = float(i / 100), z = float(i % 7);
        const auto base = std::int32_t(coord->point.size());
        // Alternate wall and ground quads so both projections are exercised.
        if (i % 2)
            coord->point.insert(coord->point.end(),
                                {{x, y, z}, {x + 1, y, z}, {x + 1, y, z + 1}, {x, y, z + 1}});
        else
            coord->point.insert(coord->point.end(),
                                {{x, y, z}, {x + 1, y, z}, {x + 1, y + 1, z}, {x, y + 1, z}});
        index.insert(index.end(), {base, base + 1, base + 2, base + 3, -1});
        tex.insert(tex.end(), {0, 1, 2, 3, -1});
    }
    Triangulator triangulator;
    for (auto _ : state) {
        state.PauseTiming();
        auto faces = makeNode<VRIndexedFaceSet>();
        faces->setCoord(coord);
        faces->coordIndex = index;
        faces->texCoordIndex = tex;
        state.ResumeTiming();
        benchmark::DoNotOptimize(triangulator.triangulate(*faces));
    }
    state.SetItemsProcessed(std::int64_t(quads) * state.iterations());
    state.SetLabel("items = quads");
}
BENCHMARK(BM_TriangulateQuads)->Arg(24)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ombrel
