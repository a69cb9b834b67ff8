#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ExpToken.h"
#include "ExpressionLexer.h"

namespace pixhold::engine {

// The constructs a use of the parser allows. Filters allow the extended
// predicates only; aggregates, "*", parameters and sub-selects belong to the
// query processor and are always refused here with their own messages.
struct TParserSwitches {
    bool extendedPredicates = true;  // LIKE, BETWEEN, IN, IS NULL
};

// Recursive-descent parser of filter texts into a TExpToken tree. Nesting is
// bounded by kMaxExpressionDepth so hostile texts cannot exhaust the stack.
class TExpressionParser {
public:
    TExpressionParser(std::string_view text, std::string table, TParserSwitches switches = {});

    // The tree of one complete expression; text after it is not examined.
    std::unique_ptr<TExpToken> Parse();

private:
    class DepthGuard;

    std::unique_ptr<TExpToken> ParseExpression();
    std::unique_ptr<TExpToken> ParseAndTerm();
    std::unique_ptr<TExpToken> ParseNotTerm();
    std::unique_ptr<TExpToken> ParseComparison();
    std::unique_ptr<TExpToken> ParsePredicate(std::unique_ptr<TExpToken> value, std::size_t start);
    std::unique_ptr<TExpToken> ParseInList(std::unique_ptr<TExpToken> value, bool negated, std::size_t start);
    std::unique_ptr<TExpToken> ParseSum();
    std::unique_ptr<TExpToken> ParseProduct();
    std::unique_ptr<TExpToken> ParseSigned();
    std::unique_ptr<TExpToken> ParsePrimary();
    std::unique_ptr<TExpToken> ParseNumber(const TLexToken& token);
    std::unique_ptr<TExpToken> ParseCharConstant(const TLexToken& token);
    std::unique_ptr<TExpToken> ParseColumn(const TLexToken& first);
    std::unique_ptr<TExpToken> ParseCurrent(const TLexToken& token);
    std::unique_ptr<TExpToken> ParseFunction(ExpFunc func, const std::string& name, std::size_t start);
    void ParseCastType(TExpToken& node);

    // Consumes the expected keyword or raises "<what>, instead found '<token>' in ...".
    void ExpectKeyword(std::string_view keyword, const std::string& what);
    void ExpectSymbol(char symbol, const std::string& what);
    [[noreturn]] void FailFound(const std::string& what);
    [[noreturn]] void Fail(const std::string& text);
    [[noreturn]] void FailUnexpected();
    std::unique_ptr<TExpToken> Finish(std::unique_ptr<TExpToken> node, std::size_t start);
    std::string SourceFrom(std::size_t start) const;
    TLexToken Take();

    TExpressionLexer lexer_;
    TParserSwitches switches_;
    std::size_t lastEnd_ = 0;
    int depth_ = 0;
};

// Parses a filter text for the table (filters allow the extended predicates).
std::unique_ptr<TExpToken> ParseFilterExpression(std::string_view text, const std::string& table);

}  // namespace pixhold::engine
