#pragma once

#include "grammar/DrawFactory.h"
#include "grammar/GenerationContext.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ombrel {

class CompoundDrawable;

// A container of grammar elements: street and building definitions, procedure bodies, the
// options of Choose and the body of Maybe. Its elements are evaluated as a sequence.
class CityCellFactory {
public:
    CityCellFactory() = default;
    virtual ~CityCellFactory();
    CityCellFactory(const CityCellFactory&) = delete;
    CityCellFactory& operator=(const CityCellFactory&) = delete;

    // Most grammar steps (an element evaluated, or one repetition of a Call) one cell may take.
    // Calls nested in Calls multiply their repeats, so a few lines of a construction file could
    // otherwise ask for billions of drawables and never finish; a cell that runs out stops
    // evaluating and keeps what it drew so far.
    static constexpr std::uint32_t kMaxCellSteps = 1u << 20;

    // Starts a cell's step count; createCell and the city's street and building cells call it.
    static void beginCell() { generationContext().cellSteps = 0; }
    // Counts one step of the current cell; false once the cell has taken kMaxCellSteps (the
    // first refusal counts the cell in generationContext().cellsCut).
    static bool takeStep() {
        GenerationContext& process = generationContext();
        if (process.cellSteps < kMaxCellSteps) {
            ++process.cellSteps;
            return true;
        }
        if (process.cellSteps == kMaxCellSteps) {
            ++process.cellSteps;
            ++process.cellsCut;
        }
        return false;
    }

    // The grammar elements in document order.
    std::vector<std::unique_ptr<DrawFactory>> children;

    void add(std::unique_ptr<DrawFactory> child) { children.push_back(std::move(child)); }

    // Evaluates the container on the state. For plain containers this is the sequence.
    virtual std::unique_ptr<Drawable> create(GrammarState& state) const;
    // Builds the initial state for the rectangle (x0, y0)-(x1, y1) with height 0 and a fresh
    // building colour, and evaluates the container on it.
    virtual std::unique_ptr<Drawable> createCell(float x0, float y0, float x1, float y1) const;

    // Every child in order on the same state; each result that is not none is appended. Stops
    // early when the cell runs out of steps. Always returns a compound, empty when nothing was
    // drawn.
    std::unique_ptr<CompoundDrawable> sequence(GrammarState& state) const;
};

// A building block: the body of a Procedure, evaluated as a sequence when a Call names it. (The
// name is the one the grammar's documentation and older tools use, so it stays.) Calls share ownership
// with the procedure table, so a body replaced by a later Procedure of the same name stays
// alive for the Calls bound to it.
class BBlockFactory : public CityCellFactory {};

} // namespace ombrel
