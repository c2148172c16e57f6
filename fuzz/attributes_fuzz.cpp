// Feeds arbitrary text to the attribute readers and checks what they promise: no NaN or
// infinity from any text, ranges in order, a single number read as both bounds, the UTF-16
// readers agreeing with the UTF-8 ones on plain text, and numbers written by the standard
// library (taken from the input's first bytes) read back exactly.
#include "base/Log.h"
#include "config/Attributes.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using namespace ombrel;

class NullSink : public LogSink {
public:
    void append(const LogChannel&, std::string_view) override {}
};

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "attribute invariant broken: %s\n", what);
        std::abort();
    }
}

bool sameFloat(float a, float b) {
    return a == b; // -0 and 0 read alike; NaN never equals and is already ruled out
}

void checkText(std::string_view text) {
    const float f = readFloat(text);
    check(std::isfinite(f), "readFloat gives a finite number");
    check(sameFloat(readFloat(" \t" + std::string(text)), f), "leading space is skipped");
    check(readUnsigned(text) == static_cast<std::uint32_t>(readInt(text)),
          "readUnsigned is readInt's bits");

    const bool single = text.find(',') == std::string_view::npos;
    const FloatRange fr = readFloatRange(text);
    check(std::isfinite(fr.lower) && std::isfinite(fr.upper), "float range bounds are finite");
    check(fr.lower <= fr.upper, "float range in order");
    if (single)
        check(sameFloat(fr.lower, f) && sameFloat(fr.upper, f), "single float is both bounds");
    const UintRange ur = readUintRange(text);
    check(ur.lower <= ur.upper, "uint range in order");
    if (single)
        check(ur.lower == readUnsigned(text) && ur.upper == ur.lower, "single uint is both bounds");

    // The same bytes widened one to one (Latin-1 to UTF-16) are plain ASCII only when every
    // byte is below 0x80; then both readers must agree.
    std::u16string wide(text.begin(), text.end());
    for (char16_t& c : wide)
        c = static_cast<unsigned char>(c);
    const float wf = readFloat(wide);
    check(std::isfinite(wf), "wide readFloat gives a finite number");
    (void)readUnsigned(wide);
    (void)readSeed(wide);
    check(readBool(wide) == (text == "true"), "only \"true\" is true");
    bool ascii = true;
    for (char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        check(sameFloat(wf, f), "wide and narrow readFloat agree");
        check(readUnsigned(wide) == readUnsigned(text), "wide and narrow readUnsigned agree");
    }
}

void checkRoundTrips(const std::uint8_t* data, std::size_t size) {
    if (size < 4)
        return;
    std::uint32_t bits;
    std::memcpy(&bits, data, 4);
    char buffer[64];

    float f;
    std::memcpy(&f, &bits, 4);
    if (std::isfinite(f)) {
        for (std::chars_format format : {std::chars_format::general, std::chars_format::scientific,
                                         std::chars_format::fixed}) {
            const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, f, format);
            if (ec == std::errc())
                check(sameFloat(readFloat(std::string_view(buffer, end - buffer)), f),
                      "a written float reads back exactly");
        }
    }

    const auto value = static_cast<std::int32_t>(bits);
    check(readInt(std::to_string(value)) == value, "a written int reads back");
    check(readUnsigned(std::to_string(bits)) == bits, "a written unsigned reads back");
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, bits, 16);
    (void)ec;
    const std::string hex(buffer, end);
    std::u16string wideHex = u"0x";
    for (char c : hex)
        wideHex += static_cast<char16_t>(c);
    const auto seed = readSeed(wideHex);
    check(seed && *seed == bits, "a written seed reads back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static NullSink sink;
    static ScopedLogSink scope{sink};
    checkText(std::string_view(reinterpret_cast<const char*>(data), size));
    checkRoundTrips(data, size);

    // Any UTF-16 text, lone surrogates included, reaches the wide readers unharmed.
    std::u16string wide(size / 2, u'\0');
    std::memcpy(wide.data(), data, wide.size() * 2);
    check(std::isfinite(readFloat(wide)), "readFloat of any UTF-16 is finite");
    (void)readUnsigned(wide);
    (void)readSeed(wide);
    (void)readBool(wide);
    return 0;
}
