#pragma once

#include "grammar/DrawFactory.h"

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

    // The grammar elements in document order.
    std::vector<std::unique_ptr<DrawFactory>> children;

    void add(std::unique_ptr<DrawFactory> child) { children.push_back(std::move(child)); }

    // Evaluates the container on the state. For plain containers this is the sequence.
    virtual std::unique_ptr<Drawable> create(GrammarState& state) const;
    // Builds the initial state for the rectangle (x0, y0)-(x1, y1) with height 0 and a fresh
    // building colour, and evaluates the container on it.
    virtual std::unique_ptr<Drawable> createCell(float x0, float y0, float x1, float y1) const;

    // Every child in order on the same state; each result that is not none is appended. Always
    // returns a compound, empty when nothing was drawn.
    std::unique_ptr<CompoundDrawable> sequence(GrammarState& state) const;
};

// The body of a Procedure, evaluated as a sequence when a Call names it. Calls share ownership
// with the procedure table, so a body replaced by a later Procedure of the same name stays
// alive for the Calls bound to it.
class BBlockFactory : public CityCellFactory {};

} // namespace ombrel
