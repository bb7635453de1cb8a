#include "spec/messages.hpp"

#include <array>

#include "json/number_format.hpp"

namespace synth::spec {

namespace {

// Every record's fields in declaration order: its classic fields, then its
// extension members. A new extension member is one more name here, one more
// case in fields.hpp and its checks in validate_extensions.cpp.
constexpr std::array<std::string_view, 7> kGenSpecFields = {
    "seed", "bars", "start_price", "start_ts", "bar_secs", "regimes", "microstructure"};
constexpr std::array<std::string_view, 7> kRegimeFields = {"kind",  "len",   "drift", "vol",
                                                           "garch", "tails", "jumps"};
constexpr std::array<std::string_view, 4> kMicrostructureFields = {"book_depth", "spread_bps",
                                                                   "trade_rate", "funding"};
constexpr std::array<std::string_view, 3> kFundingSpecFields = {"interval_bars", "base_rate",
                                                                "sensitivity"};
constexpr std::array<std::string_view, 3> kGarchFields = {"alpha", "gamma", "beta"};
constexpr std::array<std::string_view, 1> kTailsFields = {"df"};
constexpr std::array<std::string_view, 3> kJumpsFields = {"rate", "mean", "vol"};

struct RecordTable {
    std::span<const std::string_view> fields;
    std::size_t classic_fields;  // the leading fields the classic dialect reads
    std::string_view expected;   // "struct GenSpec", ...
};

RecordTable table_of(Record record) {
    switch (record) {
        case Record::GenSpec:
            return {kGenSpecFields, 7, "struct GenSpec"};
        case Record::Regime:
            return {kRegimeFields, 4, "struct Regime"};
        case Record::Microstructure:
            return {kMicrostructureFields, 4, "struct Microstructure"};
        case Record::FundingSpec:
            return {kFundingSpecFields, 3, "struct FundingSpec"};
        case Record::Garch:
            return {kGarchFields, kGarchFields.size(), "struct Garch"};
        case Record::Tails:
            return {kTailsFields, kTailsFields.size(), "struct Tails"};
        case Record::Jumps:
            return {kJumpsFields, kJumpsFields.size(), "struct Jumps"};
    }
    return {};
}
constexpr std::array<std::string_view, 4> kKindNames = {"trend", "range", "crash", "vol"};

// `a`, `b`, `c`
void append_backticked_list(std::string& out, std::span<const std::string_view> names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) out.append(", ");
        out.push_back('`');
        out.append(names[i]);
        out.push_back('`');
    }
}

}  // namespace

std::span<const std::string_view> field_names(Record record, Dialect dialect) {
    const RecordTable table = table_of(record);
    return dialect == Dialect::classic ? table.fields.first(table.classic_fields) : table.fields;
}

std::size_t field_count(Record record, Dialect dialect) {
    return field_names(record, dialect).size();
}

std::optional<std::size_t> field_index(Record record, std::string_view name, Dialect dialect) {
    const auto names = field_names(record, dialect);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return i;
    }
    return std::nullopt;
}

bool field_has_default(Record record, std::size_t index) {
    if (index >= table_of(record).classic_fields) return true;
    switch (record) {
        case Record::GenSpec:
            return index == 3 || index == 4;
        case Record::Microstructure:
            return index == 3;
        default:
            return false;
    }
}

std::string_view record_name(Record record) {
    return expected_struct(record).substr(7);
}

std::string_view expected_struct(Record record) {
    return table_of(record).expected;
}

std::string invalid_type(std::string_view value_desc, std::string_view expected) {
    std::string out;
    out.reserve(32 + value_desc.size() + expected.size());
    out.append("invalid type: ").append(value_desc).append(", expected ").append(expected);
    return out;
}

std::string invalid_integer(std::string_view integer_text, std::string_view expected) {
    std::string out;
    out.reserve(40 + integer_text.size() + expected.size());
    out.append("invalid value: integer `")
        .append(integer_text)
        .append("`, expected ")
        .append(expected);
    return out;
}

std::string unknown_field(std::string_view key, Record record, Dialect dialect) {
    std::string out;
    out.reserve(128 + key.size());
    out.append("unknown field `").append(key).append("`, expected one of ");
    append_backticked_list(out, field_names(record, dialect));
    return out;
}

std::string duplicate_field(std::string_view key) {
    std::string out = "duplicate field `";
    out.append(key).push_back('`');
    return out;
}

std::string missing_field(std::string_view field) {
    std::string out = "missing field `";
    out.append(field).push_back('`');
    return out;
}

std::string invalid_length_struct(std::size_t index, Record record) {
    std::string out = "invalid length ";
    json::append_u64(out, index);
    out.append(", expected ").append(expected_struct(record)).append(" with ");
    json::append_u64(out, table_of(record).classic_fields);
    out.append(" elements");
    return out;
}

std::string invalid_length_array(std::size_t length) {
    std::string out = "invalid length ";
    json::append_u64(out, length);
    out.append(", expected fewer elements in array");
    return out;
}

std::string unknown_variant(std::string_view name) {
    std::string out = "unknown variant `";
    out.append(name).append("`, expected one of ");
    append_backticked_list(out, kKindNames);
    return out;
}

std::optional<RegimeKind> kind_from_name(std::string_view name) {
    for (std::size_t i = 0; i < kKindNames.size(); ++i) {
        if (kKindNames[i] == name) return static_cast<RegimeKind>(i);
    }
    return std::nullopt;
}

}  // namespace synth::spec
