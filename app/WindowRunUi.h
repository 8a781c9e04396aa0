// What the run driver reads and changes of the window: the mode, command, station and file
// fields, the link menus, and the controls a run must not be restarted from.
#pragma once

#include "session/RunUi.h"

class LinkMenus;
class QMenu;
struct WindowControls;

class WindowRunUi : public IRunUi {
public:
    // menus: the "File" and "Options" menus, disabled with the run controls.
    WindowRunUi(const WindowControls& controls, LinkMenus& links, QMenu& fileMenu, QMenu& optionsMenu)
        : c_(controls), links_(links), fileMenu_(fileMenu), optionsMenu_(optionsMenu)
    {
    }

    bool CommandModeChecked() const override;
    bool CommandFileModeChecked() const override;
    int CommandIndex() const override;
    int StationNumber() const override;
    std::string Edit1Text() const override;
    std::string Edit2Text() const override;
    void SetEdit1Text(const std::string& text) override;
    void SetEdit2Text(const std::string& text) override;
    int SelectedBaudRate() const override;
    int CheckedCommPort() const override;
    bool PortItemEnabled(int n) const override;
    void SetRunControlsEnabled(bool on) override;
    void SetPortRefreshEnabled(bool on) override;

private:
    const WindowControls& c_;
    LinkMenus& links_;
    QMenu& fileMenu_;
    QMenu& optionsMenu_;
};
