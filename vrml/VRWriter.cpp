#include "vrml/VRWriter.h"

#include "vrml/ReplacingFile.h"

#include "vrml/FormatG.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>

namespace ombrel {

std::string vrmlName(std::string_view name) {
    static constexpr std::string_view kKeywords[] = {
        "DEF", "EXTERNPROTO", "FALSE", "IS",      "NULL",     "PROTO",        "ROUTE",
        "TO",  "TRUE",        "USE",   "eventIn", "eventOut", "exposedField", "field"};
    std::string out;
    out.reserve(name.size() + 1);
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        const bool bad = u <= 0x20 || u == 0x7F || c == '"' || c == '#' || c == '\'' || c == ',' ||
                         c == '.' || c == '[' || c == '\\' || c == ']' || c == '{' || c == '}';
        out += bad ? '_' : c;
    }
    // A name may not be empty, start with a digit or sign, or be a keyword.
    bool keyword = false;
    for (std::string_view k : kKeywords)
        keyword = keyword || out == k;
    if (out.empty() || (out[0] >= '0' && out[0] <= '9') || out[0] == '+' || out[0] == '-' ||
        keyword)
        out.insert(out.begin(), '_');
    return out;
}

namespace {

// A large output buffer that numbers are formatted into directly; it is handed on to a stream
// or a string whenever it fills up. std::to_chars does not look at the C locale, so a comma
// decimal locale gives the same bytes.
class Output {
public:
    explicit Output(std::FILE* file) : file_(file) {}
    explicit Output(std::string* text) : text_(text) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool finish() {
        flush();
        return ok_;
    }

    void text(std::string_view s) {
        if (s.empty())
            return;
        if (s.size() > kSize - pos_) {
            flush();
            if (s.size() > kSize) {
                emit(s.data(), s.size());
                return;
            }
        }
        std::memcpy(buf_.get() + pos_, s.data(), s.size());
        pos_ += s.size();
    }
    void ch(char c) {
        reserve(1);
        buf_[pos_++] = c;
    }
    void nl() { text("\r\n"); }
    void indent(unsigned level) {
        while (level > 0) {
            const unsigned n = level < 64 ? level : 64;
            text(std::string_view(kSpaces, n));
            level -= n;
        }
    }
    // printf "%g": six significant digits, trailing zeros dropped.
    void g(float value) {
        reserve(kNumber);
        // A city repeats its numbers (corners shared by a box's points, texture coordinates,
        // colours): the text of recent ones is kept and copied.
        const auto bits = std::bit_cast<std::uint32_t>(value);
        CachedNumber& slot = numbers_[(bits * 2654435761u) >> (32 - kCacheBits)];
        if (slot.length == 0 || slot.bits != bits) {
            slot.bits = bits;
            slot.length = std::uint8_t(formatG(slot.text, value) - slot.text);
        }
        std::memcpy(buf_.get() + pos_, slot.text, kFormatGMax);
        pos_ += slot.length;
    }
    // printf "%G".
    void bigG(double value) {
        reserve(kNumber);
        char* start = buf_.get() + pos_;
        char* end =
            std::to_chars(start, buf_.get() + kSize, value, std::chars_format::general, 6).ptr;
        for (char* p = start; p != end; ++p)
            if (*p >= 'a' && *p <= 'z')
                *p = char(*p - 'a' + 'A');
        pos_ = end - buf_.get();
    }
    // printf "%f".
    void f(float value) {
        reserve(kNumber + 320); // a huge value prints all its integer digits
        pos_ = std::to_chars(buf_.get() + pos_, buf_.get() + kSize, double(value),
                             std::chars_format::fixed, 6)
                   .ptr -
               buf_.get();
    }
    void d(std::int32_t value) {
        reserve(kNumber);
        // Face lists are mostly small indices and terminators.
        if (value >= 0 && value < 10) {
            buf_[pos_++] = char('0' + value);
            return;
        }
        if (value == -1) {
            buf_[pos_++] = '-';
            buf_[pos_++] = '1';
            return;
        }
        pos_ = std::to_chars(buf_.get() + pos_, buf_.get() + kSize, value).ptr - buf_.get();
    }

private:
    static constexpr std::size_t kSize = 1 << 20;
    static constexpr std::size_t kNumber = 32;
    static constexpr const char* kSpaces =
        "                                                                ";

