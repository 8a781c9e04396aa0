// The one process-wide poll-state record shared by every subsystem: link, station,
// speed, the run's result, file names and flags. The frame buffers belong to the exchange.
#pragma once

#include "core/BoardKind.h"
#include "core/ClockError.h"

#include <array>
#include <cstdint>
#include <string>

struct PollState {
    // Selected link: 0 = network, 1..20 = serial port CommN.
    int32_t Port = 0;
    int32_t BaudRate = 0;
    // Station number + 192; its low byte opens every request and must open every reply.
    int32_t StationByte = 0;
    // Station number as two ASCII digits; "00" until a station has been chosen.
    std::array<char, 2> StationDigits{'0', '0'};
    // The run's result: written only by the interpreter (the command's returned result)
    // and by the run driver (the steps it runs itself: opening the link, init_clock, the
    // modem).
    ClockError PollStatus = ceOK;
    char CommandCode = 0;
    // File names are owned strings: a name cut to a fixed width names another file.
    std::string InputFileName;
    std::string LogFileName;
    int32_t InputLineNumber = 0;
    // Left by the program file check for the firmware transfer: the board kind of the file,
    // which status panel 4 shows.
    BoardKind ProgramBoard = BoardKind::None;
    // Up to six characters and a NUL.
    std::array<char, 7> AccessCode{'5', '0', '7', '3', '1', '6', '\0'};
    char JobTableDigit = 0;
    // Keyword of the current command-file line (at most 20 characters), used in result lines.
    std::string CommandKeyword;

    bool ModemInUse = false;
    bool AbortRequested = false;
    bool SkipPortRequested = false;
    bool NetworkWasSelected = false;
    int32_t RetryCount = 0;
    // Set when a result line with a code other than 0 was due, or a result line could
    // not be written; an unattended run then exits with status 1.
    bool ResultFailed = false;
    // The program was started with a command file and a results file.
    bool Unattended = false;
    // Commands of a command file are skipped until the next successful init_clock line.
    bool SkipToNextInit = true;

    std::string IPAddress;
    std::string LocalAddress;
    std::string GatewayAddress;
    std::string InputFile;
    std::string FingerLogFile;

    // Sets StationByte and StationDigits for station n (0..99).
    void SetStation(int n);
    // Station number derived from StationByte.
    int StationNumber() const { return StationByte - 192; }
    std::string StationDigitsText() const { return std::string(StationDigits.data(), 2); }
    std::string AccessCodeText() const;
    // Copies at most six characters into AccessCode; returns false (and keeps the old
    // code) when the text is longer than six characters.
    bool SetAccessCode(const std::string& code);

    // Restores every field to its start-up value.
    void Reset() { *this = PollState(); }
};

// The process-wide instance.
PollState& ThePollState();
