#include "grammar/Drawables.h"

namespace ombrel {

// The scene-graph nodes are built once the VRML node library is available.
VRRef<VRNode> DrawFloor::toVrml() const { return nullptr; }
VRRef<VRNode> DrawBox::toVrml() const { return nullptr; }
VRRef<VRNode> DrawPyramid::toVrml() const { return nullptr; }
VRRef<VRNode> CompoundDrawable::toVrml() const { return drawablesToVrml(children, vrmlName); }
VRRef<VRNode> drawablesToVrml(const std::vector<std::unique_ptr<Drawable>>&, const std::string&) {
    return nullptr;
}

} // namespace ombrel
