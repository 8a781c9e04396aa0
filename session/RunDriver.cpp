#include "RunDriver.h"

#include "interpreter/CommandTable.h"
#include "commands/ResultFile.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "core/ClockError.h"
#include "link/Exchange.h"
#include "link/Ipv4Address.h"
#include "session/RunUi.h"

#include <exception>
#include <iostream>

#include <sys/stat.h>

namespace {

// Whether both names reach the same file, whatever the path: links and "./" included.
bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {};
    struct stat sb {};
    return !a.empty() && !b.empty() && stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A station digit that is missing or a control character: written as '0', never as the
// byte itself, which would break the results line.
bool UsableDigitChar(int c)
{
    return c >= 0x20 && c != 0x7F;
}

}  // namespace

RunDriver::RunDriver(PollState& ps, IStatusDisplay& status, IRunUi& ui, ILinkSelection& selection,
                     IEventPump& pump, Exchange& exchange, ISerialLink& serial, INetConnection& net,
                     IModemControl& modem, std::function<void(char)> runCommand, IProgress& progress)
    : ps_(ps),
      status_(status),
      ui_(ui),
      selection_(selection),
      pump_(pump),
      exchange_(exchange),
      serial_(serial),
      net_(net),
      modem_(modem),
      runCommand_(std::move(runCommand)),
      progress_(progress)
{
}

void RunDriver::Run()
{
    if (ui_.CommandModeChecked())
        RunSingleCommand();
    else if (ui_.CommandFileModeChecked())
        RunCommandFile();
}

bool RunDriver::CloseLinks()
{
    try {
        serial_.Close();
    } catch (const std::exception&) {
        ps_.PollStatus = cePortTransmitter;
        return false;
    }
    net_.Deactivate();
    return true;
}

void RunDriver::RunSingleCommand()
{
    ui_.SetPortRefreshEnabled(false);
    status_.SetPanel(Panel::Retry, "Retry 0");

    ps_.BaudRate = ui_.SelectedBaudRate();
    const bool network = selection_.NetworkSelected();
    if (!network && ui_.CheckedCommPort() == 0) {
        // No link chosen (a remembered port this computer does not offer): opening the
        // remembered number would reach a port the operator cannot see.
        ps_.PollStatus = cePortTransmitter;
        status_.AddStatusLine("No Comm Port Selected!!");
        ui_.SetRunControlsEnabled(true);
        ui_.SetPortRefreshEnabled(true);
        return;
    }
    if (!network)
        ps_.Port = ui_.CheckedCommPort();

    ClockError opened = ceOK;
    if (network) {
        opened = net_.Connect();
    } else {
        try {
            OpenSerialPort();
        } catch (const std::exception&) {
            opened = cePortTransmitter;
            ui_.SetRunControlsEnabled(true);
        }
    }

    const CommandEntry* chosen = ListEntry(ui_.CommandIndex());
    ps_.CommandCode = chosen ? chosen->letter : 0;
    ps_.CommandKeyword = chosen ? chosen->texts.memoName : "";
    ps_.SetStation(ui_.StationNumber());
    ps_.InputFileName = ui_.Edit2Text();

    // A modem answering on a port meant for a direct clock line would swallow the
    // frames: anything that answers "ATZ" refuses the run.
    if (!network && opened == ceOK) {
        exchange_.ClearReceive();
        try {
            static const uint8_t kAtz[] = {'A', 'T', 'Z', '\r'};
            serial_.SendData(kAtz, 4);
            exchange_.WaitSeconds(1);
            if (!exchange_.Received().empty())
                opened = cePortTransmitter;
        } catch (const std::exception&) {
            opened = cePortTransmitter;
        }
    }

    ps_.PollStatus = opened;
    if (opened == cePortTransmitter) {
        status_.AddStatusLine(network ? "Network Port Initialisation Error!!"
                                      : "Port Initialisation Error, Modem Connected!!");
        // Leave no port open or connection pending behind a refused run.
        CloseLinks();
        ps_.PollStatus = cePortTransmitter;
    } else {
        runCommand_(ps_.CommandCode);
        if (CloseLinks())
            status_.AddStatusLine("Finished");
    }
    ui_.SetPortRefreshEnabled(true);
}

