#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ExpCollation.h"
#include "ExpToken.h"

namespace pixhold::engine {

// The filter options that shape preparation.
struct TFilterPrepareOptions {
    bool caseInsensitive = false;
    // "*" at the end of a compared text is an ordinary character.
    bool noPartialCompare = false;
};

// Builds the prepared copy of a checked, normalised tree: constants compared
// with a column are evaluated once and take the column's type; comparisons of
// UPPER or LOWER on both sides are marked case-insensitive; = and <> between
// a string column and a string constant become prepared string comparisons
// (case option, trailing "*" partial matches); LIKE 'abc%' becomes a prepared
// partial comparison.
std::unique_ptr<TExpToken> PrepareFilterExpression(const TExpToken& tree, const TFilterPrepareOptions& options,
                                                   const TExpCollation& collation, const std::string& table);

// A condition of a prepared tree that tests one field against constants only,
// as an index on that field could answer it.
struct TIndexableCondition {
    std::uint16_t fieldNumber = 0;
    // Eq, Ne, Lt, Le, Gt, Ge (one constant; partialLength applies to Eq and Ne),
    // Between, NotBetween (low, high), In, NotIn (the list), Like, NotLike
    // (the pattern).
    ExpOp op = ExpOp::None;
    std::vector<TExpValue> constants;
    bool caseInsensitive = false;
    // Characters of the field compared (0 = the whole value).
    std::uint32_t partialLength = 0;
};

// The condition the node states, when it is such a test; nullopt otherwise
// (AND, OR and NOT are left to the caller to combine).
std::optional<TIndexableCondition> IndexableConditionOf(const TExpToken& node);

}  // namespace pixhold::engine
