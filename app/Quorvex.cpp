#include "Quorvex.h"

#include "app/CommandChoice.h"
#include "app/FindClocksFront.h"
#include "app/LinkMenus.h"
#include "app/MemoStatusDisplay.h"
#include "app/StatusProgress.h"
#include "app/WindowControls.h"
#include "app/WindowRunUi.h"
#include "core/NetworkInfo.h"
#include "core/PollState.h"
#include "core/Progress.h"
#include "fingerprint/FingerLog.h"
#include "session/PollSession.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

#include <unistd.h>

namespace {

constexpr int kClientWidth = 475;
constexpr int kClientHeight = 431;

const Qt::WindowFlags kFrame = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

TQuorvex::TQuorvex(INetworkInfo& network, const WindowTiming& timing,
                   const std::vector<std::string>& arguments, QWidget* parent)
    : QMainWindow(parent), ps_(ThePollState()), unattended_(arguments.size() == 2), arguments_(arguments)
{
    setObjectName("Quorvex");
    setWindowTitle("Quorvex Version " QV_VERSION);
    setWindowFlags(kFrame | Qt::WindowMinimizeButtonHint);

    BuildMenus();
    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    controls_ = std::make_unique<WindowControls>(*client);
    setCentralWidget(client);
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar");
    bar->setAccessibleName("Status bar");
    bar->setSizeGripEnabled(false);
    status_ = std::make_unique<MemoStatusDisplay>(*controls_->Memo, *bar);
    setFixedSize(kClientWidth, kClientHeight);

    links_ = std::make_unique<LinkMenus>(*OptionsMenu, *status_, settings_, timing.timer2,
                                         SerialPortList{[this] { return session_->GetExistingCommPorts(); },
                                                        [this](int n) { return session_->DevicePath(n); }});
    QAction* ip = OptionsMenu->addAction("IP Address", this, &TQuorvex::IPAddressClick);
    ip->setObjectName("IPAddress");
    QAction* erase = OptionsMenu->addAction("Delete Fingerprint Log File", this,
                                            &TQuorvex::DeleteFingerprintLogFile1Click);
    erase->setObjectName("DeleteFingerprintLogFile1");

    runUi_ = std::make_unique<WindowRunUi>(*controls_, *links_, *FileMenu, *OptionsMenu);
    progress_ = std::make_unique<ProgressTracker>(timing.time);
    progressBar_ = std::make_unique<StatusProgress>(*bar, status_->PanelWidget(Panel::Network));
    if (unattended_)
        progressLine_ = std::make_unique<TerminalProgressLine>(STDERR_FILENO);
    progress_->OnChange = [this](const ProgressView& view) {
        progressBar_->Show(view);
        if (progressLine_)
            progressLine_->Show(view);
    };
    session_ =
        std::make_unique<PollSession>(ps_, *status_, dialogs_, *runUi_, *links_, timing.time, timing.pump,
                                      timing.timer1, timing.timer3, timing.timer4, *progress_);
    commandChoice_ = std::make_unique<CommandChoice>(*controls_, *status_, *links_, dialogs_, settings_, ps_,
                                                     timing.pump, *runUi_);
    find_ = std::make_unique<FindClocksFront>(*controls_, *links_, *session_);
    ConnectControls();

    // The find controls wait for a search.
    controls_->AbortButton->setEnabled(false);
    controls_->SkipPortButton->setEnabled(false);

    // The local adaptor and the gateway that discovery broadcasts next to.
    ps_.LocalAddress = network.LocalAddress();
    ps_.GatewayAddress = network.GatewayAddress();

    links_->RefreshPorts();
    LoadSettings();
    links_->SetPortRefreshEnabled(true);

    if (unattended_) {
        SetUnattendedLook();
        QTimer::singleShot(0, this, &TQuorvex::RunUnattended);
    }
}

TQuorvex::~TQuorvex()
{
    // The session closes its links and lets go of the timers before the menus and the
    // widgets it reports to go away.
    find_.reset();
    session_.reset();
}

IStatusDisplay& TQuorvex::Status()
{
    return *status_;
}

IRunUi& TQuorvex::RunUi()
{
    return *runUi_;
}

IProgress& TQuorvex::Progress()
{
    return *progress_;
}

void TQuorvex::BuildMenus()
{
    FileMenu = menuBar()->addMenu("&File");
    FileMenu->setObjectName("File1");
    QAction* a = FileMenu->addAction("&Command File...", this, &TQuorvex::CommandFileClick);
    a->setObjectName("CommandFile");
    a = FileMenu->addAction("Fingerprint Log File...", this, &TQuorvex::FingerprintLogFile1Click);
    a->setObjectName("FingerprintLogFile1");
    FileMenu->addSeparator();
    a = FileMenu->addAction("&Exit", this, &TQuorvex::ExitClick);
    a->setObjectName("Exit");

    // The link menus and the items after them are added once the status display exists.
    OptionsMenu = menuBar()->addMenu("&Options");
    OptionsMenu->setObjectName("Options1");
}

void TQuorvex::ConnectControls()
{
    const WindowControls& c = *controls_;
    // Selecting a mode runs its handler however the selection was made: mouse, keyboard,
    // an assistive tool, or the window itself checking the button.
    connect(c.CommandRadioButton, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            CommandRadioButtonClick();
    });
    connect(c.CommandFileRadioButton, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            CommandFileRadioButtonClick();
    });
    connect(c.CommandComboBox, &QComboBox::activated, this, &TQuorvex::CommandComboBoxChange);
    connect(c.StationComboBox, &QComboBox::activated, this, &TQuorvex::StationComboBoxChange);
    connect(c.PollButton, &QPushButton::clicked, this, &TQuorvex::PollButtonClick);
    connect(c.FindButton, &QPushButton::clicked, this, &TQuorvex::FindButtonClick);
    connect(c.AbortButton, &QPushButton::clicked, this, &TQuorvex::AbortButtonClick);
    connect(c.SkipPortButton, &QPushButton::clicked, this, &TQuorvex::SkipPortButtonClick);
    for (QWidget* w : std::initializer_list<QWidget*>{c.Edit1, c.Edit2, c.InputFileLabel})
        w->installEventFilter(this);
}