    void reserve(std::size_t n) {
        if (kSize - pos_ < n)
            flush();
    }
    void flush() {
        emit(buf_.get(), pos_);
        pos_ = 0;
    }
    void emit(const char* data, std::size_t n) {
        if (n == 0)
            return;
        if (text_) {
            text_->append(data, n);
        } else if (ok_ && std::fwrite(data, 1, n, file_) != n) {
            ok_ = false;
        }
    }

    std::FILE* file_ = nullptr;
    std::string* text_ = nullptr;
    std::unique_ptr<char[]> buf_{new char[kSize]};
    static_assert(kNumber >= kFormatGMax);
    static constexpr int kCacheBits = 12;
    struct CachedNumber {
        std::uint32_t bits = 0;
        std::uint8_t length = 0; // 0: empty
        char text[kFormatGMax] = {};
    };
    std::unique_ptr<CachedNumber[]> numbers_{new CachedNumber[std::size_t(1) << kCacheBits]};
    std::size_t pos_ = 0;
    bool ok_ = true;
};

class Writer {
public:
    explicit Writer(Output& out) : out_(out) {}

    void node(const VRNode* n, unsigned level);
    // The header, the fields and the opening of the children list of a group kind; what
    // body() writes before the children.
    void openGroup(const VRGroup& n, unsigned level);
    // The end of the children list and of the node that openGroup began.
    void closeGroup(unsigned level);

private:
    static std::string_view childListName(const VRGroup& n) {
        return n.type == VR_LOD ? "level" : "children";
    }
    void groupFields(const VRGroup& n, unsigned in);
    // --- lines and arrays ---
    void line(unsigned level, std::string_view s) {
        out_.indent(level);
        out_.text(s);
        out_.nl();
    }
    void vec3Line(unsigned level, std::string_view name, Vec3 v, bool trailingSpace) {
        out_.indent(level);
        out_.text(name);
        out_.ch(' ');
        vec3(v);
        if (trailingSpace)
            out_.ch(' ');
        out_.nl();
    }
    void rotationLine(unsigned level, std::string_view name, const VRRotation& r) {
        out_.indent(level);
        out_.text(name);
        out_.ch(' ');
        rotation(r);
        out_.nl();
    }
    void floatLine(unsigned level, std::string_view name, float v) {
        out_.indent(level);
        out_.text(name);
        out_.ch(' ');
        out_.g(v);
        out_.nl();
    }
    void vec2Line(unsigned level, std::string_view name, Vec2 v) {
        out_.indent(level);
        out_.text(name);
        out_.ch(' ');
        vec2(v);
        out_.nl();
    }
    void vec2(Vec2 v) {
        out_.g(v.x);
        out_.ch(' ');
        out_.g(v.y);
    }
    void vec3(Vec3 v) {
        out_.g(v.x);
        out_.ch(' ');
        out_.g(v.y);
        out_.ch(' ');
        out_.g(v.z);
    }
    void rotation(const VRRotation& r) {
        vec3({r.x, r.y, r.z});
        out_.ch(' ');
        out_.g(r.angle);
    }
    void open(unsigned level, std::string_view name) {
        out_.indent(level);
        out_.text(name);
        out_.text(" [");
        out_.nl();
    }
    void close(unsigned level) { line(level, "]"); }
    // The inside of a quoted string: a quote or backslash is escaped with a backslash, so that
    // readers get the text back as it was.
    void quoted(std::string_view text) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '"' || text[i] == '\\') {
                out_.text(text.substr(start, i - start));
                out_.ch('\\');
                start = i;
            }
        }
        out_.text(text.substr(start));
    }

    void mfInt32(unsigned level, std::string_view name, const MFInt32& v) {
        if (v.empty())
            return;
        if (v.size() == 1) {
            out_.indent(level);
            out_.text(name);
            out_.ch(' ');
            out_.d(v[0]);
            out_.nl();
            return;
        }
        open(level, name);
        for (std::int32_t i : v) {
            out_.d(i);
            if (i == -1)
                out_.nl();
            else
                out_.ch(' ');
        }
        close(level);
    }
    // One entry per face, five to a line; brackets even for a single entry.
    void perFace(unsigned level, std::string_view name, const MFInt32& v) {
        if (v.empty())
            return;
        open(level, name);
        for (std::size_t i = 0; i < v.size(); ++i) {
            out_.d(v[i]);
            if ((i + 1) % 5 == 0)
                out_.nl();
            else
                out_.ch(' ');
        }
        if (v.size() % 5 != 0)
            out_.nl();
        close(level);
    }
    void mfFloat(unsigned level, std::string_view name, const MFFloat& v) {
        if (v.empty())
            return;
        if (v.size() == 1) {
            floatLine(level, name, v[0]);
            return;
        }
        open(level, name);
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (i > 0) {
                out_.ch(',');
                if (i % 6 == 0)
                    out_.nl();
            }
            out_.indent(level + 1);
            out_.g(v[i]);
        }
        close(level);
    }
    void mfString(unsigned level, std::string_view name, const MFString& v) {
        if (v.empty())
            return;
        if (v.size() == 1) {
            out_.indent(level);
            out_.text(name);
            out_.text(" \"");
            quoted(v[0]);
            out_.ch('"');
            out_.nl();
            return;
        }
        open(level, name);
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (i > 0) {
                out_.ch(',');
                out_.nl();
            }
            out_.indent(level + 1);
            out_.ch('"');
            quoted(v[i]);
            out_.ch('"');
        }
        close(level);
    }
    void mfVec2f(unsigned level, std::string_view name, const MFVec2f& v) {
        if (v.empty())
            return;
        if (v.size() == 1)
            return vec2Line(level, name, v[0]);
        open(level, name);
        for (Vec2 p : v) {
            vec2(p);
            out_.nl();
        }
        close(level);
    }
    void mfVec3f(unsigned level, std::string_view name, const Vec3* v, std::size_t n) {
        if (n == 0)
            return;
        if (n == 1)
            return vec3Line(level, name, v[0], false);
        open(level, name);
        for (std::size_t i = 0; i < n; ++i) {
            vec3(v[i]);
            out_.nl();
        }
        close(level);
    }
    void mfVec3f(unsigned level, std::string_view name, const MFVec3f& v) {
        mfVec3f(level, name, v.data(), v.size());
    }
    void mfRotation(unsigned level, std::string_view name, const MFRotation& v) {
        if (v.empty())
            return;
        if (v.size() == 1)
            return rotationLine(level, name, v[0]);
        open(level, name);
        for (const VRRotation& r : v) {
            rotation(r);
            out_.nl();
        }
        close(level);
    }
    void childList(unsigned level, std::string_view name, const MFNode& v) {
        if (v.empty())
            return;
        open(level, name);
        for (const VRRef<VRNode>& child : v)
            node(child.get(), level + 1);
        close(level);
    }

    // --- blocks ---
    void header(const VRNode& n, unsigned level, std::string_view prefix, std::string_view kind) {
        out_.indent(level);
        out_.text(prefix);
        if (n.name) {
            out_.text("DEF ");
            out_.text(vrmlName(*n.name));
            out_.ch(' ');
        }
        out_.text(kind);
        out_.text(" {");
        out_.nl();
    }
    void block(const VRNode& n, unsigned level, std::string_view prefix);
    void body(const VRNode& n, unsigned level);
    void textureField(const VRTexture* t, unsigned level) {
        if (!t)
            return;
        if (t->type != VR_IMAGE_TEXTURE)
            return out_.text("### Texture is not an ImageTexture\r\n");
        block(*t, level, "texture ");
    }
    void geometryField(const VRGeometry* g, unsigned level) {
        if (!g)
            return;
        if (g->type != VR_INDEXED_FACE_SET)
            return out_.text("### Geometry is not an IndexedFaceSet\r\n");
        block(*g, level, "geometry ");
    }
    void field(const VRNode* n, unsigned level, std::string_view prefix) {
        if (n)
            block(*n, level, prefix);
    }
    void coordinateInterpolator(const VRCoordinateInterpolator& n, unsigned level);

    Output& out_;
};

