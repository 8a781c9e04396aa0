#include "SwitchCommands.h"

#include "SingleExchange.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "core/ClockError.h"
#include "link/Exchange.h"
#include "link/Framing.h"

#include <array>
#include <cstring>

ClockError SwitchCommands::SetJobing(bool on)
{
    const uint8_t payload[1] = {static_cast<uint8_t>(on ? 0x03 : 0x02)};
    return RunSingleExchange(ctx_, frame::cmdJob, payload, *ctx_.texts);
}

ClockError SwitchCommands::KeyBoard(bool on)
{
    const uint8_t payload[1] = {static_cast<uint8_t>(on ? 0x00 : 0x01)};
    return RunSingleExchange(ctx_, frame::cmdKeyBoard, payload, *ctx_.texts);
}

ClockError SwitchCommands::ClearAllMessages()
{
    const uint8_t payload[1] = {0x01};
    return RunSingleExchange(ctx_, frame::cmdClearMessage, payload, *ctx_.texts);
}

ClockError SwitchCommands::SetCode()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    std::array<uint8_t, 6> code{};
    const std::string text = ps.AccessCodeText();
    std::memcpy(code.data(), text.data(), std::min<std::size_t>(text.size(), code.size()));
    const ClockError result = ExchangeWithRetries(ctx_, RetryPolicy::For(texts), [&](ClockError) {
        return BuildRequest(ctx_.exchange.Request(), static_cast<uint8_t>(ps.StationByte), frame::cmdSetCode,
                            code);
    });
    if (result != cePortTransmitter) {
        // The clock writes the code to its memory before it is usable.
        ctx_.status.ReplaceLastStatusLine("set_code - Setting Code Please Wait..");
        ctx_.exchange.WaitSeconds(3);
    }
    return ReportResult(ctx_, texts, result);
}
