#include "vrml/VRSceneSink.h"

#include <optional>
#include <utility>

namespace ombrel {

namespace {

// Passes on the pieces of a band of columns and drops everything else: the groups, and nodes
// that were not announced as a piece.
class ColumnFilter : public VRSceneSink {
public:
    ColumnFilter(std::uint32_t first, std::uint32_t end, VRSceneSink& out)
        : first_(first), end_(end), out_(out) {}

    void piece(const VRPiece& piece) override { piece_ = piece; }
    void openGroup(VRRef<VRGroup>) override { piece_.reset(); }
    void node(VRRef<VRNode> node) override {
        if (piece_ && piece_->column >= first_ && piece_->column < end_) {
            out_.piece(*piece_);
            out_.node(std::move(node));
        }
        piece_.reset();
    }
    void closeGroup() override {}

private:
    std::uint32_t first_, end_;
    VRSceneSink& out_;
    std::optional<VRPiece> piece_;
};

} // namespace

void VRSceneSource::piecesOfColumns(bool collapseBuildings, bool saveRoads,
                                    std::uint32_t firstColumn, std::uint32_t endColumn,
                                    VRSceneSink& sink) const {
    ColumnFilter filter(firstColumn, endColumn, sink);
    toVrmlScene(collapseBuildings, saveRoads, filter);
}

} // namespace ombrel
