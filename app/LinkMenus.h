// The "Baud Rate" and "Comm Port" menus: which link and speed the operator chose, shown in
// status panels 2 and 3 and remembered at once; the "Network" item as the link selection;
// and the one-second refresh that enables only the items of serial ports that exist.
#pragma once

#include "link/Transport.h"

#include <array>
#include <functional>
#include <set>
#include <string>

class IStatusDisplay;
class ITimer;
class QAction;
class QActionGroup;
class QMenu;
class Settings;

// Where the port menu learns which serial ports exist and which device each one is.
struct SerialPortList {
    std::function<std::set<int>()> existing;
    std::function<std::string(int)> devicePath;
};

class LinkMenus : public ILinkSelection {
public:
    static constexpr int kCommPorts = 20;

    // Adds the two submenus to options; "9600" and "Comm1" start checked. timer2 is the
    // one-second refresh, which starts with StartPortRefresh.
    LinkMenus(QMenu& options, IStatusDisplay& status, Settings& settings, ITimer& timer2,
              SerialPortList ports);
    ~LinkMenus() override;
    LinkMenus(const LinkMenus&) = delete;
    LinkMenus& operator=(const LinkMenus&) = delete;

    // Checks the items for a remembered speed and port and shows them. An unknown speed
    // checks "1200"; a port this menu cannot offer leaves no port item checked.
    void ApplyRemembered(int baudRate, int port);

    void BaudClick(int rate);
    void NetworkClick();
    void CommClick(int n);
    // Panels 2 and 3 from the checked port and baud items, unless "Network" is checked.
    void PanelsFromSelections();

    bool NetworkSelected() const override;
    void SetNetworkSelected(bool on) override;
    // Number n of the checked "Comm"n item, 0 when none is checked.
    int CheckedCommPort() const;
    bool PortItemEnabled(int n) const;
    // The speed the baud panel shows in command mode: the checked item's, 9600 while
    // "Network" is checked.
    int ShownBaudRate() const;

    // Enables the items of the ports that exist now, and shows each item's device path.
    void RefreshPorts();
    void SetPortRefreshEnabled(bool on);
    bool PortRefreshEnabled() const;

private:
    void CheckBaud(int rate);
    // Speed of the checked baud item, 0 when none is checked.
    int CheckedBaudRate() const;

    IStatusDisplay& status_;
    Settings& settings_;
    ITimer& timer2_;
    SerialPortList ports_;
    bool portsListed_ = false;
    // The serial ports found by the last refresh.
    std::set<int> existingPorts_;

    QActionGroup* baudGroup_ = nullptr;
    QActionGroup* portGroup_ = nullptr;
    std::array<QAction*, 4> baudItems_{};  // 9600, 4800, 2400, 1200
    QAction* network_ = nullptr;
    std::array<QAction*, kCommPorts + 1> comm_{};  // comm_[1]..comm_[20]
};
