#include "grammar/DrawableArena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ombrel {
namespace {

// Pieces of every size stay apart, aligned and writable, and can be freed in any order, also
// after their arena is gone (under the sanitizers a wrong free or a lost block shows).
TEST(DrawableArena, PiecesAreSeparateAlignedAndFreedInAnyOrder) {
    struct Case {
        std::string name;
        std::vector<std::size_t> sizes;
        bool freeAfterArena;
        bool reverse;
    };
    const std::vector<Case> cases = {
        {"small pieces", {1, 8, 16, 72, 88, 96}, false, false},
        {"freed backwards", {24, 40, 80}, false, true},
        {"large pieces alone", {1024, 1025, 70000}, false, false},
        {"more than a block", std::vector<std::size_t>(40000, 100), false, false},
        {"outliving the arena", {64, 5000, 64}, true, false},
    };
    for (const Case& c : cases) {
        std::vector<void*> pieces;
        {
            DrawableArena arena;
            for (std::size_t i = 0; i < c.sizes.size(); ++i) {
                void* p = arena.allocate(c.sizes[i]);
                ASSERT_NE(p, nullptr) << c.name;
                EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u) << c.name << " piece " << i;
                std::memset(p, static_cast<int>(i & 0xFF), c.sizes[i]);
                pieces.push_back(p);
            }
            for (std::size_t i = 0; i < pieces.size(); ++i) {
                const auto* bytes = static_cast<const unsigned char*>(pieces[i]);
                EXPECT_EQ(bytes[0], i & 0xFF) << c.name << " piece " << i;
                EXPECT_EQ(bytes[c.sizes[i] - 1], i & 0xFF) << c.name << " piece " << i;
            }
            if (!c.freeAfterArena) {
                if (c.reverse) {
                    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
                        DrawableArena::deallocate(*it);
                    }
                } else {
                    for (void* p : pieces) {
                        DrawableArena::deallocate(p);
                    }
                }
                pieces.clear();
            }
        }
        for (void* p : pieces) {
            DrawableArena::deallocate(p);
        }
        DrawableArena::deallocate(nullptr);
    }
}

// An arena moved from hands its block over; both can go on cutting.
TEST(DrawableArena, MoveHandsTheBlockOver) {
    DrawableArena a;
    void* first = a.allocate(32);
    DrawableArena b(std::move(a));
    void* second = b.allocate(32);
    void* third = a.allocate(32); // NOLINT(bugprone-use-after-move): a moved-from arena is empty
    a = std::move(b);
    void* fourth = a.allocate(32);
#if !defined(__SANITIZE_ADDRESS__) // under AddressSanitizer every piece is the heap's
    EXPECT_EQ(a.bytesCut(), 3u * 48u);
#endif
    for (void* p : {first, second, third, fourth}) {
        DrawableArena::deallocate(p);
    }
}

} // namespace
} // namespace ombrel
