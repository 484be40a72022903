// Parsing a task command, the data folder, the instance lock, and one run
// of a service's load, handler and save. A settings file that exists but
// cannot be read whole stops the command before anything is written.
#include "tools/task_tool.h"

#include "email/email_service.h"
#include "email/mail_account.h"
#include "email/mail_directory.h"
#include "foundation/directory_scan.h"
#include "foundation/file_system.h"
#include "foundation/instance_lock.h"
#include "foundation/product.h"
#include "foundation/server_instance.h"
#include "foundation/settings_store.h"
#include "foundation/tls_certificate.h"
#include "foundation/tls_settings.h"
#include "ftp/ftp_account_table.h"
#include "ftp/ftp_service.h"
#include "http/http_service.h"
#include "tools/server_link.h"
#include "tools/task_context.h"

#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vantrel {

const char TaskTool::UsageText[] =
    "Task commands: vantrel-settings [--data-dir DIR] COMMAND...\n"
    "They work on the settings of the data folder DIR (default: the current\n"
    "folder) with the checks, corrections and warnings of the settings windows;\n"
    "while the server runs, it carries them out on its live settings.\n"
    "Relative folders and files are taken from the current folder and stored in full.\n"
    "\n"
    "  ftp-account list                 USER, FOLDER and RIGHTS of each account\n"
    "  ftp-account add USER [--password PW] [--folder DIR] [--rights LIST]\n"
    "  ftp-account set USER [--password PW] [--folder DIR] [--rights LIST]\n"
    "  ftp-account remove USER\n"
    "      LIST: comma-separated file-read, file-write, file-modify, folder-read,\n"
    "      folder-create, folder-modify, or none (add: file-read,folder-read)\n"
    "  ftp-site show\n"
    "  ftp-site set [--welcome TEXT] [--port N] [--per-address-cap N]\n"
    "               [--failed-login-limit N] [--tls off|on|require]\n"
    "               [--implicit-port N] [--tls-any-data on|off]\n"
    "      the greeting of every FTP connection; the port from the next activation on;\n"
    "      connections one client address may hold at once (0: no cap); failed logins\n"
    "      from one address within a minute before it is refused for a minute (0: never);\n"
    "      FTP over TLS (AUTH TLS offered, or required before USER), the implicit TLS\n"
    "      port (0: none), and data connections accepted without resuming the control\n"
    "      connection's TLS session; TLS settings from the next activation on\n"
    "  http-domain list                 DOMAIN and FOLDER of each domain map\n"
    "  http-domain add DOMAIN DIR       map DOMAIN to DIR (replaces its folder)\n"
    "  http-domain remove DOMAIN\n"
    "  http-site show\n"
    "  http-site set [--port N] [--default-folder DIR] [--default-page PAGE]\n"
    "                [--folder-view on|off] [--admin-password PW] [--per-address-cap N]\n"
    "                [--https-port N] [--https-redirect on|off] [--logs-require-tls on|off]\n"
    "      HTTPS on a second port from the next activation on (0: none); the plain port\n"
    "      redirecting to it; the log area refused over plain HTTP\n"
    "  mail-account list                USER, ADDRESS and mailbox use of each account\n"
    "  mail-account add USER --address ADDRESS --password PW\n"
    "  mail-account set USER [--address ADDRESS] [--password PW]\n"
    "  mail-account remove USER\n"
    "  mail-routing show\n"
    "  mail-routing set [--local-domain DOMAIN] [--relay-host HOST]\n"
    "                   [--relay-subnet SUBNET] [--catch-all USER] [--pop3-port N]\n"
    "                   [--max-email-size KB] [--max-account-size KB]\n"
    "                   [--banned-extensions LIST] [--smtp-per-address-cap N]\n"
    "                   [--pop3-per-address-cap N] [--pop3-failed-login-limit N]\n"
    "                   [--tls off|on|require] [--smtps-port N] [--pop3s-port N]\n"
    "                   [--relay-requires-tls on|off] [--relay-host-requires-tls on|off]\n"
    "      mail over TLS (STARTTLS and STLS offered, or required before a POP3 login),\n"
    "      the implicit TLS ports of SMTP and POP3 (0: none), and relaying only for\n"
    "      clients on TLS, and the relay client only over TLS with a verified\n"
    "      certificate; TLS settings from the next activation on\n"
    "  tls show                         the program's certificate: its file, its key's file\n"
    "                                   (or self-signed) and its SHA-256 fingerprint\n"
    "  tls set --cert FILE --key FILE   use this PEM certificate chain and PEM private key\n"
    "  tls set --self-signed            use a self-signed certificate made in the data folder\n"
    "      both are loaded at once and refused with the reason when they cannot be used\n"
    "  autostart ftp|http|email on|off  start the service with the program or not\n"
    "  service ftp|http|email start|stop\n"
    "                                   activate or de-activate a service of the running server\n"
    "  status [--json]                  the running server's services (exit 3: not running)\n"
    "\n"
    "Options take their value as the next word or after \"=\" (--port=8080).\n";