void TQuorvex::LoadSettings()
{
    SettingsRead read;
    SettingsLoad outcome = settings_.Load(read);

    // Whatever was read stays in effect, even when a later value failed.
    if (read.CommandFile)
        controls_->Edit1->setText(Q(*read.CommandFile));
    if (read.InputFile) {
        controls_->Edit2->setText(Q(*read.InputFile));
        ps_.InputFile = *read.InputFile;
    }
    if (read.BaudRate)
        ps_.BaudRate = *read.BaudRate;
    if (read.Port)
        ps_.Port = *read.Port;
    if (read.IPAddress)
        ps_.IPAddress = *read.IPAddress;
    if (read.FingerLogFile)
        ps_.FingerLogFile = *read.FingerLogFile;

    if (outcome != SettingsLoad::Loaded) {
        // Menus and panels keep the window's initial state.
        settings_.WriteDefaults();
        return;
    }

    links_->ApplyRemembered(*read.BaudRate, *read.Port);
    if (links_->NetworkSelected() && !ps_.IPAddress.empty()) {
        session_->DeactivateSocket();
        status_->SetPanel(Panel::Network, "");
        status_->SetPanel(Panel::Baud, "");
        session_->SetSocketHost(ps_.IPAddress);
    }
}

void TQuorvex::SetUnattendedLook()
{
    links_->SetPortRefreshEnabled(false);
    setWindowFlags(kFrame);
    const WindowControls& c = *controls_;
    c.PollButton->setEnabled(false);
    c.FindButton->setEnabled(false);
    c.CommandFileRadioButton->setChecked(true);
    for (QWidget* w : std::initializer_list<QWidget*>{c.CommandRadioButton, c.CommandComboBox,
                                                      c.StationComboBox, c.CommandFileRadioButton})
        w->setEnabled(false);
}