std::string_view kindName(std::int32_t type) {
    switch (type) {
    case VR_GROUP:
        return "Group";
    case VR_TRANSFORM:
        return "Transform";
    case VR_LOD:
        return "LOD";
    case VR_SHAPE:
        return "Shape";
    case VR_APPEARANCE:
        return "Appearance";
    case VR_MATERIAL:
        return "Material";
    case VR_IMAGE_TEXTURE:
        return "ImageTexture";
    case VR_TEXTURE_TRANSFORM:
        return "TextureTransform";
    case VR_INDEXED_FACE_SET:
        return "IndexedFaceSet";
    case VR_COORDINATE:
        return "Coordinate";
    case VR_TEXTURE_COORDINATE:
        return "TextureCoordinate";
    case VR_COLOR:
        return "Color";
    case VR_NORMAL:
        return "Normal";
    case VR_VIEWPOINT:
        return "Viewpoint";
    case VR_COORDINATE_INTERPOLATOR:
        return "CoordinateInterpolator";
    case VR_ORIENTATION_INTERPOLATOR:
        return "OrientationInterpolator";
    case VR_POSITION_INTERPOLATOR:
        return "PositionInterpolator";
    case VR_TIME_SENSOR:
        return "TimeSensor";
    default:
        return "Group";
    }
}

