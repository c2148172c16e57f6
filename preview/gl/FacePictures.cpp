#include "preview/gl/FacePictures.h"

#include "city/CityDrawable.h"
#include "grammar/GeometrySink.h"
#include "grammar/SurfaceLabels.h"
#include "preview/gl/CityBatch.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace ombrel {

namespace {

constexpr std::string_view kSkySurface = "sky";

struct FixedColour {
    std::string_view surface;
    std::uint32_t colour;
};
// Far apart from each other, so that a picture reads at a glance.
constexpr FixedColour kFixedColours[] = {
    {kSkySurface, 0x000000},   {kWallSurface, 0xB4463C}, {kRoofSurface, 0x3C50B4},
    {kFloorSurface, 0xDCB43C}, {kRoadSurface, 0x505050}, {kCrossingSurface, 0xA0A0A0},
};

bool isFixed(std::uint32_t colour) {
    return std::any_of(std::begin(kFixedColours), std::end(kFixedColours),
                       [&](const FixedColour& f) { return f.colour == colour; });
}

// FNV-1a over the name and a round number, folded to 24 bits.
std::uint32_t hashColour(std::string_view name, std::uint32_t round) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : name) {
        h = (h ^ c) * 16777619u;
    }
    for (int i = 0; i < 4; ++i) {
        h = (h ^ ((round >> (8 * i)) & 0xFF)) * 16777619u;
    }
    return (h ^ (h >> 24)) & 0xFFFFFF;
}

void setBytes(std::uint8_t* to, std::uint32_t rgb) {
    to[0] = std::uint8_t(rgb >> 16);
    to[1] = std::uint8_t(rgb >> 8);
    to[2] = std::uint8_t(rgb);
    to[3] = 255;
}

// Hands every face to the arrays with the colours of the piece being collected.
class PassSink : public GeometrySink {
public:
    PassSink(std::vector<FacePictures::SurfaceClass>& classes,
             std::vector<FacePictures::Vertex>& quads, std::vector<FacePictures::Vertex>& triangles)
        : classes_(classes), quads_(quads), triangles_(triangles) {}
    std::uint32_t instance = 0;
    std::size_t faces = 0;

    void face(const Face& face) override {
        ++faces;
        const std::uint32_t label = colourOf(face.surface.empty() ? kFloorSurface : face.surface);
        auto& to = face.triangle ? triangles_ : quads_;
        for (int i = 0; i < face.cornerCount(); ++i) {
            FacePictures::Vertex v;
            v.position[0] = face.corners[i].x;
            v.position[1] = face.corners[i].y;
            v.position[2] = face.corners[i].z;
            setBytes(v.label, label);
            setBytes(v.instance, instance);
            to.push_back(v);
        }
    }

private:
    std::uint32_t colourOf(std::string_view surface) {
        if (surface == lastName_) {
            return lastColour_;
        }
        for (const auto& c : classes_) {
            if (c.name == surface) {
                return remember(surface, c.colour);
            }
        }
        std::uint32_t colour = surfaceColour(surface);
        // Another class may hold the colour already: move on until one is free.
        for (std::uint32_t step = 0;; ++step) {
            const bool taken = std::any_of(classes_.begin(), classes_.end(),
                                           [&](const auto& c) { return c.colour == colour; });
            if (!taken) {
                break;
            }
            colour = (colour + 1) & 0xFFFFFF;
            while (colour == 0 || isFixed(colour)) {
                colour = (colour + 1) & 0xFFFFFF;
            }
        }
        classes_.push_back({std::string(surface), colour});
        return remember(classes_.back().name, colour);
    }
    std::uint32_t remember(std::string_view name, std::uint32_t colour) {
        lastName_ = std::string(name);
        lastColour_ = colour;
        return colour;
    }

    std::vector<FacePictures::SurfaceClass>& classes_;
    std::vector<FacePictures::Vertex>& quads_;
    std::vector<FacePictures::Vertex>& triangles_;
    std::string lastName_ = "\n";
    std::uint32_t lastColour_ = 0;
};

} // namespace

std::uint32_t surfaceColour(std::string_view surface) {
    for (const FixedColour& f : kFixedColours) {
        if (f.surface == surface) {
            return f.colour;
        }
    }
    for (std::uint32_t round = 0;; ++round) {
        const std::uint32_t colour = hashColour(surface, round);
        if (colour != 0 && !isFixed(colour)) {
            return colour;
        }
    }
}

bool FacePictures::build(const Drawable& city) {
    quads_.clear();
    triangles_.clear();
    classes_.clear();
    classes_.push_back({std::string(kSkySurface), 0});
    buildings_ = 0;
    faces_ = 0;
    PassSink sink(classes_, quads_, triangles_);
    bool complete = true;
    if (const auto* c = dynamic_cast<const CityDrawable*>(&city)) {
        buildings_ = c->buildingDrawables.size();
        for (std::size_t i = 0; i < c->buildingDrawables.size() && complete; ++i) {
            sink.instance = std::uint32_t(i + 1) & 0xFFFFFF;
            complete = !c->buildingDrawables[i] || c->buildingDrawables[i]->collect(sink);
        }
        sink.instance = 0;
        for (const auto& road : c->roadDrawables) {
            if (complete && road) {
                complete = road->collect(sink);
            }
        }
    } else {
        complete = city.collect(sink);
    }
    if (!complete) {
        classes_.resize(1);
        quads_.clear();
        triangles_.clear();
        return false;
    }
    faces_ = sink.faces;
    quads_.shrink_to_fit();
    triangles_.shrink_to_fit();
    return true;
}

