// Dial-up modem on the serial link: initialises and dials the local modem from a modem
// string file and reads its numeric replies (ModemConnect), and hangs it up (ModemReset).
#pragma once

#include "core/ClockError.h"
#include "core/TextFile.h"

#include <functional>

struct PollState;
class Exchange;
class IStatusDisplay;

// Dialling and hanging up the modem, as the run driver needs it.
class IModemControl {
public:
    virtual ~IModemControl() = default;
    virtual ClockError ModemConnect() = 0;
    virtual void ModemReset() = 0;
    virtual void CloseModemFile() = 0;
};

class ModemLink : public IModemControl {
public:
    // setDtr drives the DTR line of the open serial port (false drops it).
    ModemLink(PollState& ps, Exchange& exchange, IStatusDisplay& status, std::function<void(bool)> setDtr);

    // Sends each line of the file named by InputFileName to the modem and reads its numeric
    // result; returns a ClockError code, 0 when the modem connected (or the file is empty).
    // The file stays open afterwards; CloseModemFile closes it.
    ClockError ModemConnect() override;
    void CloseModemFile() override;
    bool ModemFileOpen() const { return file_.IsOpen(); }

    // Tells the clock to drop its modem, then hangs up the local one by dropping DTR.
    void ModemReset() override;

    // Longest command line accepted: with its CR it must fit one SendFrame, which takes at
    // most 255 bytes.
    static constexpr int kMaxLineLength = 254;

private:
    // Reads one line into the exchange's request buffer. Returns its length, or -1 when it
    // does not fit or the file could not be read.
    int ReadLine(bool& endedAtEof, int& charsRead);
    // Waits until the modem has gone quiet: 80 ticks when nothing arrives, else 2 ticks
    // after the last byte; never more than 80 ticks in all.
    void AwaitModemReply();
    // The numeric result code at the end of the received bytes; -1 when nothing usable came.
    int ParseResult();
    ClockError MapResult(int result);
    void SetDtr(bool on);

    PollState& ps_;
    Exchange& exchange_;
    IStatusDisplay& status_;
    std::function<void(bool)> setDtr_;
    TextFile file_;
};
