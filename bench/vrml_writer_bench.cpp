// Writing a scene of 100,000 textured box Shapes, against formatting the same numbers with
// std::to_chars alone: the layout and buffering should cost little beyond the numbers.
#include "vrml/FormatG.h"
#include "vrml/VRWriter.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>

namespace ombrel {
namespace {

constexpr int kBoxes = 100000;

VRRef<VRShape> box(float x, float y, float h) {
    auto shape = makeNode<VRShape>();
    auto appearance = makeNode<VRAppearance>();
    auto material = makeNode<VRMaterial>();
    material->diffuseColor = {x / 1000.0f, y / 1000.0f, 0.3f};
    appearance->setMaterial(std::move(material));
    auto texture = makeNode<VRImageTexture>();
    texture->url = {"textures/wall.png"};
    appearance->setTexture(std::move(texture));
    shape->setAppearance(std::move(appearance));
    auto faces = makeNode<VRIndexedFaceSet>();
    auto coord = makeNode<VRCoordinate>();
    const float w = 7.25f;
    coord->point = {{x, y, 0}, {x + w, y, 0}, {x + w, y + w, 0}, {x, y + w, 0},
                    {x, y, h}, {x + w, y, h}, {x + w, y + w, h}, {x, y + w, h}};
    faces->setCoord(std::move(coord));
    faces->coordIndex = {0, 1, 5, 4, -1, 1, 2, 6, 5, -1, 2, 3, 7, 6, -1,
                         3, 0, 4, 7, -1, 4, 5, 6, 7, -1, 3, 2, 1, 0, -1};
    auto tc = makeNode<VRTextureCoordinate>();
    tc->point = {{0, 0}, {1, 0}, {1, h / 10}, {0, h / 10}};
    faces->setTexCoord(std::move(tc));
    faces->texCoordIndex = {0, 1, 2, 3, -1, 0, 1, 2, 3, -1, 0, 1, 2, 3, -1,
                            0, 1, 2, 3, -1, 0, 1, 2, 3, -1, 0, 1, 2, 3, -1};
    shape->setGeometry(std::move(faces));
    return shape;
}

const VRGroup& scene() {
    static VRRef<VRGroup> root = [] {
        auto g = makeNode<VRGroup>();
        for (int i = 0; i < kBoxes; ++i)
            g->addChild(box(float(i % 316) * 10.5f, float(i / 316) * 10.5f, 3.0f + float(i % 97)));
        return g;
    }();
    return *root;
}

void BM_WriteBoxScene(benchmark::State& state) {
    const VRGroup& root = scene();
    std::FILE* out = std::fopen("/dev/null", "wb");
    const std::size_t bytes = vrmlText(&root).size();
    for (auto _ : state)
        benchmark::DoNotOptimize(writeVrml(&root, out));
    std::fclose(out);
    state.SetBytesProcessed(std::int64_t(bytes) * state.iterations());
}
BENCHMARK(BM_WriteBoxScene)->Unit(benchmark::kMillisecond);

// The same floats and integers, formatted one after another into a buffer.
void BM_ToCharsSameNumbers(benchmark::State& state) {
    const VRGroup& root = scene();
    std::vector<float> floats;
    std::vector<std::int32_t> ints;
    for (const auto& child : root.children) {
        const auto& s = static_cast<const VRShape&>(*child);
        const auto& m = *s.appearance->material;
        floats.insert(floats.end(), {m.diffuseColor.x, m.diffuseColor.y, m.diffuseColor.z});
        const auto& f = static_cast<const VRIndexedFaceSet&>(*s.geometry);
        for (Vec3 p : f.coord->point)
            floats.insert(floats.end(), {p.x, p.y, p.z});
        for (Vec2 p : f.texCoord->point)
            floats.insert(floats.end(), {p.x, p.y});
        floats.push_back(f.creaseAngle);
        ints.insert(ints.end(), f.coordIndex.begin(), f.coordIndex.end());
        ints.insert(ints.end(), f.texCoordIndex.begin(), f.texCoordIndex.end());
    }
    std::vector<char> buffer(1 << 20);
    const std::size_t bytes = vrmlText(&root).size();
    for (auto _ : state) {
        char* p = buffer.data();
        char* end = buffer.data() + buffer.size();
        for (float v : floats) {
            if (end - p < 32)
                p = buffer.data();
            p = std::to_chars(p, end, double(v), std::chars_format::general, 6).ptr;
            *p++ = ' ';
        }
        for (std::int32_t v : ints) {
            if (end - p < 32)
                p = buffer.data();
            p = std::to_chars(p, end, v).ptr;
            *p++ = ' ';
        }
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(bytes) * state.iterations());
}
BENCHMARK(BM_ToCharsSameNumbers)->Unit(benchmark::kMillisecond);

// One float as "%g", the library's way and the writer's, over coordinates, texture coordinates
// and colours like a city's.
std::vector<float> cityNumbers() {
    std::vector<float> v;
    for (int i = 0; i < 100000; ++i) {
        v.push_back(float(i % 1024) * 30.75f + float(i % 7) * 0.125f);
        v.push_back(3.0f + float(i % 97) * 1.37f);
        v.push_back(float(i % 128) * 0.007874016f);
    }
    return v;
}

template <bool Fast> void formatFloats(benchmark::State& state) {
    const std::vector<float> numbers = cityNumbers();
    char buffer[64];
    for (auto _ : state)
        for (float v : numbers) {
            char* end =
                Fast ? formatG(buffer, v)
                     : std::to_chars(buffer, buffer + 64, double(v), std::chars_format::general, 6)
                           .ptr;
            benchmark::DoNotOptimize(end);
        }
    state.SetItemsProcessed(std::int64_t(numbers.size()) * state.iterations());
}
void BM_FormatFloatToChars(benchmark::State& state) {
    formatFloats<false>(state);
}
void BM_FormatFloatFormatG(benchmark::State& state) {
    formatFloats<true>(state);
}
BENCHMARK(BM_FormatFloatToChars)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormatFloatFormatG)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ombrel
