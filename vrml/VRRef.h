#pragma once

#include <utility>

namespace ombrel {

// Owning handle to a reference-counted scene-graph node (see vrml/VRNode.h). A VRRef holds one
// of the node's references: adopt() takes over a reference the caller already holds (a new node
// starts with one), copying adds a reference, and destruction releases it.
template <class T> class VRRef {
public:
    VRRef() = default;
    VRRef(std::nullptr_t) {}
    static VRRef adopt(T* node) {
        VRRef r;
        r.node_ = node;
        return r;
    }
    VRRef(const VRRef& o) : node_(o.node_) {
        if (node_)
            node_->addRef();
    }
    VRRef(VRRef&& o) noexcept : node_(std::exchange(o.node_, nullptr)) {}
    template <class U> VRRef(VRRef<U>&& o) noexcept : node_(o.detach()) {}
    template <class U> VRRef(const VRRef<U>& o) : node_(o.get()) {
        if (node_)
            node_->addRef();
    }
    VRRef& operator=(VRRef o) noexcept {
        std::swap(node_, o.node_);
        return *this;
    }
    ~VRRef() { reset(); }

    void reset() {
        if (node_)
            std::exchange(node_, nullptr)->release();
    }
    // Gives up ownership without releasing; the caller now holds the reference.
    T* detach() { return std::exchange(node_, nullptr); }
    T* get() const { return node_; }
    T* operator->() const { return node_; }
    T& operator*() const { return *node_; }
    explicit operator bool() const { return node_ != nullptr; }

private:
    T* node_ = nullptr;
};

} // namespace ombrel
