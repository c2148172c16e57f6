#pragma once

#include "base/Vec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ombrel {

class Drawable;
class Texture;

// The box around every face the drawable's collect hands over. False when it hands over none,
// or cannot.
bool geometryBounds(const Drawable& drawable, Vec3& minCorner, Vec3& maxCorner);

// A city's geometry in static vertex buffers, built from the drawables' collect and drawn with
// a few calls a frame: the picture is the one their render gives.
//
// The city's pieces (its buildings and roads, or the whole drawable when it is no city) fall
// into square blocks of about 16 x 16 cells by where their faces lie; each block has a buffer of
// its own. Within a block the faces are grouped by what render sets for them (texture,
// quadrilaterals or triangles, colour or white) and keep the city's order inside each group.
// Grouping must not change which of two faces at the same depth shows (the first drawn wins the
// depth test), so a face of a piece that may cover a pixel at the same depth as an earlier face
// of the same piece in another group goes into a later layer: all groups of one layer are drawn
// before any of the next. Such faces lie in one plane and overlap, or meet where one stands in
// front of the other's plane and the other goes on behind it (a plant room's wall on a roof
// that goes on under the room: on the line where they meet both have the same depth). Pieces
// are assumed not to overlap each other.
//
// A frame binds each group's texture once and draws its blocks that lie in the view, nearest
// first. Faces that the back-face culling would drop anyway are left out where a whole class
// of them (facing up, down, or horizontally within one eighth of a turn) faces away from the
// camera over a whole block.
//
// Buffers are kept within a budget of kBudgetPerCell bytes per piece (at least kLeastBudget):
// a city whose buffers fit is built whole at once; a bigger one builds each block the first
// time it comes into view and lets go of the blocks longest out of view when over budget. A
// draw builds every block in view unless given a time for building: it then stops building
// once that time is spent (having built one block at least), draws the blocks built, and
// leaves the others pending for the next draws.
// Every call needs the context the batch was built in current.
class CityBatch {
public:
    enum class Built { yes, notCollectable, outOfMemory };

    CityBatch() = default;
    // Touches no OpenGL: the buffers go with their context (see release and forget).
    ~CityBatch() = default;
    CityBatch(const CityBatch&) = delete;
    CityBatch& operator=(const CityBatch&) = delete;

    // Whether the current context can draw from vertex buffers (OpenGL 1.5).
    static bool supported();

    // Replaces the batch by one of `city` (deleting the old buffers). notCollectable when a
    // drawable cannot hand over its faces, outOfMemory when the driver refused a buffer; the
    // batch is then empty. The city must stay alive and unchanged while the batch is used: its
    // pieces are collected again for blocks built later, and its textures bound by pointer.
    Built build(const Drawable& city);

    // Draws the city with the current matrices, in the current state otherwise; `cull` leaves
    // out the blocks outside the view and the faces turned away (the planes come from the
    // matrices). Afterwards the texture binding and the current texture coordinate are those
    // the city's render leaves behind. False when the driver had no memory for a block that
    // came into view (the batch is then empty and the caller draws the city otherwise).
    bool draw(bool cull);

    // Limits for the builds from now on: the bytes of buffers (0: by the city's size, as
    // above) and the seconds a draw may spend building blocks (negative: no limit). Kept
    // across builds and releases.
    void setLimits(std::size_t budgetBytes, double buildSeconds);

    // Deletes the buffers; the batch's context must be current.
    void release();
    // Drops the buffer names without deleting them, for when their context is already gone.
    void forget();

    bool empty() const { return pieces_.empty(); }
    // The city's bounding box as the faces give it; valid after a build with faces.
    bool hasBounds() const { return hasBounds_; }
    Vec3 minCorner() const { return min_; }
    Vec3 maxCorner() const { return max_; }

    // Bytes of the blocks' buffers now, and of all of them were they built.
    std::size_t bufferBytes() const { return builtBytes_; }
    std::size_t cityBytes() const { return cityBytes_; }
    std::size_t budgetBytes() const { return budget_; }
    std::size_t blockCount() const { return blocks_.size(); }
    std::size_t blocksBuilt() const { return blocksBuilt_; }
    std::size_t groupCount() const { return groups_.size(); }
    std::size_t layerCount() const { return layers_; }
    // Of the last draw: blocks in the view, those of them left to build, and draw calls made.
    std::size_t blocksDrawn() const { return blocksDrawn_; }
    std::size_t blocksPending() const { return blocksPending_; }
    std::size_t drawCalls() const { return drawCalls_; }

    // The side of a block in cells.
    static constexpr int kBlockCells = 16;
    static constexpr std::size_t kBudgetPerCell = 384;
    static constexpr std::size_t kLeastBudget = std::size_t{64} << 20;
    // Classes of faces by where they face: up, down, eight horizontal sectors, the rest.
    static constexpr int kFacings = 11;

private:
    struct Group {
        const Texture* texture = nullptr;
        bool triangles = false;
        bool white = false;
        int layer = 0;
        int stride = 0;
    };
    // One group's vertices in a block's buffer, by facing class.
    struct Range {
        std::uint32_t group = 0;
        std::uint32_t offset = 0;           // bytes into the buffer
        std::uint32_t starts[kFacings + 1]; // vertex index where each class begins
    };
    struct Block {
        float min[3];
        float max[3];
        std::size_t bytes = 0; // of its buffer, built or not
        std::uint32_t column = 0;
        std::uint32_t row = 0;
        std::uint32_t firstPiece = 0;
        std::uint32_t pieceCount = 0;
        unsigned int buffer = 0; // 0 while not built
        std::vector<Range> ranges;
        std::uint64_t lastDrawn = 0;
    };

    bool buildBlock(Block& block);
    void dropBlock(Block& block);
    int groupFor(int layer, const Texture* texture, bool triangles, bool white);
    void clear();

    std::vector<const Drawable*> pieces_; // block by block, in the city's order within each
    std::vector<Block> blocks_;
    std::vector<Group> groups_;
    std::vector<std::vector<int>> groupAt_; // [layer][key] -> group, -1 for none
    struct Key {
        const Texture* texture;
        bool triangles;
        bool white;
    };
    std::vector<Key> keys_;
    std::vector<std::uint32_t> order_; // groups_ indices, layer by layer
    std::size_t layers_ = 0;
    std::size_t builtBytes_ = 0;
    std::size_t cityBytes_ = 0;
    std::size_t budget_ = 0;
    std::size_t blocksBuilt_ = 0;
    std::uint64_t frame_ = 0;
    bool hasBounds_ = false;
    Vec3 min_;
    Vec3 max_;

    // What the city's render leaves behind: the last texture bound and texture coordinate set.
    const Texture* lastTexture_ = nullptr;
    bool lastTexCoordSet_ = false;
    float lastTexCoord_[2] = {0.0f, 0.0f};

    std::size_t blocksDrawn_ = 0;
    std::size_t blocksPending_ = 0;
    std::size_t drawCalls_ = 0;
    std::size_t budgetLimit_ = 0;
    double buildSeconds_ = -1.0;
    // Scratch of draw and buildBlock.
    std::vector<std::pair<float, std::uint32_t>> visible_;
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> perGroup_;
    std::vector<std::uint8_t> staging_;
};

} // namespace ombrel
