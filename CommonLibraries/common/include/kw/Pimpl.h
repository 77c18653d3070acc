// The implementation holder of the exported handle classes: one shared
// pointer to the implementation; copies of a handle share it.
#pragma once

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <utility>

namespace kw {
namespace pimpl {

// Allocation with plain new and delete: the deleter is made where the
// implementation is installed, so the library that made an object frees it.
struct DefaultAction {
    template <class T>
    struct Allocator {
        template <class... Args>
        static T* Create(Args&&... args) { return new T(std::forward<Args>(args)...); }
    };
    template <class T>
    struct Deleter {
        void operator()(T* p) const { delete p; }
    };
};

// The same behaviour without a policy of its own: it reuses the defaults.
struct NoAction {
    template <class T>
    struct Allocator : DefaultAction::Allocator<T> {};
    template <class T>
    struct Deleter : DefaultAction::Deleter<T> {};
};

template <class Impl, class Alloc = DefaultAction::Allocator<Impl>, class Del = DefaultAction::Deleter<Impl>>
class PimplBase {
public:
    PimplBase() = default;
    // Takes ownership of an implementation made by the caller.
    explicit PimplBase(Impl* impl) : impl_(impl, Del()) {}
    PimplBase(const PimplBase&) = default;
    PimplBase& operator=(const PimplBase&) = default;

protected:
    ~PimplBase() = default;

    template <class... Args>
    void install(Args&&... args) { impl_.reset(Alloc::Create(std::forward<Args>(args)...), Del()); }

    boost::shared_ptr<Impl>& holder() { return impl_; }
    const boost::shared_ptr<Impl>& holder() const { return impl_; }

private:
    boost::shared_ptr<Impl> impl_;
};

} // namespace pimpl
} // namespace kw