namespace {

// The distance along the view axis in hundredths of a unit, high byte in red, low in green:
// the varying is interpolated perspective-correct, so it is exact where the depth buffer is
// coarse far away. ftransform puts the fragments where the fixed pipeline puts them.
constexpr const char* kDepthVertexShader = R"(#version 110
varying float eyeDepth;
void main() {
    eyeDepth = -(gl_ModelViewMatrix * gl_Vertex).z;
    gl_Position = ftransform();
}
)";
constexpr const char* kDepthFragmentShader = R"(#version 110
varying float eyeDepth;
void main() {
    float hundredths = clamp(floor(eyeDepth * 100.0 + 0.5), 1.0, 65535.0);
    float high = floor(hundredths / 256.0);
    gl_FragColor = vec4(high / 255.0, (hundredths - high * 256.0) / 255.0, 0.0, 1.0);
}
)";

int glMajorVersion() {
    int major = 0;
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (!version || std::sscanf(version, "%d", &major) != 1) {
        return 0;
    }
    return major;
}

GLuint compile(GLenum kind, const char* source, std::string& why) {
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[512] = {};
        glGetShaderInfoLog(shader, sizeof log - 1, nullptr, log);
        why = std::string("the depth shader did not compile: ") + log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

} // namespace

bool FacePictures::draw(FacePass pass, std::string* why) {
    if (pass == FacePass::depth && programState_ == 0) {
        programState_ = -1;
        if (glMajorVersion() < 2) {
            programWhy_ = "the depth picture needs OpenGL 2.0";
        } else {
            const GLuint vs = compile(GL_VERTEX_SHADER, kDepthVertexShader, programWhy_);
            const GLuint fs =
                vs ? compile(GL_FRAGMENT_SHADER, kDepthFragmentShader, programWhy_) : 0;
            if (vs && fs) {
                program_ = glCreateProgram();
                glAttachShader(program_, vs);
                glAttachShader(program_, fs);
                glLinkProgram(program_);
                GLint ok = GL_FALSE;
                glGetProgramiv(program_, GL_LINK_STATUS, &ok);
                if (ok) {
                    programState_ = 1;
                } else {
                    programWhy_ = "the depth shader did not link";
                    glDeleteProgram(program_);
                    program_ = 0;
                }
            }
            if (vs) {
                glDeleteShader(vs);
            }
            if (fs) {
                glDeleteShader(fs);
            }
        }
    }
    if (pass == FacePass::depth && programState_ != 1) {
        if (why) {
            *why = programWhy_;
        }
        return false;
    }

    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_LIGHTING_BIT | GL_COLOR_BUFFER_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_LIGHTING);
    glDisable(GL_FOG);
    glDisable(GL_DITHER);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glShadeModel(GL_FLAT);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    // Client arrays read from memory only while no vertex buffer is bound.
    GLint boundBuffer = 0;
    const bool buffers = CityBatch::supported();
    if (buffers) {
        glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &boundBuffer);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
    }
    GLint boundProgram = 0;
    if (pass == FacePass::depth) {
        glGetIntegerv(GL_CURRENT_PROGRAM, &boundProgram);
        glUseProgram(program_);
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    const auto drawArray = [&](GLenum mode, const std::vector<Vertex>& vertices) {
        if (vertices.empty()) {
            return;
        }
        glVertexPointer(3, GL_FLOAT, sizeof(Vertex), vertices.front().position);
        if (pass == FacePass::depth) {
            glDisableClientState(GL_COLOR_ARRAY);
        } else {
            glEnableClientState(GL_COLOR_ARRAY);
            glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(Vertex),
                           pass == FacePass::labels ? vertices.front().label
                                                    : vertices.front().instance);
        }
        glDrawArrays(mode, 0, GLsizei(vertices.size()));
    };
    drawArray(GL_QUADS, quads_);
    drawArray(GL_TRIANGLES, triangles_);

    if (pass == FacePass::depth) {
        glUseProgram(GLuint(boundProgram));
    }
    if (buffers) {
        glBindBuffer(GL_ARRAY_BUFFER, GLuint(boundBuffer));
    }
    glPopClientAttrib();
    glPopAttrib();
    return true;
}

void FacePictures::forgetGL() {
    program_ = 0;
    programState_ = 0;
}

void FacePictures::releaseGL() {
    if (program_ != 0) {
        glDeleteProgram(program_);
        program_ = 0;
    }
    programState_ = 0;
}

std::uint32_t FacePictures::valueAt(FacePass pass, const std::uint8_t* rgba) {
    if (pass == FacePass::depth) {
        return std::uint32_t(rgba[0]) << 8 | rgba[1];
    }
    return std::uint32_t(rgba[0]) << 16 | std::uint32_t(rgba[1]) << 8 | rgba[2];
}

std::vector<std::pair<std::uint32_t, std::size_t>>
countValues(FacePass pass, const std::vector<std::uint8_t>& rgba) {
    std::map<std::uint32_t, std::size_t> counts;
    std::uint32_t last = 0xFFFFFFFF;
    std::size_t* lastCount = nullptr;
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        const std::uint32_t value = FacePictures::valueAt(pass, rgba.data() + i);
        if (value != last || !lastCount) {
            last = value;
            lastCount = &counts[value];
        }
        ++*lastCount;
    }
    return {counts.begin(), counts.end()};
}

} // namespace ombrel
