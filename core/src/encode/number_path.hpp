#pragma once
// The number writer the record writers are compiled with. They take it as a
// template parameter so that each is compiled for one writer and the fast path
// pays nothing for the choice; the product uses only the fast one (the tests
// compile a second, general one to compare the bytes).
#include "json/number_format.hpp"

namespace synth::encode {

struct FastNumbers {
    static char* f64(char* p, double v) { return json::write_f64(p, v); }
};

}  // namespace synth::encode
