#include "grammar/Operators.h"

#include "base/Log.h"
#include "grammar/Drawables.h"
#include "grammar/Random.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace ombrel {

std::unique_ptr<Drawable> MaybeFactory::create(GrammarState& state) const {
    const double u = randomUnit(); // drawn whether or not the branch is taken
    if (u <= probability) {
        return sequence(state);
    }
    return nullptr;
}

std::unique_ptr<Drawable> ChooseFactory::create(GrammarState& state) const {
    if (options.empty()) {
        return nullptr;
    }
    const std::unique_ptr<CityCellFactory>& body = pickWeighted(options);
    return body->create(state);
}

CallFactory::CallFactory(std::shared_ptr<const BBlockFactory> procedure_, UintRange repeat_)
    : procedure(std::move(procedure_)), repeat(repeat_) {}

CallFactory::~CallFactory() {
    // The outermost Call being freed frees, one after the other, the procedures that the Calls
    // freed inside it hand over; those only queue theirs.
    thread_local std::vector<std::shared_ptr<const BBlockFactory>>* freeing = nullptr;
    if (freeing) {
        freeing->push_back(std::move(procedure));
        return;
    }
    std::vector<std::shared_ptr<const BBlockFactory>> queue;
    queue.push_back(std::move(procedure));
    freeing = &queue;
    while (!queue.empty()) {
        std::shared_ptr<const BBlockFactory> next = std::move(queue.back());
        queue.pop_back();
        next.reset();
    }
    freeing = nullptr;
}

namespace {

// Makes a Call the innermost one running for its lifetime, so that a cell running out of steps
// names it.
class RunningCall {
public:
    explicit RunningCall(const SourcePlace& place)
        : outer_(std::exchange(generationContext().runningCall, &place)) {}
    ~RunningCall() { generationContext().runningCall = outer_; }
    RunningCall(const RunningCall&) = delete;
    RunningCall& operator=(const RunningCall&) = delete;

private:
    const SourcePlace* outer_;
};

} // namespace

std::unique_ptr<Drawable> CallFactory::create(GrammarState& state) const {
    auto compound = std::make_unique<CompoundDrawable>();
    const std::uint32_t n = repeat.sample();
    if (!procedure) {
        return compound;
    }
    const RunningCall running(place);
    // The step budget ends a runaway repeat long before its count; reserve no more than it
    // allows.
    compound->children.reserve(std::min<std::size_t>(n, 4096));
    for (std::uint32_t i = 0; i < n && CityCellFactory::takeStep(); ++i) {
        compound->append(procedure->create(state));
    }
    return compound;
}

std::unique_ptr<Drawable> PushFactory::create(GrammarState& state) const {
    const PushedState snapshot{state.v0,
                               state.v1,
                               state.v2,
                               state.v3,
                               state.height,
                               state.colour,
                               generationContext().randomState};
    std::vector<PushedState>& s = stack();
    const std::size_t room = s.size() < kMaxStackSize ? kMaxStackSize - s.size() : 0;
    const std::size_t n = std::min<std::size_t>(count, room);
    if (n < count && !warnedFull_) {
        warnedFull_ = true;
        warningLog.at(place).line("State stack is full (", kMaxStackSize,
                                  " entries) - Push cut short");
    }
    s.insert(s.end(), n, snapshot);
    return nullptr;
}

std::unique_ptr<Drawable> PopFactory::create(GrammarState& state) const {
    std::vector<PushedState>& s = stack();
    if (s.empty()) {
        warningLog.at(place).line("Poping from an empty stack ignored");
        return nullptr;
    }
    const PushedState top = s.back();
    s.pop_back();
    if (popCellVertices) {
        state.v0 = top.v0;
        state.v1 = top.v1;
        state.v2 = top.v2;
        state.v3 = top.v3;
    }
    if (popHeight) {
        state.height = top.height;
    }
    if (popRandomSeed) {
        generationContext().randomState = top.randomState;
    }
    return nullptr;
}

std::unique_ptr<Drawable> GoUpFactory::create(GrammarState& state) const {
    state.height = state.height + height.sample();
    return nullptr;
}

