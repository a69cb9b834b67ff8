#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace pixhold::engine {

// A reference to a callable, for parameters that are called before the call
// they are passed to returns (a cursor operation's body): nothing is copied
// or allocated, where a std::function would allocate for a lambda that
// captures more than a pointer or two. Never keep one beyond that call.
template <typename Signature>
class TFunctionRef;

template <typename R, typename... Args>
class TFunctionRef<R(Args...)> {
public:
    template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TFunctionRef> &&
                                                      std::is_invocable_r_v<R, F&, Args...>>>
    TFunctionRef(F&& callable) noexcept  // converts implicitly, as std::function does
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

private:
    void* object_;
    R (*call_)(void*, Args...);
};

}  // namespace pixhold::engine
