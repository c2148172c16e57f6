#include "grammar/DrawableArena.h"

#include "grammar/DrawFactory.h"
#include "grammar/GenerationContext.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

namespace ombrel {

namespace {

// One huge page: where the system offers them, a block costs one page fault instead of 512.
constexpr std::size_t kBlockSize = std::size_t(2) << 20;
#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer every piece is the heap's, so that use after free and leaks of
// drawables are still caught.
constexpr std::size_t kMaxPiece = 0;
#else
constexpr std::size_t kMaxPiece = 1024; // larger pieces get their own allocation
#endif
constexpr std::size_t kHeader = 8; // the owning block, null when alone

#if __has_include(<sys/mman.h>)
// Mapped straight from the system on a huge-page boundary: the heap's aligned allocation would
// map twice the size to find the boundary.
void* allocateBlock() {
    const std::size_t span = 2 * kBlockSize;
    void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    char* const begin = static_cast<char*>(mapped);
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(begin);
    char* const block = begin + ((kBlockSize - address % kBlockSize) % kBlockSize);
    if (block != begin) {
        munmap(begin, static_cast<std::size_t>(block - begin));
    }
    char* const tail = block + kBlockSize;
    if (tail != begin + span) {
        munmap(tail, static_cast<std::size_t>(begin + span - tail));
    }
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the block is faulted in page by page.
    madvise(block, kBlockSize, MADV_HUGEPAGE);
#endif
    return block;
}

void freeBlock(void* block) noexcept {
    munmap(block, kBlockSize);
}
#else
void* allocateBlock() {
    void* memory = std::aligned_alloc(kBlockSize, kBlockSize);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

void freeBlock(void* block) noexcept {
    std::free(block);
}
#endif

} // namespace

// The count of live pieces, plus one while the arena still cuts from the block. The pieces
// follow: each is its header then the object, the objects on 16-byte boundaries.
struct DrawableArena::Block {
    std::size_t live;
};
static_assert(sizeof(std::size_t) == kHeader && sizeof(void*) == kHeader);

DrawableArena::~DrawableArena() {
    release();
}

DrawableArena::DrawableArena(DrawableArena&& other) noexcept
    : current_(std::exchange(other.current_, nullptr)), next_(std::exchange(other.next_, nullptr)),
      end_(std::exchange(other.end_, nullptr)), bytesCut_(std::exchange(other.bytesCut_, 0)) {}

DrawableArena& DrawableArena::operator=(DrawableArena&& other) noexcept {
    if (this != &other) {
        release();
        current_ = std::exchange(other.current_, nullptr);
        next_ = std::exchange(other.next_, nullptr);
        end_ = std::exchange(other.end_, nullptr);
        bytesCut_ = std::exchange(other.bytesCut_, 0);
    }
    return *this;
}

void DrawableArena::release() noexcept {
    if (current_ && --current_->live == 0) {
        freeBlock(current_);
    }
    current_ = nullptr;
    next_ = nullptr;
    end_ = nullptr;
}

void* DrawableArena::allocate(std::size_t size) {
    Block* owner = nullptr;
    if (size > kMaxPiece) {
        char* base = static_cast<char*>(::operator new(size + 2 * kHeader));
        std::memcpy(base + kHeader, &owner, kHeader);
        return base + 2 * kHeader;
    }
    const std::size_t slot = (size + kHeader + 15) & ~std::size_t(15);
    if (current_ == nullptr || static_cast<std::size_t>(end_ - next_) < slot) {
        void* memory = allocateBlock();
        release();
        current_ = new (memory) Block{1};
        // Blocks are 16-aligned, so with the block's own 8 bytes every object starts on 16.
        next_ = static_cast<char*>(memory) + kHeader;
        end_ = static_cast<char*>(memory) + kBlockSize;
    }
    char* piece = next_;
    next_ += slot;
    bytesCut_ += slot;
    owner = current_;
    std::memcpy(piece, &owner, kHeader);
    ++current_->live;
    return piece + kHeader;
}

void DrawableArena::deallocate(void* piece) noexcept {
    if (piece == nullptr) {
        return;
    }
    char* p = static_cast<char*>(piece);
    Block* owner = nullptr;
    std::memcpy(&owner, p - kHeader, kHeader);
    if (owner == nullptr) {
        ::operator delete(p - 2 * kHeader);
    } else if (--owner->live == 0) {
        freeBlock(owner);
    }
}

void* allocateFromDrawableArena(std::size_t size) {
    return generationContext().drawableArena.allocate(size);
}

void* Drawable::operator new(std::size_t size) {
    return generationContext().drawableArena.allocate(size);
}

void Drawable::operator delete(void* piece) noexcept {
    DrawableArena::deallocate(piece);
}

} // namespace ombrel
