#pragma once
// Large columns and result buffers are fresh memory written once from start
// to end; with 4 KiB pages a good part of that time goes to page faults.
#include <cstddef>

namespace synth::base {

// Asks for huge pages over the whole 2 MiB pages inside [data, data + bytes),
// when the block is large enough to hold several. Only a hint: without huge
// pages nothing changes but the speed.
void advise_huge_pages(void* data, std::size_t bytes);

}  // namespace synth::base
