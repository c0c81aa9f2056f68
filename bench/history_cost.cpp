#include "history_cost.h"

#include "bench_runs.h"

#include <signal.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

namespace zapfer::bench {
namespace {

// Each round times the three arms in turn, in a rotating order, so that a
// slower stretch of the machine falls on all of them alike. The second
// unrecorded arm says how far two runs of the very same thing differ: a
// cost inside that spread cannot be told from it.
enum Arm { Recorded, NotRecorded, Again, kArms };

constexpr const char* kLabel = "100 files of 4 KiB, history";

// The median with a 95 % interval for it from the order statistics of the
// values themselves, whatever their spread: rounds on a busy machine have
// long tails that a mean and a deviation would misstate.
struct Estimate {
    double median = 0, low = 0, high = 0;
};

Estimate estimate(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const double n = double(values.size());
    // How many values lie below the median is binomial (n, 1/2): 1.96 of
    // its standard deviations, sqrt(n) / 2 each, either side of n / 2.
    const double half = 0.98 * std::sqrt(n);
    // Ranks counted from 1, then made indices.
    const auto low = size_t(std::max(0.0, std::floor(n / 2 - half) - 1));
    const auto high = size_t(std::min(n - 1, std::ceil(n / 2 + half)));
    return {median(values), values[low], values[high]};
}

// Per round: what the recorded run took beyond the mean of the two
// unrecorded ones, and how far those two differ.
struct Differences {
    std::vector<double> cost, spread;
};

Differences differences(const std::array<std::vector<Timing>, kArms>& arms,
                        const std::function<double(const Timing&)>& figure) {
    Differences d;
    for (size_t i = 0; i < arms[Recorded].size(); ++i) {
        const double notRecorded = figure(arms[NotRecorded][i]);
        const double again = figure(arms[Again][i]);
        d.cost.push_back(figure(arms[Recorded][i]) - (notRecorded + again) / 2);
        d.spread.push_back(again - notRecorded);
    }
    return d;
}

void printEstimate(const char* what, const Estimate& e, double base) {
    std::printf("%-34s %-22s %+6.2f ms (%+5.1f %%), 95 %% interval %+.2f to %+.2f ms "
                "(%+.1f to %+.1f %%)\n",
                "", what, 1000 * e.median, 100 * e.median / base, 1000 * e.low, 1000 * e.high,
                100 * e.low / base, 100 * e.high / base);
}

// Wall time and CPU time: the cost, and the machine's own spread beside it.
void printArms(const std::array<std::vector<Timing>, kArms>& arms, bool withReceiverCpu) {
    std::array<Summary, kArms> s;
    for (int arm = 0; arm < kArms; ++arm)
        s[arm] = summarize(arms[arm]);
    std::printf("%-34s wall: recorded %.2f ms, not %.2f ms, not again %.2f ms\n", "",
                1000 * s[Recorded].seconds, 1000 * s[NotRecorded].seconds, 1000 * s[Again].seconds);
    const Differences wall = differences(arms, [](const Timing& t) { return t.seconds; });
    const double wallBase = (s[NotRecorded].seconds + s[Again].seconds) / 2;
    printEstimate("cost", estimate(wall.cost), wallBase);
    printEstimate("not again, spread", estimate(wall.spread), wallBase);

    auto cpu = [withReceiverCpu](const Timing& t) {
        return t.senderCpu + (withReceiverCpu ? t.receiverCpu : 0);
    };
    const Differences cpuDiff = differences(arms, cpu);
    const double cpuBase =
        (s[NotRecorded].senderCpu + s[Again].senderCpu) / 2 +
        (withReceiverCpu ? (s[NotRecorded].receiverCpu + s[Again].receiverCpu) / 2 : 0);
    std::printf("%-34s CPU %s: not recorded %.2f ms\n", "",
                withReceiverCpu ? "of both ends" : "of the sender", 1000 * cpuBase);
    printEstimate("CPU cost", estimate(cpuDiff.cost), cpuBase);
    printEstimate("CPU, not again, spread", estimate(cpuDiff.spread), cpuBase);
}

void clearFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder, ec);
}

} // namespace