void Writer::block(const VRNode& n, unsigned level, std::string_view prefix) {
    header(n, level, prefix, kindName(n.type));
    body(n, level);
    line(level, "}");
}

void Writer::groupFields(const VRGroup& n, unsigned in) {
    if (n.type == VR_TRANSFORM) {
        const auto& t = static_cast<const VRTransform&>(n);
        if (t.translation != Vec3{0, 0, 0})
            vec3Line(in, "translation", t.translation, true);
        if (t.rotation != VRRotation{0, 0, 1, 0})
            rotationLine(in, "rotation", t.rotation);
        if (t.scale != Vec3{1, 1, 1})
            vec3Line(in, "scale", t.scale, true);
        if (t.scaleOrientation != VRRotation{0, 0, 1, 0})
            rotationLine(in, "scaleOrientation", t.scaleOrientation);
        if (t.center != Vec3{0, 0, 0})
            vec3Line(in, "center", t.center, false);
    } else if (n.type == VR_LOD) {
        const auto& l = static_cast<const VRLOD&>(n);
        mfFloat(in, "range", l.range);
        if (l.center != Vec3{0, 0, 0})
            vec3Line(in, "center", l.center, false);
    }
}

void Writer::openGroup(const VRGroup& n, unsigned level) {
    header(n, level, {}, kindName(n.type));
    groupFields(n, level + 1);
    open(level + 1, childListName(n));
}

void Writer::closeGroup(unsigned level) {
    close(level + 1);
    line(level, "}");
}

