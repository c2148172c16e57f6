#include "grammar/DrawableArena.h"

#include "grammar/DrawFactory.h"
#include "grammar/ProcessState.h"

#include <cstring>
#include <new>
#include <utility>

namespace ombrel {

namespace {

constexpr std::size_t kBlockSize = std::size_t(64) << 10; // below the heap's mmap threshold
constexpr std::size_t kMaxPiece = 1024;                   // larger pieces get their own allocation
constexpr std::size_t kHeader = 8;                        // the owning block, null when alone

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
      end_(std::exchange(other.end_, nullptr)) {}

DrawableArena& DrawableArena::operator=(DrawableArena&& other) noexcept {
    if (this != &other) {
        release();
        current_ = std::exchange(other.current_, nullptr);
        next_ = std::exchange(other.next_, nullptr);
        end_ = std::exchange(other.end_, nullptr);
    }
    return *this;
}

void DrawableArena::release() noexcept {
    if (current_ && --current_->live == 0) {
        ::operator delete(current_);
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
        void* memory = ::operator new(kBlockSize);
        release();
        current_ = new (memory) Block{1};
        // Blocks are 16-aligned, so with the block's own 8 bytes every object starts on 16.
        next_ = static_cast<char*>(memory) + kHeader;
        end_ = static_cast<char*>(memory) + kBlockSize;
    }
    char* piece = next_;
    next_ += slot;
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
        ::operator delete(owner);
    }
}

void* allocateFromDrawableArena(std::size_t size) {
    return processState().drawableArena.allocate(size);
}

void* Drawable::operator new(std::size_t size) {
    return processState().drawableArena.allocate(size);
}

void Drawable::operator delete(void* piece) noexcept {
    DrawableArena::deallocate(piece);
}

} // namespace ombrel
