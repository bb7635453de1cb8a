#pragma once
// The encoders compiled with either number writer, for tests and the encode
// benchmark: the product compiles only the fast one, and the general one
// (std::to_chars based) is its reference, so the two must write the same bytes.
#include <string>

#include "encode/grouped.hpp"
#include "encode/number_path.hpp"
#include "encode/stream.hpp"
#include "generate/batch.hpp"

namespace synth::encode {

enum class NumberPath { fast, general };

struct GeneralNumbers {
    static char* f64(char* p, double v) { return json::write_f64_general(p, v); }
};

// The product's encoders, or the same encoders over the general number writer.
std::string encode_grouped(const generate::ColumnBatch& run, NumberPath path);
std::string encode_stream(const generate::ColumnBatch& run, NumberPath path);

}  // namespace synth::encode