void RunDriver::RunCommandFile()
{
    ui_.SetPortRefreshEnabled(false);
    const std::string commandFile = CommandFileName();
    if (SameFile(commandFile, ps_.LogFileName)) {
        // Result lines appended to the command file would be read back as commands.
        std::cerr << "quorvex: the results file " << ps_.LogFileName << " is the command file " << commandFile
                  << "; nothing was run" << std::endl;
        ps_.ResultFailed = true;
    } else if (!reader_.Open(commandFile)) {
        ps_.CommandKeyword.clear();
        WriteResultLine(ps_, ceCantOpenFile, 0);
        status_.AddStatusLine("Can't Open Command File!!");
    } else {
        // The file is read through once first, only to count its commands.
        const ProgressScope progress(progress_, "Commands of the command file done", "commands",
                                     CommandFileReader::CountCommandLines(commandFile));
        // One command line per pass, until the file ends or cannot be read on.
        bool goOn = true;
        while (goOn) {
            goOn = RunCommandLine() && !reader_.AtEnd();
            progress_.Step(reader_.CommandLinesRead(), "");
        }
        CloseCommandFile();
    }
    status_.AddStatusLine("Finished");
    net_.Deactivate();
    ui_.SetPortRefreshEnabled(true);
}

std::string RunDriver::CommandFileName()
{
    if (!ps_.Unattended) {
        ps_.InputFileName = ui_.Edit1Text();
        return ps_.InputFileName;
    }
    // The two command-line arguments; InputFileName is reused by every command.
    const std::string commandFile = ps_.InputFileName;
    ui_.SetEdit1Text(commandFile);
    ui_.SetEdit2Text(ps_.LogFileName);
    pump_.PumpPending();
    return commandFile;
}

bool RunDriver::RunCommandLine()
{
    ps_.CommandCode = 0;
    const CommandFileReader::Token token = reader_.ReadToken(kCommandTokenMax);
    // A line cut short by a read error is not run as if it were whole.
    if (reader_.ReadFailed())
        return false;
    status_.SetPanel(Panel::Retry, "Retry 0");
    ps_.CommandKeyword = token.text;
    const bool init = token == "init_clock";
    if (init)
        InitClock();
    if (ps_.SkipToNextInit)
        return true;
    pump_.PumpPending();
    if (!init)
        status_.AddStatusLine(token.text);
    if (!selection_.NetworkSelected()) {
        try {
            serial_.ClearInputBuffer();
        } catch (const std::exception&) {
        }
    }
    if (token.overLong) {
        // Longer than any keyword: the line cannot be what its writer meant.
        ReportParameterError();
        return true;
    }
    return init || RunKeyword(token);
}

bool RunDriver::RunKeyword(const CommandFileReader::Token& keyword)
{
    parameterError_ = false;
    const char code = ReadParameters(keyword);
    if (reader_.ReadFailed())
        return false;
    if (parameterError_)
        ReportParameterError();
    else if (code != 0)
        runCommand_(code);
    return true;
}

void RunDriver::CloseCommandFile()
{
    if (reader_.ReadFailed()) {
        ps_.CommandKeyword.clear();
        WriteResultLine(ps_, ceCantOpenFile, 0);
        status_.AddStatusLine("Can't Read Command File!!");
    }
    if (ps_.ModemInUse)
        modem_.ModemReset();
    reader_.Close();
    modem_.CloseModemFile();
    CloseLinks();
}

void RunDriver::OpenSerialPort()
{
    serial_.SelectPort(ps_.Port, ps_.BaudRate);
    serial_.Open();
    serial_.ClearInputBuffer();
    serial_.ClearOutputBuffer();
}