namespace {

constexpr std::string_view DataDirOption = "--data-dir";
constexpr std::string_view OptionPrefix = "--";
constexpr std::string_view StatusWord = "status";
constexpr std::string_view ServiceWord = "service";
constexpr std::string_view JsonOption = "--json";
constexpr int ExitNotRunning = 3;

// The files a service loads directly, and the folder its saves write into.
template <typename Service>
struct ServiceFiles;

template <>
struct ServiceFiles<FtpService> {
    static constexpr const char* Settings[] = {FtpService::SettingsFile, FtpAccountTable::ListFile,
                                               FtpService::PortFile, FtpService::GuardFile};
    static constexpr char Folder[] = "ftp";
};

template <>
struct ServiceFiles<HttpService> {
    static constexpr const char* Settings[] = {HttpService::SettingsFile, HttpService::DomainsFile,
                                               HttpService::GuardFile};
    static constexpr char Folder[] = "http";
};

template <>
struct ServiceFiles<EmailService> {
    static constexpr const char* Settings[] = {EmailService::SettingsFile, MailDirectory::AccountsFile,
                                               MailDirectory::MapperFile, MailDirectory::LimitsFile,
                                               EmailService::GuardFile};
    static constexpr char Folder[] = "email";
};

std::string_view optionName(std::string_view word)
{
    return word.substr(OptionPrefix.size());
}

bool allowsOption(std::string_view allowed, std::string_view name)
{
    while (!allowed.empty()) {
        const std::size_t space = allowed.find(' ');
        if (allowed.substr(0, space) == name)
            return true;
        allowed = space == std::string_view::npos ? std::string_view() : allowed.substr(space + 1);
    }
    return false;
}

// Operands and options after the command words; false on a word that does
// not fit the command.
template <typename Service>
bool parseArgs(const TaskCommand<Service>& command, std::span<const std::string> words, TaskArgs& args)
{
    for (std::size_t at = 0; at < words.size(); ++at) {
        const std::string& word = words[at];
        if (!word.starts_with(OptionPrefix)) {
            args.operands.push_back(word);
            continue;
        }
        std::string_view name = optionName(word);
        if (allowsOption(command.options, word)) {
            args.options.emplace_back(std::string(name), std::string());
            continue;
        }
        std::string value;
        if (const std::size_t equals = name.find('='); equals != std::string_view::npos) {
            value = std::string(name.substr(equals + 1));
            name = name.substr(0, equals);
        } else if (at + 1 < words.size()) {
            value = words[++at];
        } else {
            return false;
        }
        if (!allowsOption(command.options, name))
            return false;
        args.options.emplace_back(std::string(name), std::move(value));
    }
    return args.operands.size() == command.operands;
}

template <typename Service>
const TaskCommand<Service>* findCommand(std::span<const TaskCommand<Service>> commands, std::string_view group,
                                        std::string_view action)
{
    for (const TaskCommand<Service>& command : commands)
        if (command.group == group && command.action == action)
            return &command;
    return nullptr;
}

// The files a service's load reads because another file names them: each
// mail account's index and settings file.
template <typename Service>
std::vector<std::string> namedFiles()
{
    return {};
}

template <>
std::vector<std::string> namedFiles<EmailService>()
{
    std::vector<std::string> files;
    SettingsStore table;
    if (!table.load(MailDirectory::AccountsFile))
        return files;
    for (int i = 0; i < table.count(); ++i) {
        const std::string user = table.nameAt(i).substr(0, MailDirectory::MaxText);
        if (user.empty() || user.find_first_of("\\/") != std::string::npos)
            continue;
        const std::string stem = std::string(MailAccount::Folder) + MailAccount::fileStemOf(user);
        files.push_back(stem + MailAccount::IndexSuffix);
        files.push_back(stem + MailAccount::SettingsSuffix);
    }
    return files;
}

bool fileReadable(std::string_view file, std::ostream& err)
{
    SettingsStore store;
    if (store.loadFile(file) != SettingsLoad::Damaged)
        return true;
    err << "vantrel-settings: " << slashedPath(file) << " is not a readable settings file; nothing was changed\n";
    return false;
}

// True when every settings file the service's load reads is either
// readable whole or missing; a damaged one is named on stderr.
template <typename Service>
bool settingsReadable(std::ostream& err)
{
    for (const char* file : ServiceFiles<Service>::Settings) {
        if (!fileReadable(file, err))
            return false;
    }
    for (const std::string& file : namedFiles<Service>()) {
        if (!fileReadable(file, err))
            return false;
    }
    return true;
}

template <typename Service>
Service* liveService(const LiveServices& live);
template <>
FtpService* liveService<FtpService>(const LiveServices& live)
{
    return live.ftp;
}
template <>
HttpService* liveService<HttpService>(const LiveServices& live)
{
    return live.http;
}
template <>
EmailService* liveService<EmailService>(const LiveServices& live)
{
    return live.email;
}

// The command's handler on a loaded service, then the save a window's
// action makes.
template <typename Service>
int applyTo(const TaskCommand<Service>& command, Service& service, TaskContext& context, bool live)
{
    const TaskResult result = command.run(service, context);
    if (result == TaskResult::Refused)
        return 1;
    if (result == TaskResult::Changed && !service.saveSettings()) {
        context.err << "vantrel-settings: the settings could not all be written"
                    << (live ? " (the change is in effect; the server saves again within a minute)" : "") << "\n";
        return 1;
    }
    return 0;
}

// What a service's commands need of the rest of a stopped server, which a
// running server's services have from the program: the ports the other
// services are set to use, and the certificate general.dat names.
template <typename Service>
void knowStoppedNeighbours(Service&, const std::shared_ptr<TlsCertificate>&)
{
}

template <>
void knowStoppedNeighbours<HttpService>(HttpService& service, const std::shared_ptr<TlsCertificate>& certificate)
{
    service.useCertificate(certificate);
    service.knowOtherPorts([] { return portsBesides(FtpService::storedPorts(), EmailService::storedPorts()); });
}

template <>
void knowStoppedNeighbours<FtpService>(FtpService& service, const std::shared_ptr<TlsCertificate>& certificate)
{
    service.useCertificate(certificate);
    service.knowOtherPorts([] { return portsBesides(HttpService::storedPorts(), EmailService::storedPorts()); });
}

template <>
void knowStoppedNeighbours<EmailService>(EmailService& service, const std::shared_ptr<TlsCertificate>& certificate)
{
    service.useCertificate(certificate);
    service.knowOtherPorts([] { return portsBesides(HttpService::storedPorts(), FtpService::storedPorts()); });
}

template <typename Service>
int runOnFiles(const TaskCommand<Service>& command, TaskContext& context)
{
    if (!settingsReadable<Service>(context.err))
        return 1;
    (void)createDirectory(ServiceFiles<Service>::Folder);
    auto service = std::make_unique<Service>();
    // Missing files leave the defaults, as on the program's first start.
    (void)service->loadSettings();
    auto certificate = std::make_shared<TlsCertificate>();
    (void)TlsSettings(*certificate).loadSettings();
    knowStoppedNeighbours(*service, certificate);
    return applyTo(command, *service, context, false);
}

// The certificate keeps its names in general.dat, with the window's own
// records, which pass through unchanged.
template <>
int runOnFiles<TlsSettings>(const TaskCommand<TlsSettings>& command, TaskContext& context)
{
    if (!fileReadable(TlsSettings::GeneralFile, context.err))
        return 1;
    TlsCertificate certificate;
    TlsSettings settings(certificate);
    (void)settings.loadSettings();
    return applyTo(command, settings, context, false);
}

constexpr char TextNoSuchService[] = "vantrel-settings: the running server has no such service\n";

template <typename Service>
int runOnLive(const TaskCommand<Service>& command, TaskContext& context, const LiveServices& live)
{
    Service* service = liveService<Service>(live);
    if (service == nullptr) {
        context.err << TextNoSuchService;
        return 1;
    }
    return applyTo(command, *service, context, true);
}

// The live certificate; its names reach general.dat now, and again with
// every save of the window's.
template <>
int runOnLive<TlsSettings>(const TaskCommand<TlsSettings>& command, TaskContext& context, const LiveServices& live)
{
    if (live.certificate == nullptr) {
        context.err << TextNoSuchService;
        return 1;
    }
    TlsSettings settings(*live.certificate);
    return applyTo(command, settings, context, true);
}

// One command, ready to run on the files of a stopped server or on the
// live objects of a running one.
struct ResolvedTask {
    std::function<int(TaskContext&)> onFiles;
    std::function<int(TaskContext&, const LiveServices&)> onLive;
    explicit operator bool() const { return static_cast<bool>(onFiles); }
};

// The command of those words in one service's table. Empty when the table
// has no such command; `usable` is false when it has but the remaining
// words do not fit it.
template <typename Service>
ResolvedTask resolve(std::span<const TaskCommand<Service>> commands, std::span<const std::string> words, TaskArgs& args,
                     bool& usable)
{
    const TaskCommand<Service>* command = findCommand(commands, words[0], words[1]);
    if (command == nullptr)
        return {};
    usable = parseArgs(*command, words.subspan(2), args);
    return {[command](TaskContext& context) { return runOnFiles(*command, context); },
            [command](TaskContext& context, const LiveServices& live) { return runOnLive(*command, context, live); }};
}

bool knownGroup(std::string_view word)
{
    for (const auto& command : ftpTaskCommands())
        if (command.group == word)
            return true;
    for (const auto& command : httpTaskCommands())
        if (command.group == word)
            return true;
    for (const auto& command : emailTaskCommands())
        if (command.group == word)
            return true;
    for (const auto& command : tlsTaskCommands())
        if (command.group == word)
            return true;
    return false;
}

} // namespace

