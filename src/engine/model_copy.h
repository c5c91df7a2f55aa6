// Moving a model from one store to another (spam_model.h): every token's
// counts, every learned message and the totals, checked by reading the copy
// back. Meant for a migration: while the copy is written, a reader of the
// target may find it empty.
#pragma once

#include "engine/spam_model.h"

namespace varnolt::engine {

// Replaces what to holds by what from holds, and returns that. Throws the
// stores' ComError, or kErrorCorruptDatabase when the copy reads back otherwise.
ModelContents CopyModel(SpamModel& from, SpamModel& to);

}  // namespace varnolt::engine
