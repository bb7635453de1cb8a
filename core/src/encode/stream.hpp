#pragma once
// The event stream of "generate_stream": one time-ordered list of tagged
// events, written from the columns of the whole run.
#include <string>

#include "generate/batch.hpp"

namespace synth::encode {

// {"events":[{"type":...,<payload key>:{...}},...]}: per bar its trades in
// order, then its book, then its candle, then its funding point if it has one.
std::string encode_stream(const generate::ColumnBatch& run);

}  // namespace synth::encode
