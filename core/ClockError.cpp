#include "ClockError.h"

namespace {
// Indexed by code; several texts begin with a blank or are a single blank on purpose.
const char* const kTexts[kClockErrorCount] = {
    "OK",
    "No Data Received from Clock",
    "CRC Data Error",
    "Wrong Station Replied",
    "Clock Received Data Error",
    "Clock Busy",
    "Wrong Command Received",
    "Data Packet terminator Error",
    "Disk Write Error",
    "Can't Open File",
    "Port Transmitter Error",
    "Checksum Error",
    "Command File Error",
    "Modem Connected",
    "Modem did not Reply",
    "Modem Ring",
    "Modem has not detected a Carrier",
    "Modem Error",
    "Modem has not detected a Dial Tone",
    "Modem is Busy",
    "Modem has not received an Answer",
    "Modem string File Error",
    "Input File Error Line: ",
    " Program Error",
    "Finger Template Error",
    " ",
    "Finger Memory Full",
    "Finger Limit Reached",
    "Finger Module Error",
    "Delete Templates Error",
    "User Terminated",
    "",
    "Can't Open Log File",
};
}  // namespace

const char* ClockErrorText(ClockError error)
{
    const int code = ClockErrorNumber(error);
    if (code < 0 || code >= kClockErrorCount)
        return "";
    return kTexts[code];
}