const std::string* TaskArgs::option(std::string_view name) const
{
    const std::string* found = nullptr;
    for (const auto& [key, value] : options)
        if (key == name)
            found = &value;
    return found;
}

PromptAnswer TaskPrompt::show(std::string_view text, std::string_view title, PromptButtons, PromptIcon)
{
    // Titles of the windows' notices; every other message refuses the input.
    static constexpr std::string_view NoticeTitles[] = {"Warning", "Apply Changes"};
    err_ << "vantrel-settings: " << title << ": " << text << '\n';
    bool notice = false;
    for (std::string_view noticeTitle : NoticeTitles)
        notice = notice || title == noticeTitle;
    refused_ = refused_ || !notice;
    return PromptAnswer::Ok;
}

std::string TaskContext::absoluteFolder(const std::string& folder) const
{
    if (folder.empty() || folder.front() == '/')
        return folder;
    return callerFolder + '/' + folder;
}

bool parseSwitch(TaskContext& context, const std::string& word, bool& on)
{
    if (word != "on" && word != "off") {
        context.err << "vantrel-settings: \"on\" or \"off\" expected, not \"" << word << "\"\n";
        return false;
    }
    on = word == "on";
    return true;
}

bool parsePort(TaskContext& context, const std::string& text, std::uint16_t& port)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, port);
    if (text.empty() || error != std::errc() || stop != end) {
        context.err << "vantrel-settings: not a port number (0 to 65535): " << text << "\n";
        return false;
    }
    return true;
}