void RunDriver::ReportParameterError()
{
    WriteResultLine(ps_, ceCommandFile, 0);
}

bool RunDriver::ReadFileNameParameter()
{
    const auto name = reader_.ReadToken(kFileNameMax);
    // A NUL would end the name early at the system and name another file.
    if (name.overLong || name.text.find('\0') != std::string::npos || reader_.ReadFailed()) {
        parameterError_ = true;
        return false;
    }
    ps_.InputFileName = name.text;
    return true;
}

char RunDriver::ReadParameters(const CommandFileReader::Token& keyword)
{
    const CommandEntry* entry = FindKeyword(keyword.text);
    if (entry == nullptr)
        return 0;
    switch (entry->parameter) {
        case Parameter::None:
            return entry->letter;
        case Parameter::FileName:
            return ReadFileNameParameter() ? entry->letter : 0;
        case Parameter::OnOff: {
            const auto value = reader_.ReadToken(kParameterTokenMax);
            const CommandEntry* chosen =
                value.overLong ? nullptr : FindKeywordValue(keyword.text, value.text);
            if (chosen == nullptr) {
                parameterError_ = true;
                return 0;
            }
            return chosen->letter;
        }
        case Parameter::JobNumbers: {
            if (!ReadFileNameParameter())
                return 0;
            const int selector = reader_.AtEnd() ? CommandFileReader::kEnd : reader_.ReadChar();
            if (!reader_.AtEnd())
                reader_.ReadChar();
            if (selector != '1' && selector != '2') {
                parameterError_ = true;
                return 0;
            }
            ps_.JobTableDigit = static_cast<char>(selector);
            return entry->letter;
        }
        case Parameter::AccessCode: {
            const auto code = reader_.ReadToken(kParameterTokenMax);
            if (code.overLong || !ps_.SetAccessCode(code.text)) {
                parameterError_ = true;
                return 0;
            }
            return entry->letter;
        }
    }
    return 0;
}

void RunDriver::InitClock()
{
    ps_.SkipToNextInit = false;
    ClockError result = ceOK;

    const int d1 = reader_.ReadChar();
    const int d2 = reader_.ReadChar();
    const bool usable = UsableDigitChar(d1) && UsableDigitChar(d2);
    ps_.StationDigits = usable ? std::array<char, 2>{static_cast<char>(d1), static_cast<char>(d2)}
                               : std::array<char, 2>{'0', '0'};
    ps_.StationByte = (d1 - '0') * 10 + (d2 - '0') + 192;
    if (!usable)
        ps_.StationByte = 0;
    if (ps_.StationByte < 192 || ps_.StationByte > 225)
        result = ceCommandFile;
    else
        status_.SetPanel(Panel::Station, "Station " + std::to_string(ps_.StationByte - 192));

    if (!reader_.AtEnd())
        reader_.ReadChar();  // the separator before the link token
    const auto link = reader_.AtEnd() ? CommandFileReader::Token{} : reader_.ReadToken(kParameterTokenMax);

    // A line cut by a read error opens nothing; the run reports the error when it stops.
    if (reader_.ReadFailed())
        result = ceCantOpenFile;
    else if (!link.overLong && link.text.rfind("IP", 0) == 0)
        result = InitClockNetwork(link.text, result);
    else
        result =
            InitClockSerial(link.overLong ? std::string(kParameterTokenMax + 1, '?') : link.text, result);
    if (reader_.ReadFailed())
        result = ceCantOpenFile;

    ps_.PollStatus = result;
    if (result != ceOK) {
        ps_.SkipToNextInit = true;
        if (!reader_.ReadFailed())
            WriteResultLine(ps_, result, ps_.InputLineNumber);
        CloseLinks();
        if (ps_.NetworkWasSelected) {
            selection_.SetNetworkSelected(true);
            ps_.NetworkWasSelected = false;
        }
    } else {
        WriteResultLine(ps_, ceOK, 0);
        ps_.SkipToNextInit = false;
    }
}

