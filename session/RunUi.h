// What the run driver and clock discovery need of the main window's controls and menus.
// The window implements it with widgets; tests use a plain struct.
#pragma once

#include <string>

class IRunUi {
public:
    virtual ~IRunUi() = default;
    virtual bool CommandModeChecked() const = 0;      // CommandRadioButton
    virtual bool CommandFileModeChecked() const = 0;  // CommandFileRadioButton
    virtual int CommandIndex() const = 0;             // CommandComboBox entry, 0..7
    virtual int StationNumber() const = 0;            // StationComboBox, 1..30
    virtual std::string Edit1Text() const = 0;        // command file name
    virtual std::string Edit2Text() const = 0;        // input file name
    virtual void SetEdit1Text(const std::string& text) = 0;
    virtual void SetEdit2Text(const std::string& text) = 0;
    // The serial speed of a single command: the checked baud item, which command mode
    // shows on the status bar; 9600 while the network link is checked.
    virtual int SelectedBaudRate() const = 0;
    // Number n of the checked "Comm"n item, 0 when none is checked.
    virtual int CheckedCommPort() const = 0;
    // Whether the "Comm"n item is enabled (the port exists on this computer).
    virtual bool PortItemEnabled(int n) const = 0;
    // Enables or disables the controls a run or search must not be restarted from
    // (PollButton, FindButton, the mode radio buttons, the two lists, the menus).
    virtual void SetRunControlsEnabled(bool on) = 0;
    // Starts or stops the one-second serial port refresh (Timer2).
    virtual void SetPortRefreshEnabled(bool on) = 0;
};

// What clock discovery changes on the window beyond what a run does.
class IFindUi {
public:
    virtual ~IFindUi() = default;
    virtual void SetAbortEnabled(bool on) = 0;     // AbortButton
    virtual void SetSkipPortEnabled(bool on) = 0;  // SkipPortButton
    // Leaves neither mode radio button checked.
    virtual void UncheckModes() = 0;
    // Panels 2 and 3 from the checked port and baud items (the speed panel shows the last
    // speed a search tried until then).
    virtual void ShowCheckedLink() = 0;
};
