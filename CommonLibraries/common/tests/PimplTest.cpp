#include <kw/Pimpl.h>

#include <gtest/gtest.h>

namespace {
struct CounterImpl {
    static int alive;
    int value = 0;
    CounterImpl() { ++alive; }
    ~CounterImpl() { --alive; }
};
int CounterImpl::alive = 0;

template <class Policy>
class Counter : private kw::pimpl::PimplBase<CounterImpl, typename Policy::template Allocator<CounterImpl>,
                                              typename Policy::template Deleter<CounterImpl>> {
public:
    explicit Counter(bool make) { if (make) this->install(); }
    bool empty() const { return !this->holder(); }
    int& value() { return this->holder()->value; }
};

template <class Policy>
void CheckSharingAndRelease()
{
    {
        Counter<Policy> empty(false);
        EXPECT_TRUE(empty.empty());
        Counter<Policy> a(true);
        Counter<Policy> b(a);
        b.value() = 7;
        EXPECT_EQ(7, a.value());
        Counter<Policy> c(true);
        c = a;
        EXPECT_EQ(7, c.value());
        EXPECT_EQ(1, CounterImpl::alive);
    }
    EXPECT_EQ(0, CounterImpl::alive);
}
} // namespace

TEST(PimplBase, CopiesShareOneImplementationUnderBothPolicies)
{
    CheckSharingAndRelease<kw::pimpl::DefaultAction>();
    CheckSharingAndRelease<kw::pimpl::NoAction>();
}
