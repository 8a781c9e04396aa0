#include "TableUploads.h"

#include "SingleExchange.h"
#include "core/TextFile.h"
#include "core/PollState.h"
#include "core/ClockError.h"
#include "link/Framing.h"

namespace tables {

namespace {

// Station, command and sequence byte before the rows of a packet.
constexpr std::size_t kPacketHeader = 3;
// A job-number packet is closed after the row that takes its frame past this.
constexpr std::size_t kJobPacketBytes = 90;
constexpr uint8_t kJobRowEnd = 0xF0;
constexpr std::size_t kPinField = 6;

std::optional<std::vector<uint8_t>> DigitPairs(std::string_view line, std::size_t maxPairs)
{
    // A lone digit at the end cannot be packed; dropping it would send another number.
    if (line.size() % 2 != 0 || line.size() > 2 * maxPairs)
        return std::nullopt;
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < line.size(); i += 2) {
        const auto byte = PackDigitPair(line[i], line[i + 1]);
        if (!byte)
            return std::nullopt;
        out.push_back(*byte);
    }
    return out;
}

std::optional<std::vector<uint8_t>> PinRow(std::string_view line)
{
    if (line.size() > MaxLineLength(TableRows::PinNumbers))
        return std::nullopt;
    const std::size_t comma = line.find(',');
    const std::string_view number = line.substr(0, comma);
    const std::string_view pin =
        comma == std::string_view::npos ? std::string_view() : line.substr(comma + 1);
    if (number.empty() || number.size() > kPinField || pin.size() > kPinField)
        return std::nullopt;
    std::vector<uint8_t> row(kPinField - number.size(), '0');
    row.insert(row.end(), number.begin(), number.end());
    row.push_back(',');
    row.insert(row.end(), pin.begin(), pin.end());
    row.resize(row.size() + kPinField - pin.size(), 0x00);
    row.push_back(0x0D);
    return row;
}

}  // namespace

std::size_t MaxLineLength(TableRows kind)
{
    switch (kind) {
        case TableRows::BellTable:
            return 8;
        case TableRows::JobNumbers:
            return 14;
        case TableRows::PinNumbers:
            return 13;
        case TableRows::Messages:
            return 10;
    }
    return 0;
}

std::optional<uint8_t> PackDigitPair(char high, char low)
{
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!digit(high) || !digit(low))
        return std::nullopt;
    return static_cast<uint8_t>(((high - '0') << 4) + (low - '0'));
}