ClockError RunDriver::InitClockNetwork(const std::string& linkToken, ClockError station)
{
    net_.Deactivate();
    ps_.Port = 0;
    // The address is the rest of the token as written: what the check accepts is exactly
    // what the socket is asked to reach.
    const std::string address = linkToken.substr(2);
    ps_.IPAddress = address;
    // A station outside the clocks' range fails here too rather than addressing a
    // clock with a station byte no clock answers to.
    if (station != ceOK)
        return station;
    if (address.empty())
        return cePortTransmitter;
    // An address the socket would refuse is a fault of the file, found before any connect.
    if (!ParseIpv4Address(address)) {
        status_.AddStatusLine("Error connecting to:" + address);
        return ceCommandFile;
    }
    return net_.Connect();
}

ClockError RunDriver::InitClockSerial(const std::string& linkToken, ClockError station)
{
    ClockError result = station;
    if (linkToken.size() != 4 && linkToken.size() != 5)
        result = ceCommandFile;
    if (selection_.NetworkSelected()) {
        selection_.SetNetworkSelected(false);
        ps_.NetworkWasSelected = true;
    }

    const std::string digits = linkToken.size() >= 4 ? linkToken.substr(3, 2) : std::string();
    int port = 0;
    if (digits.size() == 1 && digits[0] >= '1' && digits[0] <= '9')
        port = digits[0] - '0';
    else if (digits.size() == 2 && digits[0] >= '1' && digits[0] <= '2' && digits[1] >= '0' &&
             digits[1] <= '9')
        port = (digits[0] - '0') * 10 + (digits[1] - '0');
    if (port >= 1 && port <= 20)
        ps_.Port = port;
    else
        result = ceCommandFile;

    const auto baud = reader_.AtEnd() ? CommandFileReader::Token{} : reader_.ReadToken(kParameterTokenMax);
    const int baudEnd = reader_.LastChar();
    if (reader_.ReadFailed())
        return result;
    if (baud == "9600" || baud == "4800" || baud == "2400" || baud == "1200")
        ps_.BaudRate = std::stoi(baud.text);
    else
        result = ceCommandFile;

    // A missing port is a link failure; a malformed line stays a command-file error.
    if (result == ceOK && !ui_.PortItemEnabled(ps_.Port)) {
        result = cePortTransmitter;
        // The port is refused without opening it, so say here why it is missing.
        if (const std::string why = serial_.UnavailableReason(ps_.Port); !why.empty())
            std::cerr << why << std::endl;
    }

    status_.AddStatusLine("");
    status_.AddStatusLine("Station " + std::to_string(ps_.StationByte - 192) + ", Port " +
                          std::to_string(ps_.Port) + ", Baud " + std::to_string(ps_.BaudRate));
    if (result != ceOK) {
        status_.AddStatusLine("Error connecting to Comm Port:" + std::to_string(ps_.Port));
        return result;
    }
    try {
        OpenSerialPort();
        status_.SetPanel(Panel::Port, "Comm " + std::to_string(ps_.Port));
        status_.SetPanel(Panel::Baud, "Baud " + std::to_string(ps_.BaudRate));
        if (ps_.ModemInUse)
            modem_.ModemReset();
        if (baudEnd == ' ') {
            if (!ReadFileNameParameter())
                return ceCommandFile;
            if (ps_.InputFileName.size() > 3) {
                status_.AddStatusLine("Modem Dialing - Please Wait...");
                result = modem_.ModemConnect();
                if (result != ceOK)
                    status_.ReplaceLastStatusLine("Modem Not Connected");
                serial_.ClearInputBuffer();
                modem_.CloseModemFile();
            }
        }
    } catch (const std::exception&) {
        return cePortTransmitter;
    }
    return result;
}
