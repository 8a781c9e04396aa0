#include "ProgramTransfer.h"

#include "commands/CommandContext.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/Exchange.h"
#include "link/Framing.h"

#include <array>
#include <span>
#include <string>

namespace {

constexpr uint8_t kAcknowledge = frame::rpAcknowledge;
constexpr uint8_t kEraseAll = 0x01;
constexpr uint8_t kRecordFrame = 0x00;
constexpr int kContactTicks = 6;
constexpr int kEraseTicks = 60;
constexpr int kRecordTicks = 4;
constexpr int kTerminateTicks = 2;

const char* const kWarning = "Are you sure? This function will erase and reprogram all KX3 memory?";

// The program a clock says it runs when it answers a contact with another board's code.
const char* WrongProgramLine(uint8_t code)
{
    switch (code) {
        case 0xEB:
            return " Error - Wrong Program (Main).";
        case 0xEC:
            return " Error - Wrong Program (Display).";
        case 0xF0:
            return " Error - Wrong Program (Finger).";
        case 0xF3:
            return " Error - Wrong Program (Portable TC).";
        default:
            return nullptr;
    }
}

bool IsTerminateEcho(uint8_t code)
{
    return code == 0xEF || code == 0xF2 || code == 0xF5;
}

}  // namespace

ProgramCommands ProgramCommandsFor(BoardKind kind)
{
    switch (kind) {
        case BoardKind::Main:
            return {0xEB, 0xED, 0xEF};
        case BoardKind::Display:
            return {0xEC, 0xEE, 0xEF};
        case BoardKind::Fingerprint:
            return {0xF0, 0xF1, 0xF2};
        case BoardKind::PortableTC:
            return {0xF3, 0xF4, 0xF5};
        case BoardKind::None:
            break;
    }
    return {0x00, 0x00, 0xEF};
}

ProgramTransfer::ProgramTransfer(CommandContext& ctx)
    : ctx_(ctx), board_(ctx.ps.ProgramBoard), commands_(ProgramCommandsFor(board_))
{
}

uint8_t ProgramTransfer::Station() const
{
    return static_cast<uint8_t>(ctx_.ps.StationByte);
}

ClockError ProgramTransfer::AwaitDigits(int ticks)
{
    // The exchange's one reply check waits and checks the digits; each step then demands
    // its own station and reply code, which that check does not know.
    const ClockError r = ctx_.exchange.AwaitReply(ReplyCheck{0, false, ticks});
    return r == ceNoData || r == ceTerminator || r == ceCrc ? r : ceOK;
}

ClockError ProgramTransfer::SoftwareUpgrade()
{
    PollState& ps = ctx_.ps;
    IStatusDisplay& status = ctx_.status;
    if (!ctx_.op.OkCancel(kWarning, "Warning"))
        return ceUserTerminated;
    status.ClearStatus();
    if (ps.InputFileName.empty()) {
        status.AddStatusLine(" Please select program file. ");
        return ceCantOpenFile;
    }
    // The file field can be changed after the check, and the file itself too: before the
    // first frame the file is read whole and checked again, and only those bytes are sent.
    const LoadedProgram program = LoadProgram(ps.InputFileName);
    ProgramCheck check = program.outcome;
    if (check == ProgramCheck::Accepted && program.scan.board != board_)
        check = ProgramCheck::Refused;  // not the board the file was checked for
    if (check != ProgramCheck::Accepted) {
        status.AddStatusLine(ProgramCheckFailureLine(check));
        return check == ProgramCheck::CantOpen ? ceCantOpenFile : ceChecksum;
    }
    records_ = program.scan.records;
    if (const ClockError contact = ContactProgramMode(); contact != ceOK) {
        status.AddStatusLine(" Program mode contact not made with KX3.");
        return contact;
    }
    status.ClearStatus();
    status.AddStatusLine(" Initiating Program mode contact... OK.");
    if (const ClockError erase = EraseProgramMemory(); erase != ceOK) {
        status.AddStatusLine(" Program Memory Erase Error!");
        return erase;
    }
    status.AddStatusLine(" Programming... 0% ");
    SpanSource in(program.bytes);
    bool fileError = false;
    const ClockError result = SendRecords(in, fileError);

    if (fileError) {
        status.AddStatusLine("ERROR in Input File! ");
        return ceChecksum;
    }
    if (result == ceProgram) {
        status.AddStatusLine("Program Error! ");
        status.AddStatusLine("Communication ERROR! ");
        return result;
    }
    if (result != ceOK) {
        status.AddStatusLine("Communication ERROR! ");
        return result;
    }
    // Only a clock that took every record leaves programming mode.
    status.AddStatusLine("Programming Completed Successfully! ");
    const ClockError terminated = TerminateProgramMode();
    status.AddStatusLine(terminated == ceOK ? "Programming Mode Terminated."
                                            : "Error - Unable to terminate Program Mode! ");
    return terminated;
}

