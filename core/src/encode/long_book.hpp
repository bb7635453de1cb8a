#pragma once
// The key columns of the long book table (one row per level and side): the
// bar's timestamp, the side code and the level index of every row of the
// batch's level columns, for tables that want them as columns of their own.
#include <cstdint>

#include "generate/batch.hpp"

namespace synth::encode {

struct LongBookKeys {
    generate::Column<std::int64_t> ts;
    generate::Column<std::uint8_t> side;  // 0 bid, 1 ask
    generate::Column<std::int64_t> level;
};

LongBookKeys long_book_keys(const generate::ColumnBatch& batch);

}  // namespace synth::encode