void Writer::body(const VRNode& n, unsigned level) {
    const unsigned in = level + 1;
    switch (n.type) {
    case VR_GROUP:
    case VR_TRANSFORM:
    case VR_LOD: {
        const auto& g = static_cast<const VRGroup&>(n);
        groupFields(g, in);
        childList(in, childListName(g), g.children);
        break;
    }
    case VR_SHAPE: {
        const auto& s = static_cast<const VRShape&>(n);
        field(s.appearance.get(), in, "appearance ");
        geometryField(s.geometry.get(), in);
        break;
    }
    case VR_APPEARANCE: {
        const auto& a = static_cast<const VRAppearance&>(n);
        field(a.material.get(), in, "material ");
        textureField(a.texture.get(), in);
        field(a.textureTransform.get(), in, "textureTransform ");
        break;
    }
    case VR_MATERIAL: {
        const auto& m = static_cast<const VRMaterial&>(n);
        if (m.diffuseColor != Vec3{0.8f, 0.8f, 0.8f})
            vec3Line(in, "diffuseColor", m.diffuseColor, false);
        if (m.ambientIntensity != 0.2f)
            floatLine(in, "ambientIntensity", m.ambientIntensity);
        if (m.specularColor != Vec3{0, 0, 0})
            vec3Line(in, "specularColor", m.specularColor, false);
        if (m.emissiveColor != Vec3{0, 0, 0})
            vec3Line(in, "emissiveColor", m.emissiveColor, false);
        if (m.shininess != 0.2f)
            floatLine(in, "shininess", m.shininess);
        if (m.transparency != 0.0f)
            floatLine(in, "transparency", m.transparency);
        break;
    }
    case VR_IMAGE_TEXTURE: {
        const auto& t = static_cast<const VRImageTexture&>(n);
        mfString(in, "url", t.url);
        out_.nl();
        if (!t.repeatS)
            line(in, "repeatS FALSE");
        if (!t.repeatT)
            line(in, "repeatT FALSE");
        break;
    }
    case VR_TEXTURE_TRANSFORM: {
        const auto& t = static_cast<const VRTextureTransform&>(n);
        if (t.translation != Vec2{0, 0})
            vec2Line(in, "translation", t.translation);
        if (t.rotation != 0.0f)
            floatLine(in, "rotation", t.rotation);
        if (t.scale != Vec2{1, 1})
            vec2Line(in, "scale", t.scale);
        if (t.center != Vec2{0, 0})
            vec2Line(in, "center", t.center);
        break;
    }
    case VR_INDEXED_FACE_SET: {
        const auto& f = static_cast<const VRIndexedFaceSet&>(n);
        field(f.coord.get(), in, "coord ");
        mfInt32(in, "coordIndex", f.coordIndex);
        field(f.texCoord.get(), in, "texCoord ");
        mfInt32(in, "texCoordIndex", f.texCoordIndex);
        field(f.color.get(), in, "color ");
        if (f.colorPerVertex)
            mfInt32(in, "colorIndex", f.colorIndex);
        else
            perFace(in, "colorIndex", f.colorIndex);
        if (!f.colorPerVertex)
            line(in, "colorPerVertex FALSE");
        field(f.normal.get(), in, "normal ");
        mfInt32(in, "normalIndex", f.normalIndex);
        if (!f.normalPerVertex)
            line(in, "normalPerVertex FALSE");
        if (!f.ccw)
            line(in, "ccw FALSE");
        if (!f.solid)
            line(in, "solid FALSE");
        if (!f.convex)
            line(in, "convex FALSE");
        if (f.creaseAngle != 0.0f)
            floatLine(in, "creaseAngle", f.creaseAngle);
        break;
    }
    case VR_COORDINATE:
        mfVec3f(level + 2, "point", static_cast<const VRCoordinate&>(n).point);
        break;
    case VR_TEXTURE_COORDINATE:
        mfVec2f(level + 2, "point", static_cast<const VRTextureCoordinate&>(n).point);
        break;
    case VR_COLOR:
        mfVec3f(level + 2, "color", static_cast<const VRColor&>(n).color);
        break;
    case VR_NORMAL:
        mfVec3f(level + 2, "vector", static_cast<const VRNormal&>(n).vector);
        break;
    case VR_VIEWPOINT: {
        const auto& v = static_cast<const VRViewpoint&>(n);
        if (v.position != Vec3{0, 0, 10})
            vec3Line(in, "position", v.position, true);
        if (v.orientation != VRRotation{0, 0, 1, 0})
            rotationLine(in, "orientation", v.orientation);
        if (v.description && !v.description->empty()) {
            out_.indent(in);
            out_.text("description \"");
            quoted(*v.description);
            out_.text("\" ");
            out_.nl();
        }
        if (v.fieldOfView != 0.785398f) {
            out_.indent(in);
            out_.text("fieldOfView ");
            out_.f(v.fieldOfView);
            out_.nl();
        }
        break;
    }
    case VR_COORDINATE_INTERPOLATOR:
        coordinateInterpolator(static_cast<const VRCoordinateInterpolator&>(n), level);
        break;
    case VR_POSITION_INTERPOLATOR: {
        const auto& p = static_cast<const VRPositionInterpolator&>(n);
        mfFloat(level + 2, "key", p.key);
        mfVec3f(level + 2, "keyValue", p.keyValue);
        break;
    }
    case VR_ORIENTATION_INTERPOLATOR: {
        const auto& o = static_cast<const VROrientationInterpolator&>(n);
        mfFloat(level + 2, "key", o.key);
        mfRotation(level + 2, "keyValue", o.keyValue);
        break;
    }
    case VR_TIME_SENSOR: {
        const auto& t = static_cast<const VRTimeSensor&>(n);
        auto timeLine = [&](std::string_view name, double value) {
            out_.indent(in);
            out_.text(name);
            out_.ch(' ');
            out_.bigG(value);
            out_.nl();
        };
        if (t.cycleInterval != 1.0)
            timeLine("cycleInterval", t.cycleInterval);
        if (!t.enabled)
            line(in, "enabled FALSE");
        if (t.loop)
            line(in, "loop TRUE");
        if (t.startTime != 0.0)
            timeLine("startTime", t.startTime);
        if (t.stopTime != 0.0)
            timeLine("stopTime", t.stopTime);
        break;
    }
    default:
        break;
    }
}

