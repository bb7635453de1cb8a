// The extended spec reader is a superset of the classic one, on arbitrary
// bytes, for both forms (a spec text, a command's document): what the classic
// reader accepts it reads to the same spec; what the classic reader rejects it
// rejects with the same text, unless the classic reader stopped where its
// record ends and the extended one goes on (an unknown field, a longer array). Its text errors
// are positioned inside the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "invariants.hpp"
#include "protocol/unicode_trim.hpp"
#include "synth/columns.hpp"

using synth::fuzz::require;
using synth::spec::GenSpec;
using synth::spec::SynthError;

namespace {

using Reader = synth::Result<GenSpec, SynthError> (*)(std::string_view);

constexpr std::string_view kUnknown = "unknown field `";

bool starts(std::string_view message, std::string_view prefix) {
    return message.substr(0, prefix.size()) == prefix;
}

// Errors where the classic record ends but the extended one goes on: an unknown
// member of an object, and an array longer than the classic record (as a
// document: too many elements; as a text: more after its last element).
bool beyond_classic_record(std::string_view message) {
    return starts(message, kUnknown) || starts(message, "trailing characters") ||
           (starts(message, "invalid length ") &&
            message.find(", expected fewer elements in array") != std::string_view::npos);
}

void check_superset(std::string_view input, Reader classic_read, Reader extended_read, bool text) {
    auto classic = classic_read(input);
    auto extended = extended_read(input);
    auto again = extended_read(input);
    require(extended.ok() == again.ok(), "the extended reader is not deterministic");
    if (extended.ok()) {
        require(extended.value() == again.value(), "the extended reader is not deterministic");
    } else {
        require(extended.error().message == again.error().message,
                "the extended reader is not deterministic", extended.error().message);
        const SynthError& e = extended.error();
        require(e.kind == SynthError::Kind::Parse || e.kind == SynthError::Kind::BadSpec,
                "extended reader error of another kind", e.message);
        if (text && e.kind == SynthError::Kind::Parse) {
            auto p = synth::fuzz::split_position(e.message);
            require(p.has_value(), "extended text error without position", e.message);
            synth::fuzz::checked_index(synth::protocol::trim_unicode_space(input), p->line,
                                       p->column);
        }
    }
    if (classic.ok()) {
        require(extended.ok(), "extended reader rejects a classic spec",
                extended.ok() ? std::string_view() : extended.error().message);
        require(extended.value() == classic.value(), "extended reader reads a classic spec apart");
        return;
    }
    // There the extended reader may read an extension member and go on to
    // whatever follows: only the other errors must agree.
    const SynthError& c = classic.error();
    if (!beyond_classic_record(c.message)) {
        const std::string answer = extended.ok() ? "accepted" : extended.error().render();
        require(!extended.ok() && extended.error().kind == c.kind &&
                    extended.error().message == c.message,
                "extended reader answers a classic error otherwise",
                c.render() + (text ? " (text)" : " (document)") + " | " + answer);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    check_superset(input, synth::protocol::spec_from_text, synth::protocol::extended_spec_from_text,
                   true);
    check_superset(input, synth::protocol::spec_from_document,
                   synth::protocol::extended_spec_from_document, false);
    return 0;
}
