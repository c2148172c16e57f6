#pragma once

// A small JSON reader for the tests that look inside the files an export writes (tilesets,
// their subtrees and tiles). Numbers are doubles; a document that does not parse gives a null
// value with ok() false.

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace ombrel::testsupport {

class Json {
public:
    enum class Kind { null, boolean, number, string, array, object };

    static Json parse(std::string_view text) {
        std::size_t at = 0;
        Json value = read(text, at);
        skip(text, at);
        if (at != text.size())
            value.bad_ = true;
        return value;
    }

    bool ok() const { return !bad_; }
    Kind kind() const { return kind_; }
    bool has(const std::string& key) const { return object_.count(key) > 0; }
    // The member `key`, or a null value when there is none.
    const Json& operator[](const std::string& key) const {
        const auto it = object_.find(key);
        return it == object_.end() ? none() : it->second;
    }
    const Json& operator[](std::size_t i) const { return i < array_.size() ? array_[i] : none(); }
    std::size_t size() const { return kind_ == Kind::array ? array_.size() : object_.size(); }
    double number() const { return number_; }
    std::uint64_t count() const { return std::uint64_t(number_); }
    const std::string& text() const { return string_; }
    bool boolean() const { return boolean_; }
    const std::map<std::string, Json>& members() const { return object_; }
    const std::vector<Json>& items() const { return array_; }

private:
    static const Json& none() {
        static const Json value;
        return value;
    }
    static void skip(std::string_view t, std::size_t& at) {
        while (at < t.size() && (t[at] == ' ' || t[at] == '\n' || t[at] == '\r' || t[at] == '\t'))
            ++at;
    }
    static std::string readString(std::string_view t, std::size_t& at, bool& bad) {
        std::string s;
        ++at; // the opening quote
        while (at < t.size() && t[at] != '"') {
            if (t[at] == '\\' && at + 1 < t.size()) {
                const char c = t[++at];
                if (c == 'n')
                    s += '\n';
                else if (c == 't')
                    s += '\t';
                else if (c == 'r')
                    s += '\r';
                else if (c == 'u' && at + 4 < t.size()) {
                    const unsigned code =
                        unsigned(std::stoul(std::string(t.substr(at + 1, 4)), nullptr, 16));
                    if (code < 0x80) {
                        s += char(code);
                    } else if (code < 0x800) {
                        s += char(0xC0 | (code >> 6));
                        s += char(0x80 | (code & 0x3F));
                    } else {
                        s += char(0xE0 | (code >> 12));
                        s += char(0x80 | ((code >> 6) & 0x3F));
                        s += char(0x80 | (code & 0x3F));
                    }
                    at += 4;
                } else
                    s += c;
                ++at;
                continue;
            }
            s += t[at++];
        }
        if (at >= t.size())
            bad = true;
        ++at; // the closing quote
        return s;
    }
    static Json read(std::string_view t, std::size_t& at) {
        Json v;
        skip(t, at);
        if (at >= t.size()) {
            v.bad_ = true;
            return v;
        }
        const char c = t[at];
        if (c == '{') {
            v.kind_ = Kind::object;
            ++at;
            skip(t, at);
            if (at < t.size() && t[at] == '}') {
                ++at;
                return v;
            }
            for (;;) {
                skip(t, at);
                if (at >= t.size() || t[at] != '"') {
                    v.bad_ = true;
                    return v;
                }
                std::string key = readString(t, at, v.bad_);
                skip(t, at);
                if (at >= t.size() || t[at] != ':') {
                    v.bad_ = true;
                    return v;
                }
                ++at;
                Json member = read(t, at);
                v.bad_ = v.bad_ || member.bad_;
                v.object_[key] = std::move(member);
                skip(t, at);
                if (at < t.size() && t[at] == ',') {
                    ++at;
                    continue;
                }
                if (at < t.size() && t[at] == '}')
                    ++at;
                else
                    v.bad_ = true;
                return v;
            }
        }
        if (c == '[') {
            v.kind_ = Kind::array;
            ++at;
            skip(t, at);
            if (at < t.size() && t[at] == ']') {
                ++at;
                return v;
            }
            for (;;) {
                Json item = read(t, at);
                v.bad_ = v.bad_ || item.bad_;
                v.array_.push_back(std::move(item));
                skip(t, at);
                if (at < t.size() && t[at] == ',') {
                    ++at;
                    continue;
                }
                if (at < t.size() && t[at] == ']')
                    ++at;
                else
                    v.bad_ = true;
                return v;
            }
        }
        if (c == '"') {
            v.kind_ = Kind::string;
            v.string_ = readString(t, at, v.bad_);
            return v;
        }
        for (const auto& [word, kind, flag] :
             {std::tuple{"true", Kind::boolean, true}, std::tuple{"false", Kind::boolean, false},
              std::tuple{"null", Kind::null, false}})
            if (t.substr(at, std::string_view(word).size()) == word) {
                at += std::string_view(word).size();
                v.kind_ = kind;
                v.boolean_ = flag;
                return v;
            }
        const std::string rest(t.substr(at, 40));
        char* end = nullptr;
        v.number_ = std::strtod(rest.c_str(), &end);
        if (end == rest.c_str()) {
            v.bad_ = true;
            return v;
        }
        v.kind_ = Kind::number;
        at += std::size_t(end - rest.c_str());
        return v;
    }

    Kind kind_ = Kind::null;
    bool bad_ = false;
    bool boolean_ = false;
    double number_ = 0.0;
    std::string string_;
    std::vector<Json> array_;
    std::map<std::string, Json> object_;
};

} // namespace ombrel::testsupport
