// QueueRunner: its loop, and the courier it starts for the entries due.
#include "email/queue_runner.h"

#include "email/mail_queue.h"
#include "foundation/clock.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

namespace {

// How often the queue is looked at for entries that became due, and how
// often a working courier is checked for its idle limit.
constexpr std::uint32_t LookMs = 1000;
constexpr int CourierCheckMs = 100;

// Delivers the entries it was given, in queue order. A stop leaves the
// ones not yet begun to the next start.
class QueueCourier final : public MailCourier {
public:
    QueueCourier(const CourierPost& post, std::vector<std::string> names)
        : MailCourier(std::make_unique<LineSocket>(), post), names_(std::move(names))
    {
        startSession();
    }
    ~QueueCourier() override { stopSession(); }

protected:
    void serve() override
    {
        for (const std::string& name : names_) {
            if (stopRequested()) {
                queue().release(name, tickCount());
                continue;
            }
            QueuedMail mail;
            if (!queue().load(name, mail)) {
                queue().finish(name); // its envelope was damaged since it was found
                continue;
            }
            deliver(mail, DeliveryTry::Again);
        }
    }

private:
    std::vector<std::string> names_;
};

} // namespace

QueueRunner::QueueRunner(const CourierPost& post, std::uint32_t idleLimitMs) : post_(post), idleLimitMs_(idleLimitMs) {}

QueueRunner::~QueueRunner()
{
    stop(StopTimeoutMs);
}

void QueueRunner::run()
{
    const int lookMs = static_cast<int>(std::min(LookMs, std::max<std::uint32_t>(post_.retryMs, 1)));
    while (!stopRequested()) {
        std::vector<std::string> due = post_.queue.claimDue(tickCount());
        if (due.empty()) {
            pause(lookMs);
            continue;
        }
        auto courier = std::make_unique<QueueCourier>(post_, std::move(due));
        while (!courier->isFinished()) {
            courier->checkIdle(idleLimitMs_);
            if (pause(CourierCheckMs))
                break;
        }
        // Stops a courier that went idle or is cut short, and waits for it.
        courier.reset();
    }
}

} // namespace vantrel