void Writer::coordinateInterpolator(const VRCoordinateInterpolator& n, unsigned level) {
    mfFloat(level + 2, "key", n.key);
    // The table never reads past the values that are really there.
    const std::size_t perRow = n.valuesPerRow;
    const std::size_t rows = perRow ? std::min<std::size_t>(n.rows, n.keyValue.size() / perRow) : 0;
    if (n.keyIndex.empty()) {
        mfVec3f(level + 2, "keyValue", n.keyValue.data(), rows * perRow);
        return;
    }
    // Row i of the written table is the source row keyIndex[i]; rows that do not exist are
    // left out.
    MFVec3f table;
    table.reserve(n.keyIndex.size() * perRow);
    for (std::int32_t row : n.keyIndex) {
        if (row < 0 || std::size_t(row) >= rows)
            continue;
        const Vec3* first = n.keyValue.data() + std::size_t(row) * perRow;
        table.insert(table.end(), first, first + perRow);
    }
    mfVec3f(level + 2, "keyValue", table);
}

void Writer::node(const VRNode* n, unsigned level) {
    if (!n)
        return;
    switch (n->type) {
    case VR_NODE:
        out_.indent(level);
        out_.text("### Node is not of a VR subclass\r\n");
        break;
    case VR_GROUP:
    case VR_TRANSFORM:
    case VR_LOD:
    case VR_SHAPE:
    case VR_VIEWPOINT:
    case VR_COORDINATE_INTERPOLATOR:
    case VR_ORIENTATION_INTERPOLATOR:
    case VR_POSITION_INTERPOLATOR:
    case VR_TIME_SENSOR:
        block(*n, level, {});
        break;
    case VR_APPEARANCE:
        block(*n, level, "appearance ");
        break;
    case VR_MATERIAL:
        block(*n, level, "material ");
        break;
    case VR_IMAGE_TEXTURE:
        block(*n, level, "texture ");
        break;
    case VR_TEXTURE_TRANSFORM:
        block(*n, level, "textureTransform ");
        break;
    case VR_INDEXED_FACE_SET:
        block(*n, level, "geometry ");
        break;
    case VR_TEXTURE:
        out_.text("### Texture is not an ImageTexture\r\n");
        break;
    case VR_GEOMETRY:
        out_.text("### Geometry is not an IndexedFaceSet\r\n");
        break;
    case VR_ROUTE:
        break;
    default:
        out_.indent(level);
        out_.text("### Unrecognized node type (");
        out_.d(n->type);
        out_.text(")\r\n");
        break;
    }
}

