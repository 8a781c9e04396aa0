// The window's controls as a run and a search see them, in plain fields: the mode, command
// and station chosen, which serial ports exist, and whether the run controls, the port
// refresh and the two find buttons are on.
#pragma once

#include "session/RunUi.h"

#include <set>
#include <string>

struct FakeRunUi : IRunUi {
    bool commandMode = false, fileMode = true;  // which mode radio button is checked
    int commandIndex = 0, station = 1, baud = 9600, checkedPort = 1;
    std::string edit1, edit2;
    std::set<int> ports;  // the serial ports that exist
    bool controls = true, refresh = true;
    bool CommandModeChecked() const override { return commandMode; }
    bool CommandFileModeChecked() const override { return fileMode; }
    int CommandIndex() const override { return commandIndex; }
    int StationNumber() const override { return station; }
    std::string Edit1Text() const override { return edit1; }
    std::string Edit2Text() const override { return edit2; }
    void SetEdit1Text(const std::string& t) override { edit1 = t; }
    void SetEdit2Text(const std::string& t) override { edit2 = t; }
    int SelectedBaudRate() const override { return baud; }
    int CheckedCommPort() const override { return checkedPort; }
    bool PortItemEnabled(int n) const override { return ports.count(n) > 0; }
    void SetRunControlsEnabled(bool on) override { controls = on; }
    void SetPortRefreshEnabled(bool on) override { refresh = on; }
};

struct FakeFindUi : FakeRunUi, IFindUi {
    bool abort = false, skip = false, modes = true;  // modes: until UncheckModes
    int linkShown = 0;
    void SetAbortEnabled(bool on) override { abort = on; }
    void SetSkipPortEnabled(bool on) override { skip = on; }
    void UncheckModes() override { modes = false; }
    void ShowCheckedLink() override { ++linkShown; }
    // "controls refresh abort skip" as 0/1.
    std::string State() const
    {
        return std::to_string(controls) + std::to_string(refresh) + std::to_string(abort) +
               std::to_string(skip);
    }
};
