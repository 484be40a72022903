// The commands of vantrel-settings: a table of command words, each with its
// operand count, whether it changes the file, and a small handler working on
// the loaded store. Loading distinguishes a missing file (which the changing
// commands may create) from a damaged one (which nothing touches).
#include "tools/settings_tool.h"

#include "foundation/file_system.h"
#include "foundation/instance_lock.h"
#include "foundation/product.h"
#include "foundation/server_instance.h"
#include "foundation/settings_store.h"
#include "tools/task_tool.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <ostream>
#include <vector>

namespace vantrel {
namespace {

constexpr char UsageText[] = "Usage: vantrel-settings [--data-dir DIR] TASK-COMMAND...\n"
                             "       vantrel-settings FILE [COMMAND [OPERAND]...]...\n"
                             "The first form changes accounts, sites and switches of a data folder (below);\n"
                             "the second prints or edits the records of one settings file (.dat).\n"
                             "\n"
                             "Record commands:\n"
                             "  print                list every record: position, name, kind, value (default)\n"
                             "  get KEY              print the value of the first record named KEY\n"
                             "  set-int KEY NUMBER   store a 32-bit integer under KEY\n"
                             "  set-text KEY TEXT    store a text (with its terminating zero) under KEY\n"
                             "  set-raw KEY TEXT     store a text without a terminating zero under KEY\n"
                             "                       (the form of the folders in httpdomains.dat)\n"
                             "  set-text-fixed KEY SIZE TEXT\n"
                             "                       store a text with its terminating zero, filled with zero\n"
                             "                       bytes to exactly SIZE bytes (\"address\" and \"password\"\n"
                             "                       of a mail account's email/USER_s.dat take SIZE 101)\n"
                             "  append-int NUMBER    append an unnamed list entry (\"NONE\") holding an integer\n"
                             "  append-text TEXT     append an unnamed list entry holding a text\n"
                             "  remove KEY           remove the first record named KEY\n"
                             "  remove-at POSITION   remove the record at POSITION (as shown by print)\n"
                             "  create               make an empty settings file unless FILE exists\n"
                             "\n"
                             "Several commands may follow one another; they apply in order and FILE is\n"
                             "written once, only when every one of them succeeded.\n"
                             "set-* replace the first record of that name in place or append a new one.\n"
                             "set-*, append-* and create make FILE when it does not exist. A FILE that\n"
                             "cannot be parsed is never changed. A FILE named like a task command\n"
                             "(\"autostart\", \"--data-dir\", ...) is given as ./FILE.\n"
                             "The running server rewrites its settings files every minute: edit them\n"
                             "while it is stopped.\n";

constexpr std::uint64_t HeaderSize = 8;
// Fixed-size values are small records (the mail account's are 101 bytes).
constexpr std::int32_t MaxFixedSize = 65536;
constexpr std::uint64_t RecordHeadSize = SettingsStore::NameFieldSize + 4;

enum class LoadState {
    Missing,
    Loaded,
    Damaged
};

// A store whose records account for every byte of the file; anything else
// (short, wrong version, trailing bytes, unreadable) counts as damaged.
LoadState loadStrictly(const std::string& path, SettingsStore& store)
{
    if (!pathExists(path))
        return LoadState::Missing;
    std::uint64_t size = 0;
    if (!fileSize(path, size) || !store.load(path))
        return LoadState::Damaged;
    // No value can be longer than the file that holds it.
    std::vector<unsigned char> scratch(static_cast<std::size_t>(size));
    std::uint64_t expected = HeaderSize;
    for (int i = 0; i < store.count(); ++i)
        expected += RecordHeadSize + store.dataAt(i, scratch.data(), scratch.size());
    return expected == size ? LoadState::Loaded : LoadState::Damaged;
}

bool isPrintableAscii(unsigned char c)
{
    return c >= 0x20 && c < 0x7f;
}

// Characters a settings text plausibly holds: code-page text and line breaks.
bool isTextByte(unsigned char c)
{
    return isPrintableAscii(c) || c >= 0x80 || c == '\t' || c == '\r' || c == '\n';
}

std::int32_t readInt(std::span<const unsigned char> value)
{
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(value[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

std::string quoted(std::span<const unsigned char> bytes)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
        case '"':
            text += "\\\"";
            break;
        case '\\':
            text += "\\\\";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\r':
            text += "\\r";
            break;
        case '\n':
            text += "\\n";
            break;
        default:
            if (isPrintableAscii(c)) {
                text += static_cast<char>(c);
            } else {
                text += "\\x";
                text += Hex[c >> 4];
                text += Hex[c & 0xf];
            }
        }
    }
    return text + "\"";
}

std::string hexBytes(std::span<const unsigned char> bytes)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        if (!text.empty())
            text += ' ';
        text += Hex[c >> 4];
        text += Hex[c & 0xf];
    }
    return text;
}

