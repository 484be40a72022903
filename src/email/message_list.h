// MessageList: the listed messages of one mailbox, kept so that handing a
// snapshot to a transaction costs the same for ten messages as for ten
// thousand. Entries live in segments that never move; the list only ever
// writes past the end of every snapshot it has handed out, so snapshots are
// read by their own threads without a lock.
#pragma once

#include "foundation/file_system.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vantrel {

struct MessageEntry {
    static constexpr std::size_t MaxPath = vantrel::MaxPath;
    static constexpr std::size_t MaxId = 99;

    std::string path; // the message file, relative to the working directory
    std::string id;   // the message id (no terminating zero here)
    std::uint64_t size = 0;
};

class MessageList final {
    // Segment k holds FirstSegment << k entries, so 40 segments hold more
    // entries than memory ever could.
    static constexpr std::size_t FirstSegment = 8;
    static constexpr std::size_t SegmentCount = 40;
    // Never changed once a snapshot may see it; a new segment gets a new table.
    using SegmentTable = std::array<std::shared_ptr<MessageEntry[]>, SegmentCount>;

public:
    // A read-only run of the first size() entries as they were when taken.
    class Snapshot final {
    public:
        Snapshot() = default;
        std::size_t size() const { return size_; }
        const MessageEntry& operator[](std::size_t i) const;

    private:
        friend class MessageList;
        std::shared_ptr<const SegmentTable> table_;
        std::size_t size_ = 0;
    };

    // Only the list's owner appends, and only while it holds whatever lock
    // also guards snapshot().
    void append(MessageEntry entry);
    // Starts an empty list; snapshots taken before keep their entries.
    void clear();
    std::size_t size() const { return size_; }
    Snapshot snapshot() const;

    // Where entry i lives: segment and position inside it.
    static std::size_t segmentOf(std::size_t i);
    static std::size_t offsetIn(std::size_t segment, std::size_t i);

private:
    std::shared_ptr<const SegmentTable> table_;
    std::size_t size_ = 0;
};

} // namespace vantrel
