// The window's controls as a search sees them, in plain fields: which serial ports exist,
// and whether the run controls, the port refresh and the two find buttons are on.
#pragma once

#include "session/RunUi.h"

#include <set>
#include <string>

struct FakeFindUi : IRunUi, IFindUi {
    std::set<int> ports;
    bool controls = true, refresh = true, abort = false, skip = false, modes = true;
    int linkShown = 0;
    bool CommandModeChecked() const override { return modes; }
    bool CommandFileModeChecked() const override { return false; }
    int CommandIndex() const override { return 0; }
    int StationNumber() const override { return 7; }
    std::string Edit1Text() const override { return {}; }
    std::string Edit2Text() const override { return {}; }
    void SetEdit1Text(const std::string&) override {}
    void SetEdit2Text(const std::string&) override {}
    int SelectedBaudRate() const override { return 9600; }
    int CheckedCommPort() const override { return 1; }
    bool PortItemEnabled(int n) const override { return ports.count(n) > 0; }
    void SetRunControlsEnabled(bool on) override { controls = on; }
    void SetPortRefreshEnabled(bool on) override { refresh = on; }
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