// Names cannot be quoted (they hold no zero and rarely anything odd), but a
// tab or a control character in one must not break the columns.
std::string escapedName(std::string_view name)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
    std::string text = quoted({bytes, name.size()});
    return text.substr(1, text.size() - 2);
}

std::string_view asChars(std::span<const unsigned char> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The value as "print" shows it.
std::string shownValue(ValueKind kind, std::span<const unsigned char> value)
{
    switch (kind) {
    case ValueKind::Empty:
        return "";
    case ValueKind::Integer:
        return std::to_string(readInt(value));
    case ValueKind::Text:
        return quoted(value.first(value.size() - 1));
    case ValueKind::Raw:
        return quoted(value);
    case ValueKind::Bytes:
        return hexBytes(value);
    }
    return "";
}

// The value as "get" hands it to a script: texts unquoted.
std::string plainValue(ValueKind kind, std::span<const unsigned char> value)
{
    switch (kind) {
    case ValueKind::Text:
        return std::string(asChars(value.first(value.size() - 1)));
    case ValueKind::Raw:
        return std::string(asChars(value));
    default:
        return shownValue(kind, value);
    }
}

struct Invocation {
    SettingsStore& store;
    std::span<const std::string> operands;
    std::ostream& out;
    std::ostream& err;
    bool changed = false;
};

bool checkedName(Invocation& call, const std::string& name)
{
    if (name.empty() || name.size() > SettingsStore::MaxNameLength || name.find('\0') != std::string::npos) {
        call.err << "vantrel-settings: a key has 1 to " << SettingsStore::MaxNameLength << " characters\n";
        return false;
    }
    return true;
}

bool parsedInt(Invocation& call, const std::string& text, std::int32_t& value)
{
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        call.err << "vantrel-settings: not a 32-bit integer: " << text << "\n";
        return false;
    }
    return true;
}

bool checkedLength(Invocation& call, const std::string& text)
{
    if (text.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        call.err << "vantrel-settings: the value is too long\n";
        return false;
    }
    return true;
}

std::span<const unsigned char> valueAt(const SettingsStore& store, int position, std::vector<unsigned char>& buffer)
{
    // Grow until the value fits: dataAt fills at most the capacity given.
    for (;;) {
        std::size_t length = store.dataAt(position, buffer.data(), buffer.size());
        if (length < buffer.size())
            return {buffer.data(), length};
        buffer.resize(buffer.size() * 2 + 64);
    }
}

int findName(const SettingsStore& store, std::string_view name)
{
    for (int i = 0; i < store.count(); ++i)
        if (store.nameAt(i) == name)
            return i;
    return -1;
}

bool printRecords(Invocation& call)
{
    std::vector<unsigned char> buffer(512);
    for (int i = 0; i < call.store.count(); ++i) {
        auto value = valueAt(call.store, i, buffer);
        ValueKind kind = guessValueKind(value);
        call.out << i << '\t' << escapedName(call.store.nameAt(i)) << '\t' << valueKindName(kind) << '\t'
                 << shownValue(kind, value) << '\n';
    }
    return true;
}