std::unique_ptr<Drawable> RotateFactory::create(GrammarState& state) const {
    const float a = theta.sample() * 0.017453292f;
    const float d = distance.sample();
    const bool b = randomBit();
    // The tangent is taken in double precision and stored as a float, so that every C library
    // gives the same corners.
    const float t = static_cast<float>(std::tan(static_cast<double>(a)));
    const Vec2 v0 = state.v0, v1 = state.v1, v2 = state.v2, v3 = state.v3;
    if (b) {
        // Start on the edge from v0 to v3.
        const Vec2 p = v0 + (v3 - v0) * d;
        const Vec2 q{v3.x, p.y + t * (v3.x - p.x)};
        const Vec2 r{q.x + t * (q.y - v2.y), v2.y};
        const Vec2 s{v1.x, r.y + t * (v1.x - r.x)};
        state.v0 = p;
        state.v1 = s;
        state.v2 = r;
        state.v3 = q;
    } else {
        // Start on the edge from v0 to v1.
        const Vec2 p = v0 + (v1 - v0) * d;
        const Vec2 q{p.x + t * (v1.y - p.y), v1.y};
        const Vec2 r{v2.x, q.y - t * (v2.x - q.x)};
        const Vec2 s{r.x + t * (v3.y - r.y), v3.y};
        state.v0 = p;
        state.v1 = q;
        state.v2 = r;
        state.v3 = s;
    }
    return nullptr;
}

namespace {

float length(Vec2 v) {
    return std::sqrt(v.x * v.x + v.y * v.y);
}

} // namespace

std::unique_ptr<Drawable> ScaleToFactory::create(GrammarState& state) const {
    const bool exact = scaleType == ScaleType::exact;
    // Both samples are drawn, in this order, before anything is checked.
    float sx = scalex.sample();
    const float lenX = length(state.v0 - state.v1);
    float sy = scaley.sample();
    const float lenY = length(state.v1 - state.v2);
    if (exact) {
        if (lenX == 0.0f || lenY == 0.0f) {
            // Scaling an edge of length 0 to a length has no answer; leave the corners.
            warningLog.at(place).line("ScaleTo exact on an edge of length 0 ignored");
            return nullptr;
        }
        sx = sx / lenX;
        sy = sy / lenY;
    }
    if (where == ScaleWhere::center) {
        const Vec2 m1 = (state.v0 + state.v1) * 0.5f;
        const Vec2 m2 = (state.v2 + state.v3) * 0.5f;
        const Vec2 p0 = m1 + (state.v0 - m1) * sy;
        const Vec2 p1 = m1 + (state.v1 - m1) * sy;
        const Vec2 p2 = m2 + (state.v2 - m2) * sy;
        const Vec2 p3 = m2 + (state.v3 - m2) * sy;
        const Vec2 n03 = (p0 + p3) * 0.5f;
        const Vec2 n12 = (p1 + p2) * 0.5f;
        state.v0 = n03 + (p0 - n03) * sx;
        state.v3 = n03 + (p3 - n03) * sx;
        state.v1 = n12 + (p1 - n12) * sx;
        state.v2 = n12 + (p2 - n12) * sx;
        return nullptr;
    }
    Vec2* corners[4] = {&state.v0, &state.v1, &state.v2, &state.v3};
    int anchor = 0;
    switch (where) {
    case ScaleWhere::v0:
        anchor = 0;
        break;
    case ScaleWhere::v1:
        anchor = 1;
        break;
    case ScaleWhere::v2:
        anchor = 2;
        break;
    case ScaleWhere::v3:
        anchor = 3;
        break;
    default:
        return nullptr; // an unknown anchor leaves the corners unchanged
    }
    Vec2& a0 = *corners[anchor];
    Vec2& a1 = *corners[(anchor + 1) % 4];
    Vec2& a2 = *corners[(anchor + 2) % 4];
    Vec2& a3 = *corners[(anchor + 3) % 4];
    const Vec2 o0 = a0, o1 = a1, o2 = a2, o3 = a3;
    a1 = o0 + (o1 - o0) * sx;
    a2 = a1 + (o2 - o1) * sy;
    a3 = o0 + (o3 - o0) * sy;
    return nullptr;
}

} // namespace ombrel