void TQuorvex::RunUnattended()
{
    ps_.Unattended = true;
    ps_.InputFileName = arguments_[0];
    ps_.LogFileName = arguments_[1];
    session_->RunDriver();
    session_->DeactivateSocket();
    close();
}

bool TQuorvex::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == controls_->Edit1) {
            CommandFileClick();
            return true;
        }
        if (watched == controls_->Edit2 || watched == controls_->InputFileLabel) {
            InputFileLabelDblClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TQuorvex::ExitClick()
{
    session_->DeactivateSocket();
    close();
}

void TQuorvex::CommandFileClick()
{
    std::string name;
    if (!dialogs_.OpenFile(FileKind::Command, name))
        return;
    controls_->Edit1->setText(Q(name));
    CommandFileRadioButtonClick();
    settings_.WriteString("CommandFile", name);
}

void TQuorvex::FingerprintLogFile1Click()
{
    finger::ChooseFingerLogFile(ps_, dialogs_,
                                [this](const std::string& name) { settings_.WriteString("FingerLogFile", name); });
}

void TQuorvex::DeleteFingerprintLogFile1Click()
{
    finger::EraseFingerLogFile(ps_, dialogs_);
}

void TQuorvex::InputFileLabelDblClick()
{
    std::string name;
    if (!dialogs_.OpenFile(FileKind::Input, name))
        return;
    controls_->Edit2->setText(Q(name));
    settings_.WriteString("InputFile", name);
}

void TQuorvex::IPAddressClick()
{
    std::string address = ps_.IPAddress;
    if (!dialogs_.InputBox("IP Address to connect to", "IP Address:", address) || address.empty())
        return;
    ps_.IPAddress = address;
    settings_.WriteString("IPAddress", address);
}

// Both mode handlers run when their button becomes checked; called directly, they check it
// and so run through that same path.
void TQuorvex::CommandRadioButtonClick()
{
    if (!controls_->CommandRadioButton->isChecked()) {
        controls_->CommandRadioButton->setChecked(true);
        return;
    }
    PanelsFromControls();
}

void TQuorvex::CommandFileRadioButtonClick()
{
    const WindowControls& c = *controls_;
    if (!c.CommandFileRadioButton->isChecked()) {
        c.CommandFileRadioButton->setChecked(true);
        return;
    }
    // Undoes the captions that choosing the firmware upgrade sets.
    c.PollButton->setText("Poll Clock");
    c.InputFileLabel->setText("Input File");
    c.CommandComboBox->setCurrentIndex(0);
    c.Edit2->setText(Q(ps_.InputFile));
}

void TQuorvex::CommandComboBoxChange()
{
    commandChoice_->Changed();
}

void TQuorvex::StationComboBoxChange()
{
    PanelsFromControls();
}

void TQuorvex::PanelsFromControls()
{
    status_->SetPanel(Panel::Station, "Station " + controls_->StationComboBox->currentText().toStdString());
    links_->PanelsFromSelections();
}

void TQuorvex::PollButtonClick()
{
    runUi_->SetRunControlsEnabled(false);
    status_->ClearStatus();
    status_->SetPanel(Panel::Retry, "Retry 0");
    statusBar()->repaint();
    session_->RunDriver();
    runUi_->SetRunControlsEnabled(true);
}

void TQuorvex::FindButtonClick()
{
    find_->Run();
}

void TQuorvex::AbortButtonClick()
{
    ps_.AbortRequested = true;
    controls_->AbortButton->setEnabled(false);
}

void TQuorvex::SkipPortButtonClick()
{
    ps_.SkipPortRequested = true;
}
