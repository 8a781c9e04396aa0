#include "SingleExchange.h"

#include "CommandContext.h"
#include "ResultFile.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/Framing.h"

#include <string>

RetryPolicy RetryPolicy::For(const CommandTexts& texts)
{
    RetryPolicy policy;
    policy.sendingLine = texts.sendingLine;
    policy.busyLine = texts.busyLine;
    return policy;
}

void CountRetry(CommandContext& ctx)
{
    ++ctx.ps.RetryCount;
    ctx.status.SetPanel(Panel::Retry, "Retry " + std::to_string(ctx.ps.RetryCount));
}

ReplyAction WaitOutBusy(ClockError reply)
{
    if (reply == ceOK)
        return ReplyAction::Accept;
    return reply == ceBusy ? ReplyAction::WaitThenResend : ReplyAction::Resend;
}

ReplyAction ResendAtOnce(ClockError reply)
{
    return reply == ceOK ? ReplyAction::Accept : ReplyAction::Resend;
}

namespace {

void ShowBusy(CommandContext& ctx, const RetryPolicy& policy)
{
    if (policy.busyLine != nullptr)
        ctx.status.ReplaceLastStatusLine(policy.busyLine);
    if (policy.busyNotice != nullptr)
        ctx.status.AddStatusLine(policy.busyNotice);
    ctx.exchange.WaitSeconds(kBusyWaitSeconds);
}

}  // namespace

ClockError ExchangeWithRetries(CommandContext& ctx, const RetryPolicy& policy, const FrameBuilder& frame)
{
    ctx.ps.RetryCount = 0;
    ClockError status = ceBusy;
    ClockError previous = ceBusy;
    while (status != ceOK && ctx.ps.RetryCount < policy.attempts) {
        if (policy.sendingLine != nullptr)
            ctx.status.ReplaceLastStatusLine(policy.sendingLine);
        const BuiltFrame built = frame(previous);
        if (const ClockError* end = std::get_if<ClockError>(&built))
            return *end;
        if (ctx.exchange.SendRequest(std::get<int>(built)) != ceOK)
            return cePortTransmitter;
        ClockError result = ctx.exchange.AwaitReply(policy.check);
        const ReplyAction action = policy.onReply(result);
        if (action == ReplyAction::Accept)
            result = ceOK;
        status = result;
        previous = result;
        switch (action) {
            case ReplyAction::Accept:
                if (policy.anotherFrame) {
                    if (!policy.anotherFrame())
                        return ceOK;
                    status = ceBusy;
                }
                break;
            case ReplyAction::Resend:
                CountRetry(ctx);
                break;
            case ReplyAction::WaitThenResend:
                CountRetry(ctx);
                ShowBusy(ctx, policy);
                break;
            case ReplyAction::WaitThenCount:
                ShowBusy(ctx, policy);
                CountRetry(ctx);
                break;
        }
    }
    return status;
}

ClockError ReportResult(CommandContext& ctx, const CommandTexts& texts, ClockError result)
{
    WriteResultLine(ctx.ps, result, 0);
    ctx.status.ReplaceLastStatusLine(std::string(texts.resultPrefix ? texts.resultPrefix : "") +
                                     ClockErrorText(result));
    return result;
}

ClockError ReportInputError(CommandContext& ctx, const CommandTexts& texts, int line)
{
    WriteResultLine(ctx.ps, ceInputFileLine, line);
    const char* prefix = texts.inputErrorPrefix ? texts.inputErrorPrefix : texts.resultPrefix;
    ctx.status.ReplaceLastStatusLine(std::string(prefix ? prefix : "") + ClockErrorText(ceInputFileLine) +
                                     std::to_string(line));
    return ceInputFileLine;
}

ClockError RunSingleExchange(CommandContext& ctx, uint8_t command, std::span<const uint8_t> payload,
                             const CommandTexts& texts, bool silenceIsSuccess)
{
    PollState& ps = ctx.ps;
    RetryPolicy policy = RetryPolicy::For(texts);
    if (silenceIsSuccess)
        policy.onReply = [](ClockError reply) { return WaitOutBusy(reply == ceNoData ? ceOK : reply); };
    const ClockError result = ExchangeWithRetries(ctx, policy, [&](ClockError) {
        return BuildRequest(ctx.exchange.Request(), static_cast<uint8_t>(ps.StationByte), command, payload);
    });
    return ReportResult(ctx, texts, result);
}
