// The program's single result code and the texts shown for it in memo and result lines.
#pragma once

#include <string>

enum class ClockError : int {
    ceOK = 0,
    ceNoData = 1,
    ceCrc = 2,
    ceWrongStation = 3,
    ceClockReceivedDataError = 4,
    ceBusy = 5,
    ceWrongCommand = 6,
    ceTerminator = 7,
    ceDiskWrite = 8,
    ceCantOpenFile = 9,
    cePortTransmitter = 10,
    ceChecksum = 11,
    ceCommandFile = 12,
    ceModemConnected = 13,
    ceModemNoReply = 14,
    ceModemRing = 15,
    ceModemNoCarrier = 16,
    ceModemError = 17,
    ceModemNoDialTone = 18,
    ceModemBusy = 19,
    ceModemNoAnswer = 20,
    ceModemStringFile = 21,
    ceInputFileLine = 22,
    ceProgram = 23,
    ceFingerTemplate = 24,
    ceFingerBlank = 25,
    ceFingerMemoryFull = 26,
    ceFingerLimit = 27,
    ceFingerModule = 28,
    ceDeleteTemplates = 29,
    ceUserTerminated = 30,
    ceFingerEmpty = 31,
    ceCantOpenLogFile = 32,
};

// The program names the codes without the type's name.
using enum ClockError;

constexpr int kClockErrorCount = 33;

// The number of a code, as results lines and the exit status write it.
constexpr int ClockErrorNumber(ClockError code)
{
    return static_cast<int>(code);
}

// Text of a code; codes outside 0..32 give an empty text.
const char* ClockErrorText(ClockError error);
