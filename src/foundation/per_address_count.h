// PerAddressCount: how many connections each client address holds on one
// listener, and the cap on that number. The listener takes a slot for every
// accepted connection and hands it to the session; the session gives it
// back as its conversation ends. Both sides work under one lock, so the
// count stays exact while connections come and go at once.
#pragma once

#include "foundation/critical_lock.h"

#include <cstdint>
#include <unordered_map>

namespace vantrel {

class PerAddressCount;

// One connection's place in the count; gives it back when released or
// destroyed. Empty when the address was at its cap.
class AddressSlot final {
public:
    AddressSlot() = default;
    AddressSlot(AddressSlot&& other) noexcept;
    AddressSlot& operator=(AddressSlot&& other) noexcept;
    AddressSlot(const AddressSlot&) = delete;
    AddressSlot& operator=(const AddressSlot&) = delete;
    ~AddressSlot() { release(); }

    bool held() const { return count_ != nullptr; }
    void release();

private:
    friend class PerAddressCount;
    AddressSlot(PerAddressCount* count, std::uint32_t address) : count_(count), address_(address) {}

    PerAddressCount* count_ = nullptr;
    std::uint32_t address_ = 0;
};

class PerAddressCount final {
public:
    // 0: no cap. A lower cap leaves the connections already held alone.
    void setCap(int cap);
    int cap() const;
    // A slot for the address (IPv4, network order), or an empty one when
    // the address holds `cap` connections already. Connections are counted
    // without a cap too, so that a cap set later counts them.
    [[nodiscard]] AddressSlot take(std::uint32_t address);
    int countOf(std::uint32_t address) const;

private:
    friend class AddressSlot;
    void giveBack(std::uint32_t address);

    mutable CriticalLock lock_;
    // Only addresses that hold a connection have an entry, so the table
    // never holds more entries than the listener has sessions.
    std::unordered_map<std::uint32_t, int> counts_ VT_GUARDED_BY(lock_);
    int cap_ VT_GUARDED_BY(lock_) = 0;
};

} // namespace vantrel
