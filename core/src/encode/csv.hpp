#pragma once
// The tables of a batch as CSV rows: numbers in the JSON documents' texts (the
// same digits, read back to the same doubles), a null value as an empty field,
// timestamps as integer seconds, "\n" line ends.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "generate/batch.hpp"

namespace synth::encode {

// book: one row per level and side (ts,side,level,price,qty); book_wide: one
// row per bar (ts,bid_price_0,bid_qty_0,...,ask_price_0,ask_qty_0,...);
// labeled_candles: the candles and the bar's labels (regime,kind,sigma,jump),
// for a batch made with labels.
enum class CsvTable { candles, labeled_candles, trades, book, book_wide, funding };

std::optional<CsvTable> csv_table(std::string_view name);

// The header line of a table, with its line end.
std::string csv_header(CsvTable table, std::uint64_t book_depth);

// The batch's rows of a table, without the header.
std::string encode_csv(const generate::ColumnBatch& batch, CsvTable table);

}  // namespace synth::encode