std::optional<std::vector<uint8_t>> EncodeRow(TableRows kind, std::string_view line)
{
    switch (kind) {
        case TableRows::BellTable:
            if (line.size() != MaxLineLength(kind))
                return std::nullopt;
            return DigitPairs(line, 4);
        case TableRows::JobNumbers: {
            auto row = DigitPairs(line, 7);
            if (row)
                row->push_back(kJobRowEnd);
            return row;
        }
        case TableRows::PinNumbers:
            return PinRow(line);
        case TableRows::Messages: {
            if (line.size() > MaxLineLength(kind))
                return std::nullopt;
            std::vector<uint8_t> row(line.begin(), line.end());
            if (!row.empty())
                row.push_back(0x0A);
            return row;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> EncodeLastLine(TableRows kind, std::string_view line)
{
    switch (kind) {
        case TableRows::BellTable:
            return DigitPairs(line, 4);
        case TableRows::JobNumbers:
            return DigitPairs(line, 7);
        case TableRows::PinNumbers:
            return PinRow(line);
        case TableRows::Messages:
            if (line.size() > MaxLineLength(kind))
                return std::nullopt;
            return std::vector<uint8_t>(line.begin(), line.end());
    }
    return std::nullopt;
}

void TableReader::Restart()
{
    line_ = 0;
    rowsInPacket_ = 0;
    packetBytes_ = 0;
    atEnd_ = false;
    pending_ = -1;
    text_.clear();
}

bool TableReader::PacketFull() const
{
    switch (kind_) {
        case TableRows::BellTable:
            return rowsInPacket_ == 20;
        case TableRows::JobNumbers:
            return rowsInPacket_ == 20 || kPacketHeader + packetBytes_ > kJobPacketBytes;
        case TableRows::PinNumbers:
            return rowsInPacket_ == 7;
        case TableRows::Messages:
            return rowsInPacket_ == 10;
    }
    return true;
}

bool TableReader::NextPacket(const ReadChar& read, std::vector<uint8_t>& rows)
{
    rowsInPacket_ = 0;
    packetBytes_ = 0;
    const std::size_t maxLine = MaxLineLength(kind_);
    for (;;) {
        int c = pending_;
        pending_ = -1;
        if (c < 0)
            c = read();
        if (c < 0) {
            atEnd_ = true;
            if (text_.empty())
                return true;
            const auto bytes = EncodeLastLine(kind_, text_);
            text_.clear();
            if (!bytes) {
                ++line_;
                return false;
            }
            rows.insert(rows.end(), bytes->begin(), bytes->end());
            packetBytes_ += bytes->size();
            return true;
        }
        if (c == '\r')
            continue;
        // The character after a full packet is kept for the next one.
        if (PacketFull()) {
            pending_ = c;
            return true;
        }
        if (c == '\n') {
            ++line_;
            const auto row = EncodeRow(kind_, text_);
            text_.clear();
            if (!row)
                return false;
            if (!row->empty()) {
                rows.insert(rows.end(), row->begin(), row->end());
                packetBytes_ += row->size();
                ++rowsInPacket_;
            }
            continue;
        }
        // A line that can no longer be a row is reported at once, so that no line, however
        // long, grows the packet past the frame buffer.
        if (text_.size() >= maxLine) {
            ++line_;
            text_.clear();
            return false;
        }
        text_.push_back(static_cast<char>(c));
    }
}

bool TableReader::CheckAll(const ReadChar& read)
{
    std::vector<uint8_t> rows;
    do {
        rows.clear();
        if (!NextPacket(read, rows))
            return false;
    } while (!atEnd_);
    return true;
}

}  // namespace tables

namespace {

// Retries of a whole table: the fourth failed packet ends the upload.
constexpr int kUploadAttempts = 4;
constexpr uint8_t kClearPins = 0x02;

}  // namespace

struct TableUploads::Table {
    uint8_t command;
    TableRows rows;
    // Sequence byte of the first packet of the table and of every later one.
    uint8_t firstSequence;
    uint8_t laterSequence;
    // The PIN numbers are cleared before the first packet.
    bool clearFirst;
    // The closing code once every packet was accepted; nothing when none is sent.
    std::optional<uint8_t> (*closing)(const tables::TableReader& reader, const PollState& ps);
};

ClockError TableUploads::SetBellTable()
{
    static const Table table{
        frame::cmdSetBellTable,
        TableRows::BellTable,
        0,
        1,
        false,
        [](const tables::TableReader& reader, const PollState&) -> std::optional<uint8_t> {
            return reader.RowsInPacket() == 0 ? 2 : 3;
        }};
    return Upload(table);
}

ClockError TableUploads::SetBellTable2()
{
    static const Table table{
        frame::cmdSetBellTable2,
        TableRows::BellTable,
        0,
        1,
        false,
        [](const tables::TableReader& reader, const PollState&) -> std::optional<uint8_t> {
            return reader.RowsInPacket() == 0 ? 2 : 3;
        }};
    return Upload(table);
}

ClockError TableUploads::SetJobNumbers()
{
    static const Table table{frame::cmdJob,
                             TableRows::JobNumbers,
                             0,
                             1,
                             false,
                             [](const tables::TableReader&, const PollState& ps) -> std::optional<uint8_t> {
                                 return ps.JobTableDigit == '2' ? 4 : 5;
                             }};
    return Upload(table);
}

ClockError TableUploads::SetPinNumbers()
{
    static const Table table{
        frame::cmdSetPinNumbers,
        TableRows::PinNumbers,
        0,
        1,
        true,
        [](const tables::TableReader&, const PollState&) -> std::optional<uint8_t> { return 3; }};
    return Upload(table);
}

ClockError TableUploads::ClearMessage()
{
    static const Table table{
        frame::cmdClearMessage,
        TableRows::Messages,
        2,
        2,
        false,
        [](const tables::TableReader&, const PollState&) -> std::optional<uint8_t> { return std::nullopt; }};
    return Upload(table);
}

ClockError TableUploads::Upload(const Table& table)
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    const auto station = static_cast<uint8_t>(ps.StationByte);
    ps.RetryCount = 0;
    ps.InputLineNumber = 0;

    TextFile file;
    if (!file.Open(ps.InputFileName, "r"))
        return ReportResult(ctx_, texts, ceCantOpenFile);

    // The single frames before and after the table show no memo line, and a busy clock
    // is asked again at once.
    RetryPolicy quiet;
    quiet.onReply = ResendAtOnce;
    const auto single = [&](uint8_t code) {
        const uint8_t payload[1] = {code};
        return ExchangeWithRetries(ctx_, quiet, [&](ClockError) {
            return BuildRequest(ctx_.exchange.Request(), station, table.command, payload);
        });
    };

    // Every line is read and checked before anything reaches the clock: a bad line found
    // after the PIN numbers were cleared, or after part of a table was taken, would leave
    // the clock with less than it held.
    tables::TableReader reader(table.rows);
    const bool good = reader.CheckAll([&file] { return file.ReadChar(); });
    if (file.ReadError() || !file.Rewind())
        return ReportResult(ctx_, texts, ceCantOpenFile);
    if (!good) {
        ps.InputLineNumber = reader.Line();
        return ReportInputError(ctx_, texts, ps.InputLineNumber);
    }
    reader.Restart();

    ClockError result = table.clearFirst ? single(kClearPins) : ceOK;
    const bool cleared = table.clearFirst && result == ceOK;
    if (result == ceOK) {
        RetryPolicy policy = RetryPolicy::For(texts);
        policy.attempts = kUploadAttempts;
        policy.anotherFrame = [&reader] { return !reader.AtEnd(); };
        bool started = false;
        std::vector<uint8_t> payload;
        result = ExchangeWithRetries(ctx_, policy, [&](ClockError previous) -> BuiltFrame {
            uint8_t sequence = table.laterSequence;
            if (previous != ceOK) {
                // A failed packet sends the whole table again from its first line.
                if (started && !file.Rewind())
                    return previous;
                reader.Restart();
                sequence = table.firstSequence;
            }
            started = true;
            payload.assign(1, sequence);
            const bool good = reader.NextPacket([&file] { return file.ReadChar(); }, payload);
            ps.InputLineNumber = reader.Line();
            if (file.ReadError())
                return ceCantOpenFile;
            const int length =
                good ? BuildRequest(ctx_.exchange.Request(), station, table.command, payload) : -1;
            if (length < 0)
                return ceInputFileLine;
            return length;
        });
    }

    // A cleared table is closed however its upload ended (unless the link itself failed),
    // so the clock keeps the rows it took rather than nothing; the upload's own failure
    // stays the result.
    if (result == ceOK || (cleared && result != cePortTransmitter)) {
        if (const auto code = table.closing(reader, ps)) {
            const ClockError closed = single(*code);
            if (result == ceOK)
                result = closed;
        }
    }
    file.Close();
    if (result == ceInputFileLine)
        return ReportInputError(ctx_, texts, ps.InputLineNumber);
    return ReportResult(ctx_, texts, result);
}
