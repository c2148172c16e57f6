#pragma once

// A scene tree handed over piece by piece in writing order, so that an exporter can write (and
// free) each piece before the next one is built.

#include "vrml/VRNode.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ombrel {

class Progress;

// What the node that follows stands for, for writers that keep more of a city than its VRML
// scene says.
struct VRPiece {
    enum class Kind { building, road };
    Kind kind = Kind::building;
    std::uint32_t column = 0; // the cell's column (x) and row (y), a building's or a road's
    std::uint32_t row = 0;
    float height = 0.0f; // a building's height, where its grammar stopped
    // The street block of a building: lots between the same two street lines each way share
    // it (the count of street columns and rows before the cell).
    std::uint32_t blockColumn = 0;
    std::uint32_t blockRow = 0;
    std::uint32_t number = 0; // the building's place among the city's buildings, from 0
    // The building's name from its definition's vrmlTag, whatever its node is named; empty
    // when it has none.
    std::string name;
    // Where the building's Building element starts in its construction file, "FILE:LINE";
    // empty when not known.
    std::string definition;
};

class VRSceneSink {
public:
    virtual ~VRSceneSink() = default;
    // Called before node() with what that node is, when the source knows. Optional: the VRML
    // writer ignores it.
    virtual void piece(const VRPiece&) {}
    // A plain Group (no transformation of its own) whose children follow, at least one, until
    // the matching closeGroup(). Its own children list is empty.
    virtual void openGroup(VRRef<VRGroup> group) = 0;
    // A whole node: a child of the innermost open group, or the whole scene when none is open.
    virtual void node(VRRef<VRNode> node) = 0;
    virtual void closeGroup() = 0;
};

// What an export writes from: a scene that can be built whole or handed over piece by piece.
class VRSceneSource {
public:
    virtual ~VRSceneSource() = default;
    // A fresh tree owned by the caller. collapseBuildings turns every building into one Shape of
    // its colour; saveRoads includes the roads.
    virtual VRRef<VRNode> toVrmlScene(bool collapseBuildings, bool saveRoads) const = 0;
    // The same tree handed to `sink` piece by piece in writing order, so that it never needs to
    // be in memory whole; reports its progress to `progress` when one is given.
    virtual void toVrmlScene(bool collapseBuildings, bool saveRoads, VRSceneSink& sink,
                             Progress* progress = nullptr) const = 0;
    // The building and road pieces of the cells in columns [firstColumn, endColumn) alone, in
    // the scene's order (column by column, row by row), each told to piece() before its node(),
    // with no groups around them: for writers that take a city a band of columns at a time.
    // Building numbers are those of the whole city. This default filters the whole scene;
    // sources that know their cells' columns find the band directly.
    virtual void piecesOfColumns(bool collapseBuildings, bool saveRoads, std::uint32_t firstColumn,
                                 std::uint32_t endColumn, VRSceneSink& sink) const;
};

// Puts the pieces back together into one tree, each node placed with addChild.
class VRTreeBuilder : public VRSceneSink {
public:
    void openGroup(VRRef<VRGroup> group) override {
        VRGroup* raw = group.get();
        place(std::move(group));
        open_.push_back(raw);
    }
    void node(VRRef<VRNode> node) override { place(std::move(node)); }
    void closeGroup() override {
        if (!open_.empty())
            open_.pop_back();
    }
    // The tree; null when nothing was handed over.
    VRRef<VRNode> result() { return std::move(root_); }

private:
    void place(VRRef<VRNode> node) {
        if (open_.empty())
            root_ = std::move(node);
        else
            open_.back()->addChild(std::move(node));
    }

    VRRef<VRNode> root_;
    std::vector<VRGroup*> open_;
};

} // namespace ombrel
