#include "encode/grouped.hpp"

#include "encode/grouped_with.hpp"
#include "encode/number_path.hpp"

namespace synth::encode {

std::string encode_grouped(const generate::ColumnBatch& run) {
    return encode_grouped_with<FastNumbers>(run);
}

}  // namespace synth::encode
