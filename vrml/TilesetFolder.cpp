#include "vrml/TilesetFolder.h"

#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace ombrel {

namespace {

constexpr std::size_t kLargestTilesetJson = std::size_t(16) << 20;

// Just enough of a JSON reader to find one string member in a well-formed document: every
// value is checked for its form and skipped, the strings that matter decoded.
class JsonScan {
public:
    explicit JsonScan(std::string_view text) : text_(text) {}

    // The document's asset.generator, or false when the document is not well-formed JSON, has
    // no such string, or nests deeper than anything a tileset does.
    bool generator(std::string& out) {
        bool found = false;
        space();
        if (!peek('{'))
            return false;
        const bool ok = object(0, [&](const std::string& key) {
            if (key != "asset")
                return value(1);
            space();
            if (!peek('{'))
                return value(1);
            return object(1, [&](const std::string& inner) {
                space();
                if (inner != "generator" || !peek('"'))
                    return value(2);
                found = string(&out);
                return found;
            });
        });
        space();
        return ok && at_ == text_.size() && found;
    }

private:
    static constexpr int kDeepest = 64;

    bool peek(char c) const { return at_ < text_.size() && text_[at_] == c; }
    bool take(char c) {
        if (!peek(c))
            return false;
        ++at_;
        return true;
    }
    void space() {
        while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) && text_[at_] != '\0')
            ++at_;
    }
    bool literal(std::string_view word) {
        if (text_.substr(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }

    // An object's members, each key handed to `member`, which reads the value after the colon.
    template <typename Member> bool object(int depth, Member member) {
        if (depth > kDeepest || !take('{'))
            return false;
        space();
        if (take('}'))
            return true;
        for (;;) {
            space();
            std::string key;
            if (!string(&key))
                return false;
            space();
            if (!take(':') || !member(key))
                return false;
            space();
            if (take('}'))
                return true;
            if (!take(','))
                return false;
        }
    }

    bool value(int depth) {
        space();
        if (depth > kDeepest || at_ >= text_.size())
            return false;
        switch (text_[at_]) {
        case '{':
            return object(depth, [&](const std::string&) { return value(depth + 1); });
        case '[': {
            ++at_;
            space();
            if (take(']'))
                return true;
            for (;;) {
                if (!value(depth + 1))
                    return false;
                space();
                if (take(']'))
                    return true;
                if (!take(','))
                    return false;
            }
        }
        case '"':
            return string(nullptr);
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return number();
        }
    }

    bool digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ > start;
    }
    bool number() {
        take('-');
        if (!take('0') && !digits())
            return false;
        if (take('.') && !digits())
            return false;
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (!digits())
                return false;
        }
        return true;
    }

    // A string, decoded into `out` where given (a \u escape beyond ASCII as '?': only the
    // start of a generator's name is compared).
    bool string(std::string* out) {
        if (!take('"'))
            return false;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                if (out)
                    out->push_back(c);
                continue;
            }
            if (at_ >= text_.size())
                return false;
            const char e = text_[at_++];
            static constexpr char kEscapes[] = "\"\\/bfnrt";
            static constexpr char kDecoded[] = "\"\\/\b\f\n\r\t";
            const char* simple = std::strchr(kEscapes, e);
            if (simple && e != '\0') {
                if (out)
                    out->push_back(kDecoded[simple - kEscapes]);
                continue;
            }
            if (e != 'u' || at_ + 4 > text_.size())
                return false;
            unsigned code = 0;
            for (int i = 0; i < 4; ++i) {
                const char h = text_[at_++];
                code <<= 4;
                if (h >= '0' && h <= '9')
                    code |= unsigned(h - '0');
                else if (h >= 'a' && h <= 'f')
                    code |= unsigned(h - 'a' + 10);
                else if (h >= 'A' && h <= 'F')
                    code |= unsigned(h - 'A' + 10);
                else
                    return false;
            }
            if (out)
                out->push_back(code < 0x80 ? char(code) : '?');
        }
        return false;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

bool holdsOmbrelTileset(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    bool ok = true;
    std::vector<std::string> roots;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string leaf = entry->d_name;
        if (leaf == "." || leaf == "..")
            continue;
        struct stat st;
        const std::string path = folder + "/" + leaf;
        if (::lstat(path.c_str(), &st) != 0) {
            ok = false;
        } else if (leaf == "subtrees" || leaf == "tiles" || leaf == "textures") {
            ok = S_ISDIR(st.st_mode);
        } else if (leaf.size() > 5 && leaf.compare(leaf.size() - 5, 5, ".json") == 0) {
            ok = S_ISREG(st.st_mode) && std::size_t(st.st_size) <= kLargestTilesetJson;
            roots.push_back(path);
        } else {
            ok = false;
        }
        if (!ok)
            break;
    }
    ::closedir(dir);
    if (!ok || roots.empty())
        return false;
    for (const std::string& root : roots) {
        std::ifstream in(root, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in || text.str().size() > kLargestTilesetJson)
            return false;
        std::string generator;
        if (!JsonScan(text.str()).generator(generator) || generator.rfind("Ombrel", 0) != 0)
            return false;
    }
    return true;
}

StagedFolder::Kind tilesetFolder() {
    return {"tileset", holdsOmbrelTileset};
}

} // namespace ombrel
