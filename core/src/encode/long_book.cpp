#include "encode/long_book.hpp"

namespace synth::encode {

LongBookKeys long_book_keys(const generate::ColumnBatch& batch) {
    const std::size_t depth = batch.book_depth;
    const std::size_t rows = batch.level_price.size();
    LongBookKeys keys;
    keys.ts.reserve(rows);
    keys.side.reserve(rows);
    keys.level.reserve(rows);
    const generate::Column<std::int64_t>& times = batch.book_times();
    for (std::size_t j = 0; j < batch.bars(); ++j) {
        for (std::uint8_t side = 0; side < 2; ++side) {
            for (std::size_t k = 0; k < depth; ++k) {
                keys.ts.push_back(times[j]);
                keys.side.push_back(side);
                keys.level.push_back(static_cast<std::int64_t>(k));
            }
        }
    }
    return keys;
}

}  // namespace synth::encode
