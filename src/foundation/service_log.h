// ServiceLog: one protocol's plain-text log file with its lock, and
// NumberedLog, which moves on to the next numbered file once the current
// one has reached 51200 bytes.
#pragma once

#include "foundation/critical_lock.h"
#include "foundation/file_handle.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

class ServiceLog final {
public:
    static constexpr std::size_t MaxPathLength = 256;

    void setPath(std::string_view path);
    std::string path() const;
    // Creates the file when missing; 0 when it cannot be opened.
    std::uint64_t size();
    // Date, " -> ", text, CR LF; a CR or LF inside the text is written as a blank.
    bool appendLine(std::string_view text);
    bool writeHeaderIfEmpty(std::string_view header);

private:
    // Opens the file for writing, or keeps the one open while the path
    // still names it; writing at its end.
    bool holdFile() VT_REQUIRES(lock_);

    mutable CriticalLock lock_;
    std::string path_ VT_GUARDED_BY(lock_);
    FileHandle held_ VT_GUARDED_BY(lock_);
    std::string heldPath_ VT_GUARDED_BY(lock_); // on-disk path of held_
    std::uint64_t heldDevice_ VT_GUARDED_BY(lock_) = 0;
    std::uint64_t heldInode_ VT_GUARDED_BY(lock_) = 0;
};

class NumberedLog final {
public:
    static constexpr std::uint64_t FileLimit = 51200;

    // prefix such as "logs\\ftplog_"; header such as
    // "Vantrel Server 2.33: FTP log file\r\n". Points at number 0.
    NumberedLog(std::string_view prefix, std::string_view header);

    // Points the log at prefix + number + ".txt" and rolls over at once.
    void openNumber(std::int32_t number);
    // Moves past every full file, then gives an empty file its header.
    void rollOver();
    std::int32_t number() const { return number_; }
    bool appendLine(std::string_view text) { return log_.appendLine(text); }
    ServiceLog& log() { return log_; }

private:
    void pointAt(std::int32_t number);

    std::string prefix_;
    std::string header_;
    std::int32_t number_ = 0; // touched by the user-interface thread only
    ServiceLog log_;
};

} // namespace vantrel