bool reportHistoryCost(const HistoryCostSetup& setup) {
    // Each end keeps a history of its own, as two machines do: one file for
    // both would make each end wait for the other's write.
    auto end = [&](Arm arm, const char* side) {
        return Peer{{"env", arm == Recorded ? "ZAPFER_HISTORY=on" : "ZAPFER_HISTORY=off",
                     "XDG_DATA_HOME=" + setup.dataDir + "/" + side},
                    "127.0.0.1"};
    };
    const std::string dest = setup.workDir + "/history-dest";

    // Both ends started anew for each transfer, as in the other cases: each
    // opens its history in a process of its own.
    std::array<std::vector<Timing>, kArms> fresh;
    for (int round = 0; round < setup.rounds; ++round) {
        for (int turn = 0; turn < kArms; ++turn) {
            const auto arm = Arm((round + turn) % kArms);
            clearFolder(dest);
            fresh[arm].push_back(
                timeZapfer(setup.cli, end(arm, "receiver"), end(arm, "sender"), setup.files, dest));
        }
    }
    for (const auto& runs : fresh)
        if (!summarize(runs).ok) {
            std::printf("%-34s failed\n", kLabel);
            return false;
        }
    std::printf("%-34s new ends for each transfer, %d rounds\n", kLabel, setup.rounds);
    printArms(fresh, true);
    std::fflush(stdout);

    // Receivers left running, as a receiving machine keeps one: it opens its
    // history once, and each transfer costs it only the write. The senders
    // are new processes, as each zapfer-cli send is.
    std::array<std::unique_ptr<Child>, kArms> receivers;
    std::array<std::string, kArms> ports, dests;
    const std::string lead = "listening on port ";
    for (int arm = 0; arm < kArms; ++arm) {
        const std::string folder = setup.workDir + "/kept-" + std::to_string(arm);
        dests[arm] = folder + "/dest";
        clearFolder(dests[arm]);
        const Peer receiver = end(Arm(arm), "kept-receiver");
        receivers[arm] = std::make_unique<Child>(
            joined(receiver.prefix, {setup.cli, "receive", "--port", "0", "--echo-port", "0",
                                     "--overwrite", "--dest", dests[arm]}),
            folder + "/receiver.out");
        const std::string line = firstLineOf(folder + "/receiver.out", 20000);
        if (!receivers[arm]->started() || !line.starts_with(lead)) {
            std::printf("%-34s failed: a receiver did not start\n", kLabel);
            return false;
        }
        ports[arm] = line.substr(lead.size());
    }
    std::array<std::vector<Timing>, kArms> kept;
    for (int round = 0; round < setup.rounds; ++round) {
        for (int turn = 0; turn < kArms; ++turn) {
            const auto arm = Arm((round + turn) % kArms);
            clearFolder(dests[arm]); // new files, as in the case above
            kept[arm].push_back(
                timeSend(setup.cli, end(arm, "sender"), "127.0.0.1", ports[arm], setup.files));
        }
    }
    std::array<double, kArms> receiverCpu{};
    for (int arm = 0; arm < kArms; ++arm) {
        receivers[arm]->signal(SIGTERM);
        receivers[arm]->wait();
        receiverCpu[arm] = receivers[arm]->cpuSeconds();
    }
    for (const auto& runs : kept)
        if (!summarize(runs).ok) {
            std::printf("%-34s failed\n", kLabel);
            return false;
        }
    std::printf("%-34s receivers left running, a new sender for each transfer, %d rounds\n", kLabel,
                setup.rounds);
    printArms(kept, false);
    // A receiver's CPU time is known only at its end: per transfer, with its
    // start and its one open of the history spread over them all.
    std::printf("%-34s CPU of a receiver per transfer: recorded %.2f ms, not %.2f ms, "
                "not again %.2f ms\n",
                "", 1000 * receiverCpu[Recorded] / setup.rounds,
                1000 * receiverCpu[NotRecorded] / setup.rounds,
                1000 * receiverCpu[Again] / setup.rounds);
    std::fflush(stdout);
    return true;
}

} // namespace zapfer::bench
