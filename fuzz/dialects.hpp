#pragma once
// The extended dialect reads a superset of the classic one: whatever the
// classic dialect accepts it reads as the same spec, whatever it rejects the
// classic dialect rejects too, and where the classic error is not about
// something only the extended dialect reads (an unknown field, surplus array
// elements) both report the same text. Validation of an extended spec answers
// a classic message or one about an extension member.
#include <string>
#include <string_view>

#include "base/result.hpp"
#include "invariants.hpp"
#include "spec/error.hpp"
#include "spec/model.hpp"
#include "spec/validate.hpp"

namespace synth::fuzz {

inline bool extension_may_differ(std::string_view classic_error) {
    for (std::string_view form : {"unknown field `", "trailing characters", "trailing comma"}) {
        if (classic_error.substr(0, form.size()) == form) return true;
    }
    return classic_error.find("expected fewer elements in array") != std::string_view::npos;
}

// `m` without its leading "{head}N" (N a decimal index), or false when it has none.
inline bool strip_indexed(std::string_view& m, std::string_view head) {
    if (m.substr(0, head.size()) != head) return false;
    std::string_view rest = m.substr(head.size());
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    if (digits == 0 || (digits > 1 && rest[0] == '0')) return false;
    m = rest.substr(digits);
    return true;
}

// "regimes[N].member: message" or "chain.states[N].member: message" for an
// extension member's check, and the checks of a regime chain.
inline bool is_extension_validation_message(std::string_view m) {
    for (std::string_view known : {
             "regimes must be empty when a chain is given",
             "chain.states must not be empty",
             "chain.transitions must have one row per state",
             "chain.start must be below the number of states",
         }) {
        if (m == known) return true;
    }
    std::string_view rest = m;
    if (strip_indexed(rest, "chain.transitions[")) {
        return rest == "] must have one weight per state" ||
               rest == "]: weights must be finite and >= 0" || rest == "] must sum to 1";
    }
    rest = m;
    if (strip_indexed(rest, "chain.states[")) {
        if (rest == "]: len must be > 0" || rest == "]: drift must be finite" ||
            rest == "]: vol must be finite and >= 0") {
            return true;
        }
    } else {
        rest = m;
        if (!strip_indexed(rest, "regimes[")) return false;
    }
    for (std::string_view known : {
             "].garch: alpha must be finite and >= 0",
             "].garch: gamma must be finite and >= 0",
             "].garch: beta must be finite and >= 0",
             "].garch: alpha + gamma/2 + beta must be below 1",
             "].tails: df must be finite and > 2",
             "].jumps: rate must be finite and >= 0",
             "].jumps: mean must be finite",
             "].jumps: vol must be finite and >= 0",
         }) {
        if (rest == known) return true;
    }
    return false;
}

// "factors...: message" for a check of a universe asset's factors; counts and
// indices are any decimal number.
inline bool is_factors_validation_message(std::string_view m) {
    const auto skip_number = [](std::string_view& s) {
        std::size_t digits = 0;
        while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9') ++digits;
        s.remove_prefix(digits);
        return digits > 0;
    };
    const auto eat = [](std::string_view& s, std::string_view head) {
        if (s.substr(0, head.size()) != head) return false;
        s.remove_prefix(head.size());
        return true;
    };
    for (std::string_view known : {
             "factors: count must be > 0",
             "factors: count must be <= 4096",
             "factors.jumps: rate must be within [0, 1]",
             "factors.jumps: mean must be finite",
             "factors.jumps: vol must be finite and >= 0",
         }) {
        if (m == known) return true;
    }
    std::string_view rest = m;
    if (!eat(rest, "factors.loadings") &&
        !(eat(rest, "factors.regimes.") &&
          (eat(rest, "trend") || eat(rest, "range") || eat(rest, "crash") || eat(rest, "vol")))) {
        return false;
    }
    if (rest == ": sum of squared loadings must be <= 1") return true;
    std::string_view entry = rest;
    if (eat(entry, "[") && skip_number(entry) && entry == "]: must be finite") return true;
    return eat(rest, ": must have one entry per factor (") && skip_number(rest) &&
           eat(rest, "), not ") && skip_number(rest) && rest.empty();
}

inline void check_dialects(const Result<spec::GenSpec, spec::SynthError>& classic,
                           const Result<spec::GenSpec, spec::SynthError>& extended) {
    if (classic) {
        require(extended.ok(), "the extended dialect rejects a classic spec",
                extended.ok() ? std::string_view() : extended.error().message);
        require(extended.value() == classic.value(), "the dialects read a spec differently");
        return;
    }
    if (extended) {
        auto valid = spec::validate(extended.value());
        if (!valid) {
            const std::string& m = valid.error().message;
            require(is_validation_message(m) || is_extension_validation_message(m) ||
                        is_factors_validation_message(m),
                    "unknown validation message of an extended spec", m);
        }
    } else if (!extension_may_differ(classic.error().message)) {
        require(extended.error().message == classic.error().message,
                "the dialects report different errors", extended.error().message);
    }
}

}  // namespace synth::fuzz
