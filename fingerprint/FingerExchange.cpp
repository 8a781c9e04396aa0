#include "FingerExchange.h"

#include "commands/CommandContext.h"
#include "commands/SingleExchange.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "link/Exchange.h"
#include "link/Framing.h"

namespace finger {

int BuildFingerRequest(const CommandContext& ctx, std::span<const uint8_t> payload)
{
    return BuildRequest(ctx.exchange.Request(), static_cast<uint8_t>(ctx.ps.StationByte), frame::cmdFinger,
                        payload);
}

int BuildFingerRequest(const CommandContext& ctx, std::initializer_list<uint8_t> payload)
{
    return BuildFingerRequest(ctx, std::span<const uint8_t>(payload.begin(), payload.size()));
}

std::span<const uint8_t> ReplyPayload(const Exchange& exchange)
{
    const std::span<const uint8_t> reply = exchange.Reply();
    const int d = static_cast<int>(reply.size()) - 5;
    if (d <= 2)
        return {};
    return reply.subspan(2, static_cast<std::size_t>(d - 2));
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
    RetryPolicy policy;
    policy.onReply = ResendAtOnce;
    ExchangeWithRetries(ctx, policy, [&](ClockError) {
        if (pauseFirst)
            ShortPause(ctx);
        return BuildFingerRequest(ctx, {scEndExchange});
    });
}

}  // namespace finger
