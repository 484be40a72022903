// Not built: a test of clang builds compiles this file with the project's
// warning flags and expects the lock analysis to refuse the unlocked write
// below. Should the analysis ever be off, that test fails.
#include "foundation/critical_lock.h"

namespace {

class Counter final {
public:
    void addWithoutLock() { ++count_; }
    void add()
    {
        const vantrel::LockGuard guard(lock_);
        ++count_;
    }

private:
    vantrel::CriticalLock lock_;
    int count_ VT_GUARDED_BY(lock_) = 0;
};

} // namespace

int main()
{
    Counter counter;
    counter.add();
    counter.addWithoutLock();
}
