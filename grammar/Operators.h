#pragma once

#include "grammar/CityCellFactory.h"
#include "grammar/DrawFactory.h"
#include "grammar/GenerationContext.h"
#include "grammar/Range.h"
#include "grammar/WeightedList.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace ombrel {

// Maybe: one randomUnit draw u, always; the children run as a sequence when u <= probability,
// otherwise nothing runs and none is returned.
class MaybeFactory : public CityCellFactory, public DrawFactory {
public:
    explicit MaybeFactory(float probability = 0.0f) : probability(probability) {}

    float probability;

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

// Choose: one option picked by weight (one draw) runs as a sequence; no options, no draw, none.
class ChooseFactory : public CityCellFactory, public DrawFactory {
public:
    ChooseFactory() = default;

    WeightedList<std::unique_ptr<CityCellFactory>> options;

    void addOption(float probability, std::unique_ptr<CityCellFactory> body) {
        options.add(probability, std::move(body));
    }

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

// Call: runs a procedure body repeat.sample() times, each repetition starting from the state the
// previous one left, and returns their results in one compound (empty for 0 repetitions). Each
// repetition is a step of the cell (CityCellFactory::takeStep); the repetitions stop when the
// cell runs out.
class CallFactory : public DrawFactory {
public:
    // The repeat is carried out as written: a runaway count (a negative repeat in the file reads
    // as about four billion) is stopped by the cell's step budget, which every repetition counts
    // against.
    CallFactory(std::shared_ptr<const BBlockFactory> procedure, UintRange repeat = UintRange(1));
    // Lets go of the procedure without recursing into its Calls: a file of thousands of
    // procedures each calling the one before would otherwise free them one inside the other,
    // as deep as the chain, and run out of stack.
    ~CallFactory() override;
    CallFactory(const CallFactory&) = delete;
    CallFactory& operator=(const CallFactory&) = delete;

    std::shared_ptr<const BBlockFactory> procedure; // never none once built
    UintRange repeat;

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

// The common base of Push and Pop: the process-wide stack of saved states.
class PushPopBase {
public:
    // Most entries the stack holds; pushes beyond it are dropped with a warning, so a grammar
    // that pushes without popping (or a negative count, which reads as about four billion)
    // cannot exhaust memory over a large city.
    static constexpr std::size_t kMaxStackSize = std::size_t(1) << 20;

    static std::vector<PushedState>& stack() { return generationContext().stateStack; }

protected:
    ~PushPopBase() = default;
};

// Push: saves the corners, height, colour and randomState count times.
class PushFactory : public DrawFactory, public PushPopBase {
public:
    // Pushes `count` copies each run, as many as the stack has room for.
    explicit PushFactory(std::uint32_t count = 1) : count(count) {}

    std::uint32_t count;

    // When the stack is full the push is cut short; the warning is written the first time this
    // element is cut, not for every building.
    std::unique_ptr<Drawable> create(GrammarState& state) const override;

private:
    mutable bool warnedFull_ = false;
};

// Pop: removes the top entry and restores what its flags name; colour is never restored. An
// empty stack writes "Poping from an empty stack ignored" and changes nothing.
class PopFactory : public DrawFactory, public PushPopBase {
public:
    PopFactory(bool popCellVertices = false, bool popHeight = false, bool popRandomSeed = false)
        : popCellVertices(popCellVertices), popHeight(popHeight), popRandomSeed(popRandomSeed) {}

    bool popCellVertices;
    bool popHeight;
    bool popRandomSeed;

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

// GoUp: height += height.sample().
class GoUpFactory : public DrawFactory {
public:
    explicit GoUpFactory(FloatRange height = FloatRange()) : height(height) {}

    FloatRange height;

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

// Rotate: replaces the quadrilateral by one turned by theta (degrees), inscribed in it, starting
// a fraction `distance` along the edge v0->v1 or v0->v3 (one randomBit decides).
class RotateFactory : public DrawFactory {
public:
    RotateFactory(FloatRange theta = FloatRange(), FloatRange distance = FloatRange())
        : theta(theta), distance(distance) {}

    FloatRange theta;
    FloatRange distance;

    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

enum class ScaleWhere : int { center = 0, v0 = 1, v1 = 2, v2 = 3, v3 = 4 };
enum class ScaleType : int { relative = 0, exact = 1 };

// ScaleTo: scales the quadrilateral about its centre or one of its corners. With `exact` the
// factors are target lengths of the edges v0->v1 (scalex) and v1->v2 (scaley).
class ScaleToFactory : public DrawFactory {
public:
    ScaleToFactory(ScaleWhere where = ScaleWhere::center, FloatRange scalex = FloatRange(1.0f),
                   FloatRange scaley = FloatRange(1.0f), ScaleType scaleType = ScaleType::relative)
        : where(where), scalex(scalex), scaley(scaley), scaleType(scaleType) {}

    ScaleWhere where;
    FloatRange scalex;
    FloatRange scaley;
    ScaleType scaleType;

    // With `exact` on an edge of length 0 the corners stay unchanged and a warning is written
    // (the two samples are still drawn).
    std::unique_ptr<Drawable> create(GrammarState& state) const override;
};

} // namespace ombrel
