#pragma once

#include "ByteSpan.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pixhold::fuzz {

// What one input did: a line per call the target made, "ok ..." or the
// message of the error it raised. New outcomes keep their input in the pool.
// A decoder that reported success with a result that cannot be right (a null
// picture, a pixel array of the wrong size): a finding, like a crash. Not a
// std::exception, so that no target mistakes it for an expected error.
struct TBrokenResult {
    explicit TBrokenResult(std::string what) : What(std::move(what)) {}
    std::string What;
};

struct TOutcome {
    std::string Signature;
    int Accepted = 0;          // calls that decoded
    int Rejected = 0;          // calls that raised EInvalidGraphic
    int OtherErrors = 0;       // calls that raised another std::exception
    std::vector<std::string> OtherMessages;
};

struct TTarget {
    const char* Name;
    std::vector<std::string> Extensions;  // of fixture files, lower case, with the dot
    TOutcome (*Run)(imaging::TBytes data);
    // Mends what a mutation broke that the format checks before anything
    // else (PNG chunk checksums), or null.
    void (*Mend)(std::vector<std::uint8_t>& data) = nullptr;
};

const std::vector<TTarget>& Targets();
const TTarget* FindTarget(const std::string& name);

}  // namespace pixhold::fuzz
