// The run behind "Poll Clock": opens the link to a clock, sets the station, hands each
// command to the interpreter and closes the link again, either for the one command chosen
// in the window or for a whole command file whose init_clock lines name station and link.
#pragma once

#include "core/ClockError.h"
#include "core/Progress.h"
#include "link/Transport.h"
#include "session/CommandFileReader.h"
#include "session/ModemLink.h"

#include <cstdint>
#include <functional>
#include <string>

struct PollState;
class IStatusDisplay;
class IRunUi;
class IEventPump;
class Exchange;

class RunDriver {
public:
    // Longest tokens kept: a command keyword, a parameter, a file name. File names are
    // kept whole up to the longest path the system accepts; a longer token is refused.
    static constexpr size_t kCommandTokenMax = 20;
    static constexpr size_t kParameterTokenMax = 30;
    static constexpr size_t kFileNameMax = 4096;

    RunDriver(PollState& ps, IStatusDisplay& status, IRunUi& ui, ILinkSelection& selection, IEventPump& pump,
              Exchange& exchange, ISerialLink& serial, INetConnection& net, IModemControl& modem,
              std::function<void(char)> runCommand, IProgress& progress = NoProgress());

    // Single-command or command-file mode, as the window's radio buttons say.
    void Run();
    void RunSingleCommand();
    void RunCommandFile();

private:
    // The command file to run: the first command-line argument when unattended (shown in
    // the window with the results file), otherwise the window's.
    std::string CommandFileName();
    // Reads one command line and runs it; false when the file could not be read on.
    bool RunCommandLine();
    // Reads a keyword's parameters and runs its command; false when the file could not be
    // read on.
    bool RunKeyword(const CommandFileReader::Token& keyword);
    // Reports a read error, resets the modem and closes the file and the links.
    void CloseCommandFile();
    // Selects, opens and empties the chosen serial port at the chosen speed; throws what
    // the port throws.
    void OpenSerialPort();
    // init_clock: reads station and link, opens the link and stores the line's result in
    // PollStatus. The two link steps return their result; `station` is the station
    // check's, which a network line returns before touching the link.
    void InitClock();
    ClockError InitClockNetwork(const std::string& linkToken, ClockError station);
    ClockError InitClockSerial(const std::string& linkToken, ClockError station);
    // Reads the parameters of a command-file keyword; returns its letter (0 = none).
    char ReadParameters(const CommandFileReader::Token& keyword);
    bool ReadFileNameParameter();
    void ReportParameterError();
    // Closes the serial port and the socket; false when closing the port failed.
    bool CloseLinks();

    PollState& ps_;
    IStatusDisplay& status_;
    IRunUi& ui_;
    ILinkSelection& selection_;
    IEventPump& pump_;
    Exchange& exchange_;
    ISerialLink& serial_;
    INetConnection& net_;
    IModemControl& modem_;
    std::function<void(char)> runCommand_;
    // Told how many of the command file's commands are done.
    IProgress& progress_;
    CommandFileReader reader_;
    bool parameterError_ = false;
};
