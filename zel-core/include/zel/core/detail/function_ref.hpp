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
template <class R, class... Args>
class FunctionRef<R(Args...)> {
  public:
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
             std::is_invocable_r_v<R, F&, Args...>) FunctionRef(F&& callable)
    noexcept  // NOLINT(google-explicit-constructor)
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
