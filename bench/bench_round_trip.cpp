// bench_round_trip: wall time of one get_status exchange over TCP loopback.
//
// Each round is SendFrame (which holds the frame for the 2 ms pre-send pause, then
// writes it) followed by AwaitReply (which returns as soon as the reply's terminator is
// in). Almost all of a round should be that pause; anything much above it is latency the
// event pump or the socket path adds.
#include "BenchCommon.h"
#include "InProcessLink.h"
#include "core/ClockError.h"

#include <QCoreApplication>

namespace {
constexpr const char* kName = "bench_round_trip";
constexpr const char* kAddress = "127.0.0.6";
constexpr int kWarmUp = 3;
constexpr int kRounds = 200;
constexpr double kPauseMs = 2.0;
constexpr double kTargetMedianMs = 1.5 * kPauseMs;
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::TempDir dir("rtt");
    bench::ClockSim sim(kName, kAddress, {}, dir);

    bench::InProcessLink link;
    const double connectStart = bench::NowMs();
    if (link.Connect(kAddress) != 0)
        bench::Fail(kName, std::string("cannot connect to the clock simulator on ") + kAddress);
    const double connectMs = bench::NowMs() - connectStart;
    const int length = link.BuildGetStatus();

    std::vector<double> total, send, reply;
    int answered = 0;
    for (int i = 0; i < kWarmUp + kRounds; ++i) {
        const double t0 = bench::NowMs();
        if (link.Send(length) != 0)
            bench::Fail(kName, "sending get_status failed in round " + std::to_string(i));
        const double t1 = bench::NowMs();
        const ClockError result = link.exchange.AwaitReply();
        const double t2 = bench::NowMs();
        if (i < kWarmUp)
            continue;
        // A status reply carries the get_status code, which AwaitReply classifies as
        // "wrong command"; what counts here is that a whole, well-formed reply arrived.
        if (result != ceNoData && result != ceTerminator && result != ceCrc)
            ++answered;
        total.push_back(t2 - t0);
        send.push_back(t1 - t0);
        reply.push_back(t2 - t1);
    }

    bench::Info(kName, "connect", connectMs, "ms");
    bench::Info(kName, "rounds_answered", answered, "of 200");
    bench::Info(kName, "send_incl_pause_median", bench::Median(send), "ms");
    bench::Info(kName, "reply_wait_median", bench::Median(reply), "ms");
    bench::Info(kName, "round_trip_p90", bench::Percentile(total, 90), "ms");
    bench::Info(kName, "round_trip_max", bench::Max(total), "ms");
    bench::Report(kName, "round_trip_median", bench::Median(total), "ms", kTargetMedianMs);
    if (answered != kRounds)
        bench::Note(kName, "some rounds got no complete reply: their times are time-outs, not round trips");
    return 0;
}
