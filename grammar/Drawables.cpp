#include "grammar/Drawables.h"

#include "grammar/Texture.h"

#include <GL/gl.h>

namespace ombrel {

namespace {

void bindNoTexture(const Texture*) {
    glBindTexture(GL_TEXTURE_2D, 0);
}

TextureBinder textureBinder = bindNoTexture;

} // namespace

TextureBinder setTextureBinder(TextureBinder binder) {
    const TextureBinder previous = textureBinder;
    textureBinder = binder ? binder : bindNoTexture;
    return previous;
}

void bindTexture(const Texture* texture) {
    textureBinder(texture);
}

void DrawableBase::beginRender(unsigned int mode) const {
    bindTexture(texture.get());
    glBegin(mode);
    if (noColor) {
        glColor3f(1.0f, 1.0f, 1.0f);
    } else {
        // Taken as signed bytes: 0..127 map to 0..1, which is why colour channels stay below 128.
        glColor3b(static_cast<GLbyte>(colour & 0xFF), static_cast<GLbyte>((colour >> 8) & 0xFF),
                  static_cast<GLbyte>((colour >> 16) & 0xFF));
    }
}

void DrawFloor::render() const {
    beginRender(GL_QUADS);
    glNormal3f(0.0f, 0.0f, 1.0f);
    const float s = texture ? texture->scalex : 0.0f;
    const float r = texture ? texture->scaley : 0.0f;
    const float tex[4][2] = {{0.0f, 0.0f}, {0.0f, r}, {s, r}, {s, 0.0f}};
    for (int i = 0; i < 4; ++i) {
        const Vec2& c = corners[3 - i];
        if (texture) {
            glTexCoord2f(tex[i][0], tex[i][1]);
        }
        glVertex3f(c.x, c.y, baseHeight);
    }
    glEnd();
}

namespace {

// The four side faces of boxes and pyramids run over these corner pairs (a, e).
constexpr int kSideA[4] = {1, 2, 3, 0};
constexpr int kSideE[4] = {0, 1, 2, 3};

} // namespace

void DrawBox::render() const {
    beginRender(GL_QUADS);
    const float s = texture ? texture->scalex : 0.0f;
    const float r = texture ? texture->scaley : 0.0f;
    const float capTex[4][2] = {{0.0f, 0.0f}, {0.0f, r}, {s, r}, {s, 0.0f}};
    const float b = baseHeight;
    const float t = topHeight;
    if (hasBottom(closed)) {
        glNormal3f(0.0f, 0.0f, -1.0f);
        for (int i = 0; i < 4; ++i) {
            if (texture) {
                glTexCoord2f(capTex[i][0], capTex[i][1]);
            }
            glVertex3f(corners[i].x, corners[i].y, b);
        }
    }
    const float h = t - b;
    for (int k = 0; k < 4; ++k) {
        const Vec2& a = corners[kSideA[k]];
        const Vec2& e = corners[kSideE[k]];
        const Vec2 d = e - a;
        const float normal[3] = {d.y * h, -d.x * h, 0.0f};
        glNormal3fv(normal);
        glTexCoord2f(0.0f, 0.0f);
        glVertex3f(a.x, a.y, b);
        glTexCoord2f(repeatS, 0.0f);
        glVertex3f(e.x, e.y, b);
        glTexCoord2f(repeatS, repeatT);
        glVertex3f(e.x, e.y, t);
        glTexCoord2f(0.0f, repeatT);
        glVertex3f(a.x, a.y, t);
    }
    if (hasTop(closed)) {
        glNormal3f(0.0f, 0.0f, 1.0f);
        for (int i = 0; i < 4; ++i) {
            const Vec2& c = corners[3 - i];
            if (texture) {
                glTexCoord2f(capTex[i][0], capTex[i][1]);
            }
            glVertex3f(c.x, c.y, t);
        }
    }
    glEnd();
}

void DrawPyramid::render() const {
    beginRender(GL_TRIANGLES);
    const float b = baseHeight;
    for (int k = 0; k < 4; ++k) {
        const Vec2& a = corners[kSideA[k]];
        const Vec2& e = corners[kSideE[k]];
        glTexCoord2f(0.0f, 0.0f);
        glVertex3f(a.x, a.y, b);
        glTexCoord2f(1.0f, 0.0f);
        glVertex3f(e.x, e.y, b);
        glTexCoord2f(0.5f, 1.0f);
        glVertex3f(apex.x, apex.y, apex.z);
    }
    glEnd();
}

void CompoundDrawable::render() const {
    for (const auto& child : children) {
        child->render();
    }
}

} // namespace ombrel
