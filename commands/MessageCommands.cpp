#include "MessageCommands.h"

#include "SingleExchange.h"
#include "core/TextFile.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "core/ClockError.h"
#include "link/Framing.h"

#include <string>

namespace msgfile {

uint8_t PackPair(int first, int second)
{
    // Unsigned arithmetic keeps non-digits well defined: the low byte of the same sum.
    return static_cast<uint8_t>((static_cast<unsigned>(first - 0x30) << 4) +
                                static_cast<unsigned>(second - 0x30));
}

int MessageReader::Read()
{
    const int c = next_();
    if (c >= 0)
        ++charsRead_;
    return c;
}

MessageReader::Step MessageReader::Next(std::vector<uint8_t>& packet)
{
    packet.clear();
    int c = Read();
    if (betweenMessages_) {
        while (c >= 0 && c < '0') {
            if (c == '\n')
                ++line_;
            c = Read();
        }
        if (c < 0)
            return Step::End;
        betweenMessages_ = false;
        messageStart_ = charsRead_ - 1;
        messageLine_ = line_;
        lineChars_ = 0;
        lineFeeds_ = 0;
        packet.push_back(kSequenceFirst);
    } else {
        packet.push_back(kSequenceMore);
    }
    for (; c >= 0; c = Read()) {
        if (c == '\n') {
            ++line_;
            lineChars_ = 0;
            if (++lineFeeds_ >= kMessageLines)
                return Step::InputError;
        } else {
            if (c == '{') {
                if (lineFeeds_ > 0)
                    return Step::InputError;
                lineChars_ = 0;
            }
            if (++lineChars_ > kLineChars)
                return Step::InputError;
        }
        packet.push_back(static_cast<uint8_t>(c));
        if (c == '}') {
            betweenMessages_ = true;
            return Step::Packet;
        }
        if (packet.size() == 1 + static_cast<std::size_t>(kPacketChars))
            return Step::Packet;
    }
    // The file ended inside a message: its "}" is missing.
    return Step::InputError;
}

bool MessageReader::RestartMessage()
{
    if (!rewind_ || !rewind_())
        return false;
    charsRead_ = 0;
    while (charsRead_ < messageStart_)
        if (Read() < 0)
            return false;
    line_ = messageLine_;
    betweenMessages_ = true;
    return true;
}

Payload ReadDaylight(const CharSource& next)
{
    Payload out;
    int line = 1;
    int first = -1;
    for (int c = next(); c >= 0; c = next()) {
        if (c == '\n') {
            ++line;
            continue;
        }
        if (c == '\r')
            continue;
        if (first < 0) {
            first = c;
            continue;
        }
        if (out.bytes.size() == kMaxPayload) {
            out.errorLine = line;
            return out;
        }
        out.bytes.push_back(PackPair(first, c));
        first = -1;
    }
    return out;
}

Payload ReadModem(const CharSource& next)
{
    Payload out;
    for (int c = 0; out.bytes.size() < kModemLimit && (c = next()) >= 0;)
        out.bytes.push_back(c == '\n' ? 0x0D : static_cast<uint8_t>(c));
    if (out.bytes.size() >= kModemLimit || out.bytes.size() < kModemMinimum)
        out.errorLine = -1;
    return out;
}

Payload ReadLogo(const CharSource& next)
{
    Payload out;
    while (out.bytes.size() < kLogoChars) {
        const int c = next();
        if (c < 0 || c == '\n' || c == '\r')
            break;
        if (c < 0x20 || c > 0x7A) {
            out.errorLine = -1;
            return out;
        }
        out.bytes.push_back(static_cast<uint8_t>(c));
    }
    return out;
}

}  // namespace msgfile

