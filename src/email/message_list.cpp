// MessageList: segment arithmetic, appending and snapshots.
#include "email/message_list.h"

#include <bit>
#include <cassert>

namespace vantrel {

std::size_t MessageList::segmentOf(std::size_t i)
{
    // Segments 0..k-1 hold FirstSegment * (2^k - 1) entries together.
    return static_cast<std::size_t>(std::bit_width(i / FirstSegment + 1)) - 1;
}

std::size_t MessageList::offsetIn(std::size_t segment, std::size_t i)
{
    return i - FirstSegment * ((std::size_t{1} << segment) - 1);
}

const MessageEntry& MessageList::Snapshot::operator[](std::size_t i) const
{
    assert(i < size_);
    const std::size_t segment = segmentOf(i);
    return (*table_)[segment][offsetIn(segment, i)];
}

void MessageList::append(MessageEntry entry)
{
    const std::size_t segment = segmentOf(size_);
    assert(segment < SegmentCount);
    if (!table_ || !(*table_)[segment]) {
        // A table that snapshots share is never changed: copy it (a few
        // dozen pointers) and add the new segment to the copy.
        auto table = table_ ? std::make_shared<SegmentTable>(*table_) : std::make_shared<SegmentTable>();
        (*table)[segment] = std::make_shared<MessageEntry[]>(FirstSegment << segment);
        table_ = std::move(table);
    }
    // Past the end of every snapshot: no reader looks at this slot yet.
    (*table_)[segment][offsetIn(segment, size_)] = std::move(entry);
    ++size_;
}

void MessageList::clear()
{
    table_.reset();
    size_ = 0;
}

MessageList::Snapshot MessageList::snapshot() const
{
    Snapshot snapshot;
    snapshot.table_ = table_;
    snapshot.size_ = size_;
    return snapshot;
}

} // namespace vantrel
