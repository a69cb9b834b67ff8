#pragma once

#include <exception>

namespace pixhold::engine {

// Runs every step and passes on the first failure once all have run, so that
// a failing step never keeps the later ones (closes, unlocks, rollbacks) from
// running.
class TFirstFailure {
public:
    template <typename F>
    void Run(F&& step) {
        try {
            step();
        } catch (...) {
            if (!failure_) failure_ = std::current_exception();
        }
    }
    bool Failed() const { return static_cast<bool>(failure_); }
    void Rethrow() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    std::exception_ptr failure_;
};

}  // namespace pixhold::engine
