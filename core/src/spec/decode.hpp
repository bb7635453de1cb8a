#pragma once
// The two ways a spec is decoded: from a whole JSON text (document order,
// duplicate keys rejected, every error positioned) and from an already parsed
// value (members in ascending byte order of keys, no positions). Either reads
// the classic dialect (exactly the classic fields) or the extended one (every
// extension member too); both report errors in the same forms.
#include <string_view>

#include "base/result.hpp"
#include "json/value.hpp"
#include "spec/error.hpp"
#include "spec/messages.hpp"
#include "spec/model.hpp"

namespace synth::spec {

Result<GenSpec, SynthError> parse_spec(std::string_view text, Dialect dialect = Dialect::classic);
Result<GenSpec, SynthError> spec_from_value(const json::JsonValue& value,
                                            Dialect dialect = Dialect::classic);

}  // namespace synth::spec
