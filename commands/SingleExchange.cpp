#include "SingleExchange.h"

#include "CommandContext.h"
#include "CommandTable.h"
#include "ResultFile.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/ClockError.h"
#include "link/Exchange.h"
#include "link/Framing.h"

void CountRetry(CommandContext& ctx)
{
    ++ctx.ps.RetryCount;
    ctx.status.SetPanel(0, "Retry " + std::to_string(ctx.ps.RetryCount));
}

int ExchangeWithRetries(CommandContext& ctx, int length, const CommandTexts& texts, bool noReplyIsSuccess)
{
    PollState& ps = ctx.ps;
    ps.PollStatus = ceBusy;
    ps.RetryCount = 0;
    while (ps.PollStatus != ceOK && ps.RetryCount < kMaxAttempts) {
        if (texts.sendingLine != nullptr)
            ctx.status.ReplaceLastStatusLine(texts.sendingLine);
        if (ctx.exchange.SendFrame(ps.RequestBuffer.data(), length) != ceOK)
            break;
        int result = ctx.exchange.AwaitReply();
        if (noReplyIsSuccess && result == ceNoData)
            result = ceOK;
        ps.PollStatus = result;
        if (result != ceOK)
            CountRetry(ctx);
        if (result == ceBusy) {
            if (texts.busyLine != nullptr)
                ctx.status.ReplaceLastStatusLine(texts.busyLine);
            ctx.exchange.WaitSeconds(kBusyWaitSeconds);
        }
    }
    return ps.PollStatus;
}

void ReportResult(CommandContext& ctx, const CommandTexts& texts, int result)
{
    ctx.ps.PollStatus = result;
    WriteResultLine(ctx.ps, result, 0);
    ctx.status.ReplaceLastStatusLine(std::string(texts.resultPrefix ? texts.resultPrefix : "") +
                                     ClockErrorText(result));
}

void ReportInputError(CommandContext& ctx, const CommandTexts& texts, int line)
{
    ctx.ps.PollStatus = ceInputFileLine;
    WriteResultLine(ctx.ps, ceInputFileLine, line);
    const char* prefix = texts.inputErrorPrefix ? texts.inputErrorPrefix : texts.resultPrefix;
    ctx.status.ReplaceLastStatusLine(std::string(prefix ? prefix : "") + ClockErrorText(ceInputFileLine) +
                                     std::to_string(line));
}

int RunSingleExchange(CommandContext& ctx, uint8_t command, std::span<const uint8_t> payload,
                      const CommandTexts& texts, bool noReplyIsSuccess)
{
    PollState& ps = ctx.ps;
    const int length = BuildRequest(ps, static_cast<uint8_t>(ps.StationByte), command, payload);
    ExchangeWithRetries(ctx, length, texts, noReplyIsSuccess);
    const int result = ps.PollStatus;
    ReportResult(ctx, texts, result);
    return result;
}
