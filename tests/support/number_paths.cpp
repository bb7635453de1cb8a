#include "support/number_paths.hpp"

#include "encode/grouped_with.hpp"
#include "encode/stream_with.hpp"

namespace synth::encode {

std::string encode_grouped(const generate::ColumnBatch& run, NumberPath path) {
    return path == NumberPath::general ? encode_grouped_with<GeneralNumbers>(run)
                                       : encode_grouped(run);
}

std::string encode_stream(const generate::ColumnBatch& run, NumberPath path) {
    return path == NumberPath::general ? encode_stream_with<GeneralNumbers>(run)
                                       : encode_stream(run);
}

}  // namespace synth::encode