ClockError ProgramTransfer::SendRecords(ByteSource& in, bool& fileError)
{
    std::vector<uint8_t> data;
    uint32_t sent = 0;
    ClockError result = ceOK;
    RecordStep step;
    const ProgressScope progress(ctx_.progress, "Program records sent to the clock", "records", records_);
    // The tag bytes hold neither 0xEE nor 0xFF and are passed over like any byte between
    // records; every record's checksum is checked again as it is sent.
    while ((step = NextRecord(in, data)) == RecordStep::Record) {
        result = SendRecord(data);
        if (result != ceOK)
            break;
        ++sent;
        // Never divides by 0, should a count be missing.
        const uint64_t percent = records_ ? uint64_t{sent} * 100 / records_ : uint64_t{100};
        ctx_.status.ReplaceLastStatusLine(" Progamming... " + std::to_string(sent) + "  :  " +
                                          std::to_string(percent) + "% Complete.  ");
        ctx_.progress.Step(sent, "");
    }
    // An erased board that got no record is not programmed, whatever the file said.
    fileError = step == RecordStep::Bad || (result == ceOK && sent == 0);
    return result;
}

// Each attempt first shows its number ("Retry 0" before the first), there is no busy
// wait, and any reply code but the acknowledgement is a program error.
// Not ExchangeWithRetries: each attempt is shown before it is sent, and RetryCount is left alone.
ClockError ProgramTransfer::SendRecord(const std::vector<uint8_t>& data)
{
    PollState& ps = ctx_.ps;
    std::vector<uint8_t> payload;
    payload.reserve(data.size() + 1);
    payload.push_back(kRecordFrame);
    payload.insert(payload.end(), data.begin(), data.end());
    const int length = BuildRequest(ctx_.exchange.Request(), Station(), commands_.program, payload);
    if (length < 0)
        return cePortTransmitter;  // the scan refuses such records; never past the buffer

    ClockError result = ceBusy;
    for (int attempt = 0; result != ceOK && attempt < kRecordAttempts; ++attempt) {
        ctx_.status.SetPanel(Panel::Retry, "Retry " + std::to_string(attempt));
        if (ctx_.exchange.SendRequest(length) != ceOK)
            return cePortTransmitter;
        result = AwaitDigits(kRecordTicks);
        if (result == ceOK) {
            const std::span<const uint8_t> rx = ctx_.exchange.Reply();
            if (static_cast<int32_t>(rx[0]) != ps.StationByte)
                result = ceWrongStation;
            if (rx[1] != kAcknowledge)
                result = ceProgram;
        }
    }
    return result;
}

ClockError ProgramTransfer::ContactProgramMode()
{
    ctx_.status.ClearStatus();
    ctx_.status.AddStatusLine(" Initiating Program mode contact... ");
    const std::array<uint8_t, 2> magic{0x5A, 0xA5};
    const int length = BuildRequest(ctx_.exchange.Request(), Station(), commands_.contact, magic);
    if (ctx_.exchange.SendRequest(length) != ceOK)
        return cePortTransmitter;
    if (const ClockError r = AwaitDigits(kContactTicks); r != ceOK)
        return r;
    // The clock answers with the contact code of the program it runs; the station is not
    // looked at.
    const uint8_t code = ctx_.exchange.Reply()[1];
    if (board_ == BoardKind::None)
        return ceWrongCommand;
    if (code == commands_.contact)
        return ceOK;
    ctx_.status.AddStatusLine(" Error - Wrong Program.");
    if (const char* line = WrongProgramLine(code))
        ctx_.status.AddStatusLine(line);
    return ceWrongCommand;
}

ClockError ProgramTransfer::EraseProgramMemory()
{
    ctx_.status.AddStatusLine(" Erasing Program Memory... ");
    const std::array<uint8_t, 1> erase{kEraseAll};
    const int length = BuildRequest(ctx_.exchange.Request(), Station(), commands_.program, erase);
    if (ctx_.exchange.SendRequest(length) != ceOK)
        return cePortTransmitter;
    if (const ClockError r = AwaitDigits(kEraseTicks); r != ceOK)
        return r;
    const std::span<const uint8_t> rx = ctx_.exchange.Reply();
    if (static_cast<int32_t>(rx[0]) != ctx_.ps.StationByte)
        return ceWrongStation;
    if (rx[1] != kAcknowledge)
        return ceWrongCommand;
    ctx_.status.ReplaceLastStatusLine(" Erasing All Program Memory... OK.");
    return ceOK;
}

ClockError ProgramTransfer::TerminateProgramMode()
{
    PollState& ps = ctx_.ps;
    ctx_.status.AddStatusLine(" Terminating Program Mode... ");
    const int length = BuildRequest(ctx_.exchange.Request(), Station(), commands_.terminate);
    ClockError result = ceBusy;
    // Not ExchangeWithRetries: a frame that could not be sent is tried again; no attempt is shown.
    for (int attempt = 0; result != ceOK && attempt < kTerminateAttempts; ++attempt) {
        if (ctx_.exchange.SendRequest(length) != ceOK) {
            result = cePortTransmitter;
            continue;
        }
        result = AwaitDigits(kTerminateTicks);
        if (result != ceOK)
            continue;
        const std::span<const uint8_t> rx = ctx_.exchange.Reply();
        if (static_cast<int32_t>(rx[0]) != ps.StationByte)
            result = ceWrongStation;
        else if (IsTerminateEcho(rx[1]))
            return ceOK;
        else
            result = ceWrongCommand;
    }
    return result;
}