ClockError MessageCommands::SetMessage()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    ps.RetryCount = 0;
    TextFile file;
    if (!file.Open(ps.InputFileName, "r"))
        return ReportResult(ctx_, texts, ceCantOpenFile);
    const msgfile::CharSource read = [&file] { return file.ReadChar(); };
    // Every message is read and checked before the first packet goes out: a file broken in
    // its last message sends nothing.
    {
        msgfile::MessageReader check(read);
        std::vector<uint8_t> packet;
        msgfile::MessageReader::Step step;
        while ((step = check.Next(packet)) == msgfile::MessageReader::Step::Packet) {
        }
        if (file.ReadError() || !file.Rewind())
            return ReportResult(ctx_, texts, ceCantOpenFile);
        if (step == msgfile::MessageReader::Step::InputError) {
            ps.InputLineNumber = check.Line();
            return ReportInputError(ctx_, texts, check.Line());
        }
    }
    msgfile::MessageReader reader(read, [&file] { return file.Rewind(); });
    std::vector<uint8_t> packet;
    // A packet that was not accepted sends its whole message again, from its first packet.
    bool lastAccepted = true;
    RetryPolicy policy = RetryPolicy::For(texts);
    ctx_.status.ReplaceLastStatusLine(policy.sendingLine);
    policy.sendingLine = nullptr;
    // Whether another packet is due is known only once the file has been read on; the
    // frame builder then ends the loop with OK at the end of the file.
    policy.anotherFrame = [&] {
        lastAccepted = true;
        return true;
    };
    const ClockError result = ExchangeWithRetries(ctx_, policy, [&](ClockError) -> BuiltFrame {
        if (!lastAccepted && !reader.RestartMessage())
            return ceCantOpenFile;
        lastAccepted = false;
        const msgfile::MessageReader::Step step = reader.Next(packet);
        if (file.ReadError())
            return ceCantOpenFile;
        switch (step) {
            case msgfile::MessageReader::Step::End:
                return ceOK;
            case msgfile::MessageReader::Step::InputError:
                return ceInputFileLine;
            case msgfile::MessageReader::Step::Packet:
                break;
        }
        return BuildRequest(ctx_.exchange.Request(), static_cast<uint8_t>(ps.StationByte),
                            frame::cmdSetMessage, packet);
    });
    file.Close();
    ps.InputLineNumber = reader.Line();
    if (result == ceInputFileLine)
        return ReportInputError(ctx_, texts, reader.Line());
    return ReportResult(ctx_, texts, result);
}

ClockError MessageCommands::SetDaylight()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    ps.RetryCount = 0;
    msgfile::Payload payload;
    {
        TextFile file;
        if (!file.Open(ps.InputFileName, "r"))
            return ReportResult(ctx_, texts, ceCantOpenFile);
        ctx_.status.ReplaceLastStatusLine(texts.sendingLine);
        payload = msgfile::ReadDaylight([&file] { return file.ReadChar(); });
        // A file that stops being readable is broken, not ended: none of it is sent.
        if (file.ReadError())
            return ReportResult(ctx_, texts, ceCantOpenFile);
    }
    if (!payload.Ok()) {
        ps.InputLineNumber = payload.errorLine;
        return ReportInputError(ctx_, texts, payload.errorLine);
    }
    return RunSingleExchange(ctx_, frame::cmdSetDaylight, payload.bytes, texts);
}

ClockError MessageCommands::SetModem()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    ps.RetryCount = 0;
    TextFile file;
    if (!file.Open(ps.InputFileName, "r"))
        return ReportResult(ctx_, texts, ceCantOpenFile);
    // The sending line follows the reading: a file in error shows only its report.
    RetryPolicy policy = RetryPolicy::For(texts);
    policy.sendingLine = nullptr;
    const ClockError result = ExchangeWithRetries(ctx_, policy, [&](ClockError) -> BuiltFrame {
        const bool rewound = file.Rewind();
        const msgfile::Payload payload = msgfile::ReadModem([&file] { return file.ReadChar(); });
        // A file that stops being readable is broken, not ended: none of it is sent.
        if (!rewound || file.ReadError())
            return ceCantOpenFile;
        if (!payload.Ok())
            return ceInputFileLine;
        ctx_.status.ReplaceLastStatusLine(texts.sendingLine);
        return BuildRequest(ctx_.exchange.Request(), static_cast<uint8_t>(ps.StationByte), frame::cmdSetModem,
                            payload.bytes);
    });
    file.Close();
    // An input error here names no line.
    return ReportResult(ctx_, texts, result);
}

ClockError MessageCommands::SetLogo()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    ps.RetryCount = 0;
    TextFile file;
    if (!file.Open(ps.InputFileName, "r"))
        return ReportResult(ctx_, texts, ceCantOpenFile);
    const ClockError result =
        ExchangeWithRetries(ctx_, RetryPolicy::For(texts), [&](ClockError) -> BuiltFrame {
            const bool rewound = file.Rewind();
            const msgfile::Payload payload = msgfile::ReadLogo([&file] { return file.ReadChar(); });
            if (!rewound || file.ReadError())
                return ceCantOpenFile;
            if (!payload.Ok())
                return ceInputFileLine;
            return BuildRequest(ctx_.exchange.Request(), static_cast<uint8_t>(ps.StationByte),
                                frame::cmdSetLogo, payload.bytes);
        });
    file.Close();
    if (result == ceInputFileLine) {
        // The logo is one line and no line is counted: the report names line 0.
        ps.InputLineNumber = 0;
        return ReportInputError(ctx_, texts, 0);
    }
    return ReportResult(ctx_, texts, result);
}
