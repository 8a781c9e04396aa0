#include "FingerExchange.h"

#include "commands/CommandContext.h"
#include "commands/SingleExchange.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "link/Exchange.h"
#include "link/Framing.h"

namespace finger {

int BuildFingerRequest(PollState& ps, std::span<const uint8_t> payload)
{
    return BuildRequest(ps, static_cast<uint8_t>(ps.StationByte), frame::cmdFinger, payload);
}

int BuildFingerRequest(PollState& ps, std::initializer_list<uint8_t> payload)
{
    return BuildFingerRequest(ps, std::span<const uint8_t>(payload.begin(), payload.size()));
}

std::span<const uint8_t> ReplyPayload(const PollState& ps)
{
    const int d = ps.ReplyLength - 5;
    if (d <= 2 || d > static_cast<int>(ps.ReceiveBuffer.size()))
        return {};
    return {ps.ReceiveBuffer.data() + 2, static_cast<std::size_t>(d - 2)};
}

void ShortPause(CommandContext& ctx)
{
    // The pause installs its own handler and puts the previous one back after.
    auto previous = ctx.timer4.OnTimer;
    bool elapsed = false;
    ctx.timer4.OnTimer = [&elapsed, &ctx] {
        elapsed = true;
        ctx.timer4.SetEnabled(false);
    };
    ctx.timer4.SetEnabled(true);
    ctx.exchange.PumpUntil([&elapsed] { return elapsed; });
    ctx.timer4.OnTimer = previous;
}

void EndFingerExchange(CommandContext& ctx, bool pauseFirst)
{
    PollState& ps = ctx.ps;
    const ClockError result = ps.PollStatus;
    RetryPolicy policy;
    policy.onReply = ResendAtOnce;
    ExchangeWithRetries(ctx, policy, [&](ClockError) {
        if (pauseFirst)
            ShortPause(ctx);
        return BuildFingerRequest(ps, {scEndExchange});
    });
    ps.PollStatus = result;
}

}  // namespace finger