bool parseCount(TaskContext& context, const std::string& text, int maximum, int& count)
{
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, count);
    if (text.empty() || error != std::errc() || stop != end || count < 0 || count > maximum) {
        context.err << "vantrel-settings: not a number from 0 to " << maximum << ": " << text << "\n";
        return false;
    }
    return true;
}

bool TaskTool::startsTask(std::string_view word)
{
    return word == DataDirOption || word.starts_with(std::string(DataDirOption) + "=") || knownGroup(word) ||
           word == StatusWord || word == ServiceWord;
}

namespace {

// The command named by the words, checked in full; 0 when it is usable,
// else the exit code, with the reason on `err`.
int resolveTask(std::span<const std::string> args, TaskArgs& taskArgs, ResolvedTask& task, std::ostream& err)
{
    if (args.size() < 2 || !knownGroup(args[0])) {
        err << TaskTool::UsageText;
        return 2;
    }
    bool usable = false;
    task = resolve(ftpTaskCommands(), args, taskArgs, usable);
    if (!task)
        task = resolve(httpTaskCommands(), args, taskArgs, usable);
    if (!task)
        task = resolve(emailTaskCommands(), args, taskArgs, usable);
    if (!task)
        task = resolve(tlsTaskCommands(), args, taskArgs, usable);
    if (!task) {
        err << "vantrel-settings: unknown command \"" << args[0] << ' ' << args[1] << "\"\n\n" << TaskTool::UsageText;
        return 2;
    }
    if (!usable) {
        err << "vantrel-settings: wrong operands for \"" << args[0] << ' ' << args[1] << "\"\n\n"
            << TaskTool::UsageText;
        return 2;
    }
    return 0;
}

bool sameFolder(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool validServiceCommand(std::span<const std::string> args)
{
    static constexpr std::string_view Kinds[] = {"ftp", "http", "email"};
    if (args.size() != 3 || (args[2] != "start" && args[2] != "stop"))
        return false;
    for (std::string_view kind : Kinds)
        if (args[1] == kind)
            return true;
    return false;
}

} // namespace

bool TaskTool::answeredByServer(std::span<const std::string> request, InstanceLock& lock, int& code)
{
    ControlReply reply;
    switch (askServer(request, serverWaitMs_, lock, reply, err_)) {
    case LinkResult::Answered:
        out_ << reply.out;
        err_ << reply.err;
        code = reply.code;
        return true;
    case LinkResult::Failed:
        code = 1;
        return true;
    case LinkResult::Stopped:
        break;
    }
    return false;
}

int TaskTool::run(std::span<const std::string> args)
{
    std::string dataDir = ".";
    if (!args.empty() && args[0].starts_with(DataDirOption)) {
        if (args[0] == DataDirOption && args.size() > 1) {
            dataDir = args[1];
            args = args.subspan(2);
        } else if (args[0].size() > DataDirOption.size() && args[0][DataDirOption.size()] == '=') {
            dataDir = args[0].substr(DataDirOption.size() + 1);
            args = args.subspan(1);
        } else {
            err_ << TaskTool::UsageText;
            return 2;
        }
    }
    if (!args.empty() && args[0] == StatusWord)
        return status(args);
    if (!args.empty() && args[0] == ServiceWord)
        return service(args);

    // The command line is checked in full before anything is touched.
    TaskArgs taskArgs;
    ResolvedTask task;
    if (const int code = resolveTask(args, taskArgs, task, err_); code != 0)
        return code;

    const std::string caller = currentDirectory();
    std::vector<std::string> request{std::string(TaskRequest), caller,
                                     dataDir.starts_with('/') ? dataDir : caller + '/' + dataDir};
    request.insert(request.end(), args.begin(), args.end());
    InstanceLock lock;
    if (int code = 0; answeredByServer(request, lock, code))
        return code;
    TaskPrompt prompt(err_);
    TaskContext context{taskArgs, out_, err_, prompt, caller};
    if (dataDir.empty() || !directoryExists(dataDir) || ::chdir(dataDir.c_str()) != 0) {
        err_ << "vantrel-settings: the data folder " << dataDir << " does not exist\n";
        return 1;
    }
    return task.onFiles(context);
}

int TaskTool::runLive(std::span<const std::string> words, const LiveServices& live)
{
    // words: the caller's folder, the data folder it named, the command.
    if (words.size() < 2) {
        err_ << UsageText;
        return 2;
    }
    const std::string& caller = words[0];
    const std::string& dataDir = words[1];
    TaskArgs taskArgs;
    ResolvedTask task;
    if (const int code = resolveTask(words.subspan(2), taskArgs, task, err_); code != 0)
        return code;
    if (!directoryExists(dataDir)) {
        err_ << "vantrel-settings: the data folder " << dataDir << " does not exist\n";
        return 1;
    }
    if (!sameFolder(dataDir, ".")) {
        err_ << "vantrel-settings: the running server keeps its data in " << currentDirectory() << ", not in "
             << dataDir << "; nothing was changed\n";
        return 1;
    }
    TaskPrompt prompt(err_);
    TaskContext context{taskArgs, out_, err_, prompt, caller};
    return task.onLive(context, live);
}

int TaskTool::status(std::span<const std::string> args)
{
    const bool json = args.size() == 2 && args[1] == JsonOption;
    if (args.size() > 2 || (args.size() == 2 && !json)) {
        err_ << UsageText;
        return 2;
    }
    const std::vector<std::string> request{std::string(StatusRequest), json ? "json" : "text"};
    InstanceLock lock;
    if (int code = 0; answeredByServer(request, lock, code))
        return code;
    if (json)
        out_ << "{\"running\":false}\n";
    else
        out_ << ProductName << " is not running.\n";
    return ExitNotRunning;
}

int TaskTool::service(std::span<const std::string> args)
{
    if (!validServiceCommand(args)) {
        err_ << UsageText;
        return 2;
    }
    std::vector<std::string> request{std::string(ServiceRequest), args[1], args[2]};
    InstanceLock lock;
    if (int code = 0; answeredByServer(request, lock, code))
        return code;
    err_ << "vantrel-settings: " << ProductName << " is not running; nothing to " << args[2] << "\n";
    return 1;
}

} // namespace vantrel
