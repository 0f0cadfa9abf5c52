#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace zel::detail {

template <class Signature>
class FunctionRef;

/// Non-owning reference to a callable: one pointer to the callable and one to a trampoline.
/// Lets per-chunk bodies cross into compiled code without a template or a heap allocation.
/// The referenced callable must outlive every call.
/// A callable other than a FunctionRef itself that can be called as R(Args...).
template <class F, class Self, class R, class... Args>
concept ReferableAs =
    !std::is_same_v<std::remove_cvref_t<F>, Self> && std::is_invocable_r_v<R, F&, Args...>;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
  public:
    template <ReferableAs<FunctionRef, R, Args...> F>
    FunctionRef(F&& callable) noexcept  // NOLINT(google-explicit-constructor)
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          call_([](void* object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(object))(
                  std::forward<Args>(args)...);
          }) {
    }

    R operator()(Args... args) const {
        return call_(object_, std::forward<Args>(args)...);
    }

  private:
    void* object_;
    R (*call_)(void*, Args...);
};

}  // namespace zel::detail