bool getValue(Invocation& call)
{
    const std::string& name = call.operands[0];
    int position = findName(call.store, name);
    if (position < 0) {
        call.err << "vantrel-settings: no record named " << escapedName(name) << "\n";
        return false;
    }
    std::vector<unsigned char> buffer(512);
    auto value = valueAt(call.store, position, buffer);
    call.out << plainValue(guessValueKind(value), value) << '\n';
    return true;
}

bool setInt(Invocation& call)
{
    std::int32_t value = 0;
    if (!checkedName(call, call.operands[0]) || !parsedInt(call, call.operands[1], value))
        return false;
    call.store.setInt(call.operands[0], value);
    return call.changed = true;
}

bool setText(Invocation& call)
{
    if (!checkedName(call, call.operands[0]) || !checkedLength(call, call.operands[1]))
        return false;
    call.store.setText(call.operands[0], call.operands[1]);
    return call.changed = true;
}

bool setRaw(Invocation& call)
{
    const std::string& text = call.operands[1];
    if (!checkedName(call, call.operands[0]) || !checkedLength(call, text))
        return false;
    call.store.setData(call.operands[0], text.data(), static_cast<std::int32_t>(text.size()));
    return call.changed = true;
}

bool setTextFixed(Invocation& call)
{
    const std::string& text = call.operands[2];
    std::int32_t size = 0;
    if (!checkedName(call, call.operands[0]) || !parsedInt(call, call.operands[1], size))
        return false;
    if (size > MaxFixedSize) {
        call.err << "vantrel-settings: a fixed size is at most " << MaxFixedSize << " bytes\n";
        return false;
    }
    if (size < 1 || text.size() >= static_cast<std::size_t>(size)) {
        call.err << "vantrel-settings: the text and its terminating zero do not fit in " << call.operands[1]
                 << " bytes\n";
        return false;
    }
    std::string value = text;
    value.resize(static_cast<std::size_t>(size), '\0');
    call.store.setData(call.operands[0], value.data(), size);
    return call.changed = true;
}

bool appendInt(Invocation& call)
{
    std::int32_t value = 0;
    if (!parsedInt(call, call.operands[0], value))
        return false;
    std::array<unsigned char, 4> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(static_cast<std::uint32_t>(value) >> (8 * i));
    call.store.appendUnnamed(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    return call.changed = true;
}

bool appendText(Invocation& call)
{
    const std::string& text = call.operands[0];
    if (!checkedLength(call, text))
        return false;
    // c_str() carries the terminating zero that texts are stored with.
    call.store.appendUnnamed(text.c_str(), static_cast<std::int32_t>(text.size() + 1));
    return call.changed = true;
}

bool removeKey(Invocation& call)
{
    if (!call.store.removeKey(call.operands[0])) {
        call.err << "vantrel-settings: no record named " << escapedName(call.operands[0]) << "\n";
        return false;
    }
    return call.changed = true;
}

bool removeAt(Invocation& call)
{
    std::int32_t position = 0;
    if (!parsedInt(call, call.operands[0], position))
        return false;
    if (position < 0 || position >= call.store.count()) {
        call.err << "vantrel-settings: no record at position " << position << "\n";
        return false;
    }
    (void)call.store.removeAt(position);
    return call.changed = true;
}

bool create(Invocation&)
{
    return true;
}

enum class Effect {
    ReadOnly,
    Changes
};

struct Command {
    std::string_view word;
    std::size_t operands;
    Effect effect;
    bool (*handler)(Invocation&);
};

constexpr Command Commands[] = {
    {"print", 0, Effect::ReadOnly, printRecords},  {"get", 1, Effect::ReadOnly, getValue},
    {"set-int", 2, Effect::Changes, setInt},       {"set-text", 2, Effect::Changes, setText},
    {"set-raw", 2, Effect::Changes, setRaw},       {"set-text-fixed", 3, Effect::Changes, setTextFixed},
    {"append-int", 1, Effect::Changes, appendInt}, {"append-text", 1, Effect::Changes, appendText},
    {"remove", 1, Effect::Changes, removeKey},     {"remove-at", 1, Effect::Changes, removeAt},
    {"create", 0, Effect::Changes, create},
};

const Command* findCommand(std::string_view word)
{
    for (const Command& command : Commands)
        if (command.word == word)
            return &command;
    return nullptr;
}

} // namespace

