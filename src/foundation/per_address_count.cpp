// The per-address connection count and its slots.
#include "foundation/per_address_count.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace vantrel {

AddressSlot::AddressSlot(AddressSlot&& other) noexcept
    : count_(std::exchange(other.count_, nullptr)), address_(other.address_)
{
}

AddressSlot& AddressSlot::operator=(AddressSlot&& other) noexcept
{
    if (this != &other) {
        release();
        count_ = std::exchange(other.count_, nullptr);
        address_ = other.address_;
    }
    return *this;
}

void AddressSlot::release()
{
    if (count_ != nullptr)
        std::exchange(count_, nullptr)->giveBack(address_);
}

void PerAddressCount::setCap(int cap)
{
    LockGuard guard(lock_);
    cap_ = std::max(cap, 0);
}

int PerAddressCount::cap() const
{
    LockGuard guard(lock_);
    return cap_;
}

AddressSlot PerAddressCount::take(std::uint32_t address)
{
    LockGuard guard(lock_);
    int& count = counts_[address];
    if (cap_ > 0 && count >= cap_)
        return {};
    ++count;
    return AddressSlot(this, address);
}

int PerAddressCount::countOf(std::uint32_t address) const
{
    LockGuard guard(lock_);
    const auto found = counts_.find(address);
    return found == counts_.end() ? 0 : found->second;
}

void PerAddressCount::giveBack(std::uint32_t address)
{
    LockGuard guard(lock_);
    const auto found = counts_.find(address);
    assert(found != counts_.end() && found->second > 0);
    if (found == counts_.end())
        return;
    if (--found->second <= 0)
        counts_.erase(found);
}

} // namespace vantrel
