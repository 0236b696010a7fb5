// Ranks of a text field's values for bulk index builds: every distinct text gets its
// collation sort key once, and a record's value becomes the rank of its key, so that the
// sort compares small integers instead of calling the collator per comparison.
#pragma once

#include <cstdint>
#include <vector>

namespace zelvo {

class Collation;
class RecordStore;

// For every slot 1 .. highest of `store` (live or not), the rank of field `field_index`'s
// text under `collation`: equal ranks for texts the collation finds equal, larger ranks
// for later texts. Nulls and dead slots get rank 0; they are never compared by rank.
std::vector<std::uint32_t> RankTexts(const RecordStore& store, std::uint32_t field_index,
                                     const Collation& collation);

}  // namespace zelvo