ValueKind guessValueKind(std::span<const unsigned char> value)
{
    if (value.empty())
        return ValueKind::Empty;
    auto body = value.first(value.size() - 1);
    bool zeroEnded = value.back() == 0;
    if (value.size() == 4) {
        // Four printable characters are far likelier a short folder than a
        // number above 538976287; otherwise four bytes are an integer unless
        // they are three printable characters and a zero.
        bool printable = true;
        for (unsigned char c : body)
            printable = printable && isPrintableAscii(c);
        if (printable && isPrintableAscii(value.back()))
            return ValueKind::Raw;
        return printable && zeroEnded ? ValueKind::Text : ValueKind::Integer;
    }
    bool texty = true;
    for (unsigned char c : body)
        texty = texty && isTextByte(c);
    if (texty && zeroEnded)
        return ValueKind::Text;
    if (texty && isTextByte(value.back()))
        return ValueKind::Raw;
    return ValueKind::Bytes;
}

std::string_view valueKindName(ValueKind kind)
{
    switch (kind) {
    case ValueKind::Empty:
        return "empty";
    case ValueKind::Integer:
        return "int";
    case ValueKind::Text:
        return "text";
    case ValueKind::Raw:
        return "raw";
    case ValueKind::Bytes:
        return "bytes";
    }
    return "bytes";
}

int SettingsTool::run(std::span<const std::string> args)
{
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        out_ << UsageText << '\n' << TaskTool::UsageText;
        return 0;
    }
    if (!args.empty() && TaskTool::startsTask(args[0]))
        return TaskTool(out_, err_).run(args);
    // FILE, then commands each followed by its operands; FILE alone prints.
    struct Step {
        const Command* command;
        std::span<const std::string> operands;
    };
    std::vector<Step> steps;
    if (args.size() == 1)
        steps.push_back({findCommand("print"), {}});
    for (std::size_t at = 1; at < args.size();) {
        const Command* command = findCommand(args[at]);
        if (!command || args.size() - at - 1 < command->operands) {
            err_ << UsageText;
            return 2;
        }
        steps.push_back({command, args.subspan(at + 1, command->operands)});
        at += 1 + command->operands;
    }
    if (steps.empty()) {
        err_ << UsageText;
        return 2;
    }
    const bool changes = std::any_of(steps.begin(), steps.end(),
                                     [](const Step& step) { return step.command->effect == Effect::Changes; });

    // The running server rewrites its files from memory: a change made
    // beside it would be lost, so a changing command holds its lock.
    InstanceLock lock;
    if (changes && !lock.acquire(ServerInstanceName) && lock.failure() == InstanceLockFailure::HeldElsewhere) {
        err_ << "vantrel-settings: " << ProductName << " is running on this machine (it holds " << lock.lockFile()
             << "); stop it first, since it would overwrite the change, or use a task command\n";
        return 1;
    }

    const std::string& path = args[0];
    SettingsStore store;
    LoadState state = loadStrictly(path, store);
    if (state == LoadState::Damaged) {
        err_ << "vantrel-settings: " << path << " is not a readable settings file; it was left untouched\n";
        return 1;
    }
    if (state == LoadState::Missing && !changes) {
        err_ << "vantrel-settings: " << path << " does not exist\n";
        return 1;
    }

    // A missing file is written even by a command that adds nothing (create).
    bool changed = state == LoadState::Missing;
    for (const Step& step : steps) {
        Invocation call{store, step.operands, out_, err_};
        if (!step.command->handler(call))
            return 1; // nothing is written unless every command succeeded
        changed = changed || call.changed;
    }
    if (changed && !store.save(path)) {
        err_ << "vantrel-settings: could not write " << path << "\n";
        return 1;
    }
    return 0;
}

} // namespace vantrel
