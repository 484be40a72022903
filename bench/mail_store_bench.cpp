// The mailbox store alone, without the network: deliveries of 10 KiB
// messages into one account by 20 threads at once (messages per second),
// and the cost of one delivery into an empty mailbox against one into a
// mailbox of 10000 messages (milliseconds and index bytes written), which
// must be the same. The held messages are small files: what counts is how
// many there are. Works in a fresh folder below $TMPDIR.
//   bench_mail_store [threads] [messages]
#include "email/mail_account.h"
#include "email/mail_directory.h"
#include "foundation/file_system.h"
#include "foundation/settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace vantrel;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t MessageSize = 10 * 1024;
constexpr int Runs = 3;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeFile(const std::string& path, std::size_t size)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(size - 5, 'm') << "\r\n.\r\n";
}

bool deliverOne(MailDirectory& directory, const std::string& address, const std::string& source)
{
    auto transaction = directory.openMailboxForAddress(address);
    if (!transaction)
        return false;
    transaction->addMessage(source, directory.newMessageId(), MessageSize);
    return directory.commitDelivery(std::move(transaction)) == CommitOutcome::Applied;
}

// A fresh working folder with one account; returns the folder.
std::string freshFolder(const char* tag)
{
    std::string name = tempFolder() + "vt-mailbench-" + tag + "-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    std::filesystem::current_path(name);
    std::filesystem::create_directory("email");
    return name;
}

double parallelRun(int threads, int messages)
{
    const std::string folder = freshFolder("parallel");
    double rate = 0;
    {
        MailDirectory directory(10);
        (void)directory.addOrUpdateAccount("bench", "bench@x.org", "pw");
        (void)directory.save();
        std::vector<std::string> sources;
        for (int t = 0; t < threads; ++t) {
            sources.push_back("source-" + std::to_string(t) + ".eml");
            writeFile(sources.back(), MessageSize);
        }
        std::atomic<int> next{0};
        std::atomic<int> failed{0};
        const auto start = Clock::now();
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                while (next.fetch_add(1) < messages) {
                    if (!deliverOne(directory, "bench@x.org", sources[static_cast<std::size_t>(t)]))
                        ++failed;
                }
            });
        }
        for (auto& worker : workers)
            worker.join();
        rate = messages / secondsSince(start);
        if (failed > 0)
            std::fprintf(stderr, "%d deliveries failed\n", failed.load());
    }
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder);
    return rate;
}

struct SingleCost {
    double milliseconds;
    std::uint64_t indexGrowth;
};

// The median cost of one delivery into a mailbox that already holds `held`
// messages, and how much the index file grew.
SingleCost singleDelivery(int held)
{
    const std::string folder = freshFolder("single");
    SingleCost cost{};
    {
        // A mailbox of `held` messages, written the way the server writes it.
        SettingsStore table;
        table.setData("bench", "", 1);
        (void)table.save("emailaccounts.dat");
        (void)SettingsStore().save("emailmapper.dat");
        SettingsStore index;
        for (int n = 0; n < held; ++n) {
            const std::string id = std::to_string(n) + ":Mon::01:Jan:2024:00:00:00";
            index.appendRecord("email\\" + std::to_string(n) + "@bench_e.dat", id.c_str(),
                               static_cast<std::int32_t>(id.size() + 1));
        }
        (void)index.save("email\\bench.dat");
        for (int n = 0; n < held; ++n)
            writeFile("email/" + std::to_string(n) + "@bench_e.dat", 64);
        SettingsStore settings;
        settings.setInt("count", held);
        (void)settings.save("email\\bench_s.dat");
        MailDirectory directory(10);
        (void)directory.load();
        (void)directory.addOrUpdateAccount("bench", "bench@x.org", "pw");
        writeFile("source.eml", MessageSize);
        std::vector<double> times;
        std::uint64_t before = 0;
        std::uint64_t after = 0;
        for (int run = 0; run < 7; ++run) {
            (void)fileSize("email\\bench.dat", before);
            const auto start = Clock::now();
            (void)deliverOne(directory, "bench@x.org", "source.eml");
            times.push_back(secondsSince(start) * 1000);
            (void)fileSize("email\\bench.dat", after);
        }
        std::sort(times.begin(), times.end());
        cost = SingleCost{times[times.size() / 2], after - before};
    }
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder);
    return cost;
}

} // namespace

int main(int argc, char** argv)
{
    const int threads = argc > 1 ? std::atoi(argv[1]) : 20;
    const int messages = argc > 2 ? std::atoi(argv[2]) : 2000;
    const std::filesystem::path start = std::filesystem::current_path();

    (void)parallelRun(threads, messages / 4); // warm-up
    std::vector<double> rates;
    for (int run = 0; run < Runs; ++run)
        rates.push_back(parallelRun(threads, messages));
    std::sort(rates.begin(), rates.end());

    const SingleCost empty = singleDelivery(0);
    const SingleCost full = singleDelivery(10000);
    std::filesystem::current_path(start);

    std::printf("one delivery into an empty mailbox: %.2f ms, index +%llu bytes\n", empty.milliseconds,
                static_cast<unsigned long long>(empty.indexGrowth));
    std::printf("one delivery into 10000 messages:   %.2f ms, index +%llu bytes\n", full.milliseconds,
                static_cast<unsigned long long>(full.indexGrowth));
    std::printf("%d threads, %d messages of 10 KiB into one account: %.0f messages/s (median of %d)\n", threads,
                messages, rates[rates.size() / 2], Runs);
    return 0;
}
