#include "encode/stream.hpp"

#include "encode/number_path.hpp"
#include "encode/stream_with.hpp"

namespace synth::encode {

std::string encode_stream(const generate::ColumnBatch& run) {
    return encode_stream_with<FastNumbers>(run);
}

}  // namespace synth::encode