std::string_view fromFieldName(std::int32_t code) {
    switch (code) {
    case VR_FROM_FRACTION_CHANGED:
        return "fraction_changed";
    case VR_FROM_VALUE_CHANGED:
        return "value_changed";
    default:
        return {};
    }
}

std::string_view toFieldName(std::int32_t code) {
    static constexpr std::string_view names[] = {
        {},         "set_fraction",     "translation", "scale",    "center",
        "rotation", "scaleOrientation", "point",       "position", "orientation"};
    return code > 0 && code < 10 ? names[code] : std::string_view{};
}

void writeAll(const VRNode* root, Output& out, std::string_view preamble) {
    out.text(kVrmlFirstLine);
    out.text(preamble);
    Writer writer(out);
    if (root && root->type == VR_GROUP) {
        for (const VRRef<VRNode>& child : static_cast<const VRGroup*>(root)->children)
            writer.node(child.get(), 0);
    } else {
        writer.node(root, 0);
    }
    for (const VRNode* n : collectByType(const_cast<VRNode*>(root), VR_ROUTE)) {
        const auto* r = static_cast<const VRRoute*>(n);
        const std::string_view from = fromFieldName(r->fromField);
        const std::string_view to = toFieldName(r->toField);
        // A ROUTE can only name nodes that carry DEF names.
        if (from.empty() || to.empty() || !r->fromNode || !r->toNode || !r->fromNode->name ||
            !r->toNode->name)
            continue;
        out.text("ROUTE ");
        out.text(vrmlName(*r->fromNode->name));
        out.ch('.');
        out.text(from);
        out.text(" TO ");
        out.text(vrmlName(*r->toNode->name));
        out.ch('.');
        out.text(to);
        out.nl();
    }
}

} // namespace

struct VRStreamWriter::Impl {
    template <class Target> explicit Impl(Target* target) : output(target), writer(output) {}
    Output output;
    Writer writer;
    unsigned level = 0;
    std::FILE* file = nullptr;
};

VRStreamWriter::VRStreamWriter(std::FILE* out, std::string_view preamble)
    : impl_(std::make_unique<Impl>(out)) {
    impl_->file = out;
    impl_->output.text(kVrmlFirstLine);
    impl_->output.text(preamble);
}

VRStreamWriter::VRStreamWriter(std::string* out, std::string_view preamble)
    : impl_(std::make_unique<Impl>(out)) {
    impl_->output.text(kVrmlFirstLine);
    impl_->output.text(preamble);
}

VRStreamWriter::~VRStreamWriter() = default;

void VRStreamWriter::openGroup(const VRGroup& group) {
    impl_->writer.openGroup(group, impl_->level);
    impl_->level += 2;
}

void VRStreamWriter::node(const VRNode* node) {
    impl_->writer.node(node, impl_->level);
}

void VRStreamWriter::closeGroup() {
    if (impl_->level < 2)
        return;
    impl_->level -= 2;
    impl_->writer.closeGroup(impl_->level);
}

bool VRStreamWriter::finish() {
    while (impl_->level >= 2)
        closeGroup();
    const bool ok = impl_->output.finish();
    if (!impl_->file)
        return ok;
    return ok && std::fflush(impl_->file) == 0 && !std::ferror(impl_->file);
}

bool writeVrml(const VRNode* root, std::FILE* out, std::string_view preamble) {
    Output output(out);
    writeAll(root, output, preamble);
    return output.finish() && std::fflush(out) == 0 && !std::ferror(out);
}

std::string vrmlText(const VRNode* root, std::string_view preamble) {
    std::string text;
    Output output(&text);
    writeAll(root, output, preamble);
    output.finish();
    return text;
}

bool writeVrmlFile(const VRNode* root, const std::string& path) {
    ReplacingFile file(path);
    if (!file.stream())
        return false;
    if (!writeVrml(root, file.stream())) {
        file.discard();
        return false;
    }
    return file.commit();
}

} // namespace ombrel
