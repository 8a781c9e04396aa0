#include "LinkMenus.h"

#include "app/Settings.h"
#include "core/Platform.h"
#include "core/StatusDisplay.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace {

struct BaudItem {
    const char* name;
    int rate;
};
const BaudItem kBaudItems[] = {{"N96001", 9600}, {"N48001", 4800}, {"N24001", 2400}, {"N12001", 1200}};

std::string BaudText(int rate)
{
    return "Baud " + std::to_string(rate);
}

}  // namespace

LinkMenus::LinkMenus(QMenu& options, IStatusDisplay& status, Settings& settings, ITimer& timer2,
                     SerialPortList ports)
    : status_(status), settings_(settings), timer2_(timer2), ports_(std::move(ports))
{
    QMenu* baud = options.addMenu("&Baud Rate");
    baud->setObjectName("BaudRate1");
    baudGroup_ = new QActionGroup(baud);
    baudGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    for (size_t i = 0; i < baudItems_.size(); ++i) {
        const BaudItem& b = kBaudItems[i];
        QAction* item = baud->addAction(QString::number(b.rate));
        item->setObjectName(b.name);
        item->setCheckable(true);
        baudGroup_->addAction(item);
        QObject::connect(item, &QAction::triggered, item, [this, rate = b.rate] { BaudClick(rate); });
        baudItems_[i] = item;
    }
    baudItems_[0]->setChecked(true);

    QMenu* port = options.addMenu("&Comm Port");
    port->setObjectName("CommPort1");
    portGroup_ = new QActionGroup(port);
    portGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    network_ = port->addAction("Network");
    network_->setObjectName("Network");
    network_->setCheckable(true);
    portGroup_->addAction(network_);
    QObject::connect(network_, &QAction::triggered, network_, [this] { NetworkClick(); });
    for (int n = 1; n <= kCommPorts; ++n) {
        QAction* item = port->addAction(QString("Comm%1").arg(n));
        item->setObjectName(QString("Comm%1").arg(n));
        item->setCheckable(true);
        portGroup_->addAction(item);
        QObject::connect(item, &QAction::triggered, item, [this, n] { CommClick(n); });
        comm_[n] = item;
    }
    comm_[1]->setChecked(true);

    timer2_.OnTimer = [this] { RefreshPorts(); };
}

LinkMenus::~LinkMenus()
{
    timer2_.SetEnabled(false);
    timer2_.OnTimer = nullptr;
}

void LinkMenus::ApplyRemembered(int baudRate, int port)
{
    CheckBaud(baudRate);
    if (port == 0) {
        network_->setChecked(true);
        status_.SetPanel(Panel::Port, "Network");
    } else if (port >= 1 && port <= kCommPorts) {
        comm_[port]->setChecked(true);
        status_.SetPanel(Panel::Port, "Comm " + std::to_string(port));
    } else if (QAction* checked = portGroup_->checkedAction()) {
        // Rather no item than one the operator never chose.
        checked->setChecked(false);
    }
}

void LinkMenus::CheckBaud(int rate)
{
    // A speed the menu does not offer checks its last item, 1200.
    size_t chosen = baudItems_.size() - 1;
    for (size_t i = 0; i < baudItems_.size(); ++i)
        if (kBaudItems[i].rate == rate)
            chosen = i;
    baudItems_[chosen]->setChecked(true);
    status_.SetPanel(Panel::Baud, BaudText(kBaudItems[chosen].rate));
}

void LinkMenus::BaudClick(int rate)
{
    CheckBaud(rate);
    settings_.WriteInt("BaudRate", rate);
}

void LinkMenus::NetworkClick()
{
    network_->setChecked(true);
    status_.SetPanel(Panel::Port, "Network");
    status_.SetPanel(Panel::Baud, "");
    settings_.WriteInt("Port", 0);
}

void LinkMenus::CommClick(int n)
{
    if (n < 1 || n > kCommPorts)
        return;
    comm_[n]->setChecked(true);
    status_.SetPanel(Panel::Port, "Comm " + std::to_string(n));
    settings_.WriteInt("Port", n);
}

void LinkMenus::PanelsFromSelections()
{
    if (NetworkSelected())
        return;
    if (const int rate = CheckedBaudRate())
        status_.SetPanel(Panel::Baud, BaudText(rate));
    if (int port = CheckedCommPort())
        status_.SetPanel(Panel::Port, "Comm " + std::to_string(port));
}

bool LinkMenus::NetworkSelected() const
{
    return network_->isChecked();
}

void LinkMenus::SetNetworkSelected(bool on)
{
    network_->setChecked(on);
}

int LinkMenus::CheckedCommPort() const
{
    for (int n = 1; n <= kCommPorts; ++n)
        if (comm_[n]->isChecked())
            return n;
    return 0;
}

bool LinkMenus::PortItemEnabled(int n) const
{
    return n >= 1 && n <= kCommPorts && comm_[n]->isEnabled();
}

int LinkMenus::CheckedBaudRate() const
{
    for (size_t i = 0; i < baudItems_.size(); ++i)
        if (baudItems_[i]->isChecked())
            return kBaudItems[i].rate;
    return 0;
}

int LinkMenus::ShownBaudRate() const
{
    // A single command runs in command mode, which is entered through PanelsFromSelections:
    // the speed panel then shows the checked item, or nothing while "Network" is checked.
    const int rate = NetworkSelected() ? 0 : CheckedBaudRate();
    return rate != 0 ? rate : 9600;
}

void LinkMenus::RefreshPorts()
{
    std::set<int> ports = ports_.existing();
    // Device paths are looked up again only when the set of ports changes: each lookup
    // may probe the machine's serial devices.
    const bool changed = !portsListed_ || ports != existingPorts_;
    existingPorts_ = std::move(ports);
    portsListed_ = true;
    for (int n = 1; n <= kCommPorts; ++n) {
        comm_[n]->setEnabled(existingPorts_.count(n) > 0);
        if (changed)
            comm_[n]->setStatusTip(QString::fromStdString(ports_.devicePath(n)));
    }
}

void LinkMenus::SetPortRefreshEnabled(bool on)
{
    timer2_.SetEnabled(on);
}

bool LinkMenus::PortRefreshEnabled() const
{
    return timer2_.Enabled();
}
