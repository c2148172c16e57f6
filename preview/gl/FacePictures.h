#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ombrel {

class Drawable;

// The pictures a dataset is made of, drawn from the same camera as the city's picture:
//  - labels: every pixel the flat colour of the surface class of the face it shows (the sky
//    the class "sky", black);
//  - instances: every pixel the number of the building it shows plus one, as red * 65536 +
//    green * 256 + blue; 0 for roads and the sky;
//  - depth: every pixel the distance of what it shows along the view axis, in hundredths of a
//    unit (centimetres when a unit is a metre), at most 65535; 0 for the sky.
enum class FacePass { labels, instances, depth };

// The colour of a surface class in the labels picture, as 0xRRGGBB: a fixed one for the
// classes faces get from what drew them ("wall", "roof", "floor", "road", "crossing"), black
// for "sky", and for a name a construction file gave, a colour hashed from the name (never
// black, never one of the fixed ones), the same in every run.
std::uint32_t surfaceColour(std::string_view surface);

// A city's faces as flat-coloured arrays for the three passes: built once, drawn with client
// arrays (OpenGL 1.1) in the city's drawing order, every face its exact colour: no texture,
// no lighting, no fog, no dithering, flat shading. Each call but build needs a current
// compatibility context; the depth pass needs OpenGL 2.0 (a small shader, see draw).
class FacePictures {
public:
    // Collects the city's faces: for a city its buildings, numbered in order, then its roads;
    // any other drawable counts as roads. False when a drawable cannot hand over its faces
    // (the passes then draw nothing). Two classes that hash to the same colour get the later
    // one moved on to the next free colour, so that every colour names one class.
    bool build(const Drawable& city);

    // Draws one pass with the current matrices into the current framebuffer, after clearing it
    // to black; the culling and depth test are the caller's (the city's picture uses both). The
    // OpenGL state it changes it sets back. False (after drawing nothing) when the depth pass
    // has no shader: the context is older than OpenGL 2.0 or the shader did not compile; *why
    // then says which.
    bool draw(FacePass pass, std::string* why = nullptr);
    // Deletes the depth pass's shader program; the context it was made in must be current.
    void releaseGL();
    // Forgets the shader program without deleting it, for when its context is already gone.
    void forgetGL();

    // The classes met, in the order first met, and their colours.
    struct SurfaceClass {
        std::string name;
        std::uint32_t colour = 0;
    };
    const std::vector<SurfaceClass>& classes() const { return classes_; }
    std::size_t buildingCount() const { return buildings_; }
    std::size_t faceCount() const { return faces_; }

    // A picture's value at a pixel of RGBA bytes read back from OpenGL: labels and instances
    // 0xRRGGBB, depth the hundredths of a unit.
    static std::uint32_t valueAt(FacePass pass, const std::uint8_t* rgba);

    // One corner as the passes draw it: 20 bytes, so a city of a million faces holds about
    // 80 MB of them while the pictures are drawn.
    struct Vertex {
        float position[3];
        std::uint8_t label[4];    // the class's colour, opaque
        std::uint8_t instance[4]; // the building's number + 1, opaque
    };

private:
    std::vector<Vertex> quads_;
    std::vector<Vertex> triangles_;
    std::vector<SurfaceClass> classes_;
    std::size_t buildings_ = 0;
    std::size_t faces_ = 0;
    unsigned int program_ = 0;
    int programState_ = 0; // 0 not tried, 1 made, -1 failed
    std::string programWhy_;
};

// What a labels or instances picture holds, for its legend: for each value met, how many
// pixels show it. Pixels are RGBA bytes, width * height * 4, of `pass`.
std::vector<std::pair<std::uint32_t, std::size_t>>
countValues(FacePass pass, const std::vector<std::uint8_t>& rgba);

} // namespace ombrel
