#pragma once
// Which float writer the encoders use. Both write identical bytes; the general
// one is kept for comparison. The choice is made once per document, so each
// record writer is compiled for one path and the fast path pays nothing for it.
#include "json/number_format.hpp"

namespace synth::encode {

enum class NumberPath { fast, general };

struct FastNumbers {
    static char* f64(char* p, double v) { return json::write_f64(p, v); }
};

struct GeneralNumbers {
    static char* f64(char* p, double v) { return json::write_f64_general(p, v); }
};

}  // namespace synth::encode
