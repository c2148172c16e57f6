#pragma once

#include <cstddef>
#include <new>

namespace ombrel {

// Where drawables live. A city is tens of small drawables per cell, made together and freed
// together, so they are cut from large blocks instead of one heap allocation each. Every piece
// remembers its block; a block goes back to the heap when its last piece is freed and the arena
// has moved on to another block. Pieces may outlive the arena. Not thread-safe: drawables are
// made and freed on the one thread that runs commands.
class DrawableArena {
public:
    DrawableArena() = default;
    ~DrawableArena();
    DrawableArena(const DrawableArena&) = delete;
    DrawableArena& operator=(const DrawableArena&) = delete;
    DrawableArena(DrawableArena&& other) noexcept;
    // Lets go of this arena's block (its pieces stay valid) and takes over the other's.
    DrawableArena& operator=(DrawableArena&& other) noexcept;

    // size bytes aligned to 16; large requests go to the heap on their own. Throws
    // std::bad_alloc when the heap is exhausted.
    void* allocate(std::size_t size);
    // Frees a piece that allocate returned, from any arena; null does nothing.
    static void deallocate(void* piece) noexcept;
    // Bytes cut from blocks so far, headers included; large pieces are the heap's. For
    // measuring memory: the blocks are not the heap's.
    std::size_t bytesCut() const noexcept { return bytesCut_; }

private:
    struct Block;
    void release() noexcept;

    Block* current_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    std::size_t bytesCut_ = 0;
};

// The process's drawable arena as a standard allocator, for the lists that drawables hold.
void* allocateFromDrawableArena(std::size_t size);

template <class T> class DrawableArenaAllocator {
public:
    using value_type = T;

    DrawableArenaAllocator() noexcept = default;
    template <class U> DrawableArenaAllocator(const DrawableArenaAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        static_assert(alignof(T) <= 16, "arena pieces are aligned to 16");
        return static_cast<T*>(allocateFromDrawableArena(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t) noexcept { DrawableArena::deallocate(p); }

    template <class U> bool operator==(const DrawableArenaAllocator<U>&) const noexcept {
        return true;
    }
};

} // namespace ombrel
