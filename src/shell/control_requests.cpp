// The three kinds of control request and the status texts.
#include "shell/control_requests.h"

#include "foundation/file_system.h"
#include "foundation/product.h"
#include "foundation/text.h"
#include "tools/task_context.h"

#include <unistd.h>

#include <cstdio>
#include <sstream>

namespace vantrel {

namespace {

struct KindName {
    ServiceKind kind;
    const char* word;  // on the command line and in JSON
    const char* title; // in the status text
};

constexpr KindName KindNames[] = {
    {ServiceKind::Http, "http", "HTTP"},
    {ServiceKind::Email, "email", "Email"},
    {ServiceKind::Ftp, "ftp", "FTP"},
};

constexpr char TextStatusHead[] = "%s, process %ld, up %s\nData folder: %s\n";
constexpr char TextUnknownRequest[] = "vantrel-settings: the server does not know this request\n";

std::string uptimeText(long long seconds)
{
    char text[64];
    const long long days = seconds / 86400;
    const int hours = static_cast<int>(seconds / 3600 % 24);
    const int minutes = static_cast<int>(seconds / 60 % 60);
    const int rest = static_cast<int>(seconds % 60);
    if (days > 0)
        std::snprintf(text, sizeof text, "%lld d %02d:%02d:%02d", days, hours, minutes, rest);
    else
        std::snprintf(text, sizeof text, "%02d:%02d:%02d", hours, minutes, rest);
    return text;
}

// A JSON string: quotes, backslashes and control bytes escaped; other
// bytes as they are (file names are bytes, not text).
std::string jsonString(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

} // namespace

ControlRequests::ControlRequests(ServicePointers services, LiveServices live, SwitchService switchService)
    : services_(services), live_(live), switchService_(std::move(switchService)),
      started_(std::chrono::steady_clock::now())
{
}

ControlReply ControlRequests::answer(std::span<const std::string> words)
{
    ControlReply reply;
    if (words.empty()) {
        reply.err = TextUnknownRequest;
        reply.code = 2;
        return reply;
    }
    if (words[0] == TaskRequest) {
        std::ostringstream out;
        std::ostringstream err;
        reply.code = TaskTool(out, err).runLive(words.subspan(1), live_);
        reply.out = out.str();
        reply.err = err.str();
        return reply;
    }
    if (words[0] == StatusRequest && words.size() == 2)
        return status(words[1] == "json");
    if (words[0] == ServiceRequest && words.size() == 3 && (words[2] == "start" || words[2] == "stop"))
        return switchService(words[1], words[2] == "start");
    reply.err = TextUnknownRequest;
    reply.code = 2;
    return reply;
}

ControlReply ControlRequests::status(bool json) const
{
    const long long uptime =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_).count();
    const std::string folder = currentDirectory();
    ControlReply reply;
    reply.code = 0;
    if (!json) {
        reply.out = formatText(sizeof TextStatusHead + folder.size() + 128, TextStatusHead, ProductName,
                               static_cast<long>(::getpid()), uptimeText(uptime).c_str(), folder.c_str());
        for (const KindName& name : KindNames)
            reply.out += std::string(name.title) + ": " + MainWindowLogic::statusText(services_.of(name.kind)) + '\n';
        return reply;
    }
    std::string text = "{\"running\":true,\"product\":" + jsonString(ProductName) +
                       ",\"pid\":" + std::to_string(::getpid()) + ",\"dataFolder\":" + jsonString(folder) +
                       ",\"uptimeSeconds\":" + std::to_string(uptime) + ",\"services\":{";
    const char* separator = "";
    for (const KindName& name : KindNames) {
        const ServiceControl* s = services_.of(name.kind);
        const bool active = s != nullptr && s->isActive();
        text += separator;
        text += jsonString(name.word) + ":{\"active\":" + (active ? "true" : "false") +
                ",\"connections\":" + std::to_string(active ? s->connectionCount() : 0) +
                ",\"bytesIn\":" + std::to_string(s != nullptr ? s->totalBytesIn() : 0) +
                ",\"bytesOut\":" + std::to_string(s != nullptr ? s->totalBytesOut() : 0) +
                ",\"status\":" + jsonString(MainWindowLogic::statusText(s)) + "}";
        separator = ",";
    }
    reply.out = text + "}}\n";
    return reply;
}

ControlReply ControlRequests::switchService(const std::string& word, bool on)
{
    ControlReply reply;
    for (const KindName& name : KindNames) {
        if (word != name.word)
            continue;
        std::ostringstream err;
        TaskPrompt prompt(err);
        const bool switched = switchService_(name.kind, on, prompt);
        reply.code = switched && !prompt.refused() ? 0 : 1;
        reply.err = err.str();
        reply.out = std::string(name.title) + ": " + MainWindowLogic::statusText(services_.of(name.kind)) + '\n';
        return reply;
    }
    reply.err = TextUnknownRequest;
    reply.code = 2;
    return reply;
}

} // namespace vantrel
