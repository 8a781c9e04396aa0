// The run behind "Poll Clock": opens the link to a clock, sets the station, hands each
// command to the interpreter and closes the link again, either for the one command chosen
// in the window or for a whole command file whose init_clock lines name station and link.
#pragma once

#include "session/CommandFileReader.h"

#include <cstdint>
#include <functional>
#include <string>

struct PollState;
class IStatusDisplay;
class IRunUi;
class ILinkSelection;
class IEventPump;
class Exchange;

// The serial-port operations a run needs.
class IRunSerial {
public:
    virtual ~IRunSerial() = default;
    // Selects port n (CommN) and the speed for the next Open.
    virtual void Select(int port, int baudRate) = 0;
    // Opens the selected port; throws std::exception when it cannot.
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void ClearInput() = 0;
    virtual void ClearOutput() = 0;
    // Writes bytes as they are (no frame, no preamble); throws when the port is not open.
    virtual void SendRaw(const uint8_t* data, int count) = 0;
};

// Opening and closing the TCP link.
class INetConnector {
public:
    virtual ~INetConnector() = default;
    // Connects to PollState::IPAddress; returns 0 when connected, 10 on time-out.
    virtual int Connect() = 0;
    virtual void Deactivate() = 0;
};

// The dial-up modem on the serial line.
class IModemControl {
public:
    virtual ~IModemControl() = default;
    virtual int ModemConnect() = 0;
    virtual void ModemReset() = 0;
    virtual void CloseModemFile() = 0;
};

class RunDriver {
public:
    // Longest tokens kept: a command keyword, a parameter, a file name. File names are
    // kept whole up to the longest path the system accepts; a longer token is refused.
    static constexpr size_t kCommandTokenMax = 20;
    static constexpr size_t kParameterTokenMax = 30;
    static constexpr size_t kFileNameMax = 4096;

    RunDriver(PollState& ps, IStatusDisplay& status, IRunUi& ui, ILinkSelection& selection, IEventPump& pump,
              Exchange& exchange, IRunSerial& serial, INetConnector& net, IModemControl& modem,
              std::function<void(char)> runCommand);

    // Single-command or command-file mode, as the window's radio buttons say.
    void Run();
    void RunSingleCommand();
    void RunCommandFile();

    // The letter for an entry of the window's command list.
    static char CommandCodeForIndex(int index);

private:
    void InitClock();
    void InitClockNetwork(const std::string& linkToken);
    void InitClockSerial(const std::string& linkToken);
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
    IRunSerial& serial_;
    INetConnector& net_;
    IModemControl& modem_;
    std::function<void(char)> runCommand_;
    CommandFileReader reader_;
    bool parameterError_ = false;
};
