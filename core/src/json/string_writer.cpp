#include "json/string_writer.hpp"

#include <array>

namespace synth::json {

namespace {

// The two-character escape letter for a byte, or 0 when the byte is written as
// \u00xx (other control bytes) or 1 when it needs no escape at all.
constexpr std::array<char, 256> make_escape_table() {
    std::array<char, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = b < 0x20 ? 0 : 1;
    t['"'] = '"';
    t['\\'] = '\\';
    t['\b'] = 'b';
    t['\t'] = 't';
    t['\n'] = 'n';
    t['\f'] = 'f';
    t['\r'] = 'r';
    return t;
}

constexpr std::array<char, 256> kEscape = make_escape_table();

}  // namespace

void append_string(std::string& out, std::string_view s) {
    out.push_back('"');
    const char* run = s.data();
    const char* const end = s.data() + s.size();
    for (const char* p = run; p != end; ++p) {
        const char e = kEscape[static_cast<unsigned char>(*p)];
        if (e == 1) continue;
        out.append(run, p);
        if (e != 0) {
            const char pair[2] = {'\\', e};
            out.append(pair, 2);
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            const auto b = static_cast<unsigned char>(*p);
            const char u[6] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 0xF]};
            out.append(u, 6);
        }
        run = p + 1;
    }
    out.append(run, end);
    out.push_back('"');
}

}  // namespace synth::json
