#include "spec/describe.hpp"

#include <cstddef>

#include "json/number_format.hpp"

namespace synth::spec {

namespace {

void append_hex_escape(std::string& out, std::uint32_t code) {
    static constexpr char kHex[] = "0123456789abcdef";
    char buf[8];
    int n = 0;
    do {
        buf[n++] = kHex[code & 0xF];
        code >>= 4;
    } while (code != 0);
    out.append("\\u{");
    while (n > 0) out.push_back(buf[--n]);
    out.push_back('}');
}

// Non-ASCII code points shown escaped rather than as they are: the C1 controls,
// and the invisible characters that could hide or reorder the text around them
// when the message is displayed (soft hyphen, zero-width and joiner characters,
// the line and paragraph separators, the bidirectional embeddings, overrides and
// isolates, the word joiner group and the byte-order mark).
bool is_unprintable(std::uint32_t cp) {
    if (cp >= 0x80 && cp <= 0x9F) return true;
    if (cp == 0xAD) return true;
    if (cp >= 0x200B && cp <= 0x200F) return true;
    if (cp >= 0x2028 && cp <= 0x202E) return true;
    if (cp >= 0x2060 && cp <= 0x2064) return true;
    if (cp >= 0x2066 && cp <= 0x2069) return true;
    if (cp == 0xFEFF) return true;
    return false;
}

// Length of the well-formed UTF-8 sequence at s[i] and its code point; 0 when
// the bytes there are not well-formed.
std::size_t decode_utf8(std::string_view s, std::size_t i, std::uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    std::uint32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, cp = b0 & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::string describe_string(std::string_view decoded) {
    std::string out;
    out.reserve(decoded.size() + 9);
    out.append("string \"");
    std::size_t i = 0;
    while (i < decoded.size()) {
        const auto b = static_cast<unsigned char>(decoded[i]);
        if (b < 0x80) {
            switch (b) {
                case '"':
                    out.append("\\\"");
                    break;
                case '\\':
                    out.append("\\\\");
                    break;
                case '\t':
                    out.append("\\t");
                    break;
                case '\r':
                    out.append("\\r");
                    break;
                case '\n':
                    out.append("\\n");
                    break;
                case 0:
                    out.append("\\0");
                    break;
                default:
                    if (b < 0x20 || b == 0x7F) {
                        append_hex_escape(out, b);
                    } else {
                        out.push_back(static_cast<char>(b));
                    }
            }
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        const std::size_t len = decode_utf8(decoded, i, cp);
        if (len == 0) {
            // Never produced by the reader; a stray byte is shown as the
            // replacement character so the message stays valid UTF-8.
            out.append("\xEF\xBF\xBD");
            ++i;
        } else if (is_unprintable(cp)) {
            append_hex_escape(out, cp);
            i += len;
        } else {
            out.append(decoded.substr(i, len));
            i += len;
        }
    }
    out.push_back('"');
    return out;
}

std::string describe_u64(std::uint64_t value) {
    std::string out = "integer `";
    json::append_u64(out, value);
    out.push_back('`');
    return out;
}

std::string describe_i64(std::int64_t value) {
    std::string out = "integer `";
    json::append_i64(out, value);
    out.push_back('`');
    return out;
}

std::string describe_f64(double value) {
    std::string out = "floating point `";
    json::append_f64(out, value);
    out.push_back('`');
    return out;
}

std::string describe_bool(bool value) {
    return value ? "boolean `true`" : "boolean `false`";
}

std::string describe_value(const json::JsonValue& value) {
    if (value.is_null()) return std::string(kDescribeNull);
    if (const bool* b = value.as_bool()) return describe_bool(*b);
    if (const std::uint64_t* u = value.as_u64()) return describe_u64(*u);
    if (const std::int64_t* i = value.as_i64()) return describe_i64(*i);
    if (const double* d = value.as_f64()) return describe_f64(*d);
    if (const std::string* s = value.as_string()) return describe_string(*s);
    if (value.as_array() != nullptr) return std::string(kDescribeSequence);
    return std::string(kDescribeMap);
}

}  // namespace synth::spec
