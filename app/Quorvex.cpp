#include "Quorvex.h"

#include "app/Settings.h"
#include "commands/CommandTable.h"
#include "core/NetworkInfo.h"
#include "core/PollState.h"
#include "session/PollSession.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <iostream>

namespace {

constexpr int kClientWidth = 475;
constexpr int kClientHeight = 431;
constexpr int kPanelWidths[TQuorvex::kPanels] = {60, 75, 60, 75, 60, 50};
const char* const kPanelTexts[TQuorvex::kPanels] = {"Retry  0", "Station 1", "Comm 2", "Baud 9600", "", ""};

// Filter index n of the open dialog is entry n - 1.
const char* const kFileFilters[] = {"Command File (*.cmd)",        "Input File (*.dat)", "Text (*.txt)",
                                    "Program Upgrade File(*.pgm)", "Log File(*.log)",    "All (*.*)"};

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

// The memo and the panels show one line per entry: line breaks inside a text would split
// it in the widget and put the widget out of step with the line model.
QString OneLine(const std::string& s)
{
    QString out = QString::fromStdString(s);
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return out;
}

QFont MemoFont()
{
    QFont f(QStringLiteral("Courier New"), 9);
    f.setStyleHint(QFont::TypeWriter);
    if (QFontInfo(f).family() != f.family()) {
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setPointSize(9);
        return fixed;
    }
    return f;
}

QFrame* Bevel(QWidget* parent, const char* name, const QRect& r)
{
    auto* b = new QFrame(parent);
    b->setObjectName(name);
    b->setFrameShape(QFrame::Box);
    b->setFrameShadow(QFrame::Sunken);
    b->setGeometry(r);
    return b;
}

}  // namespace

TQuorvex::TQuorvex(INetworkInfo& network, const std::vector<std::string>& arguments, QWidget* parent)
    : QMainWindow(parent),
      ps_(ThePollState()),
      network_(network),
      settings_(std::make_unique<Settings>()),
      unattended_(arguments.size() == 2),
      arguments_(arguments)
{
    setObjectName("Quorvex");
    setWindowTitle("Quorvex Version 9.04");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    BuildMenus();
    BuildControls();
    BuildStatusBar();
    setFixedSize(kClientWidth, kClientHeight);

    Timer2.setObjectName("Timer2");
    Timer2.setInterval(1000);
    connect(&Timer2, &QTimer::timeout, this, &TQuorvex::Timer2Timer);
    // The command code may install its own handler; this one keeps the flag working.
    timer4_.OnTimer = [this] {
        ps_.ShortDelayElapsed = true;
        timer4_.SetEnabled(false);
    };

    session_ = std::make_unique<PollSession>(ps_, *this, *this, *this, *this, time_, pump_, timer1_, timer3_,
                                             timer4_);

    // The find controls wait for a search; both lists start at their first entry.
    AbortButton->setEnabled(false);
    SkipPortButton->setEnabled(false);
    StationComboBox->setCurrentIndex(0);
    CommandComboBox->setCurrentIndex(0);

    // The local adaptor and the gateway that discovery broadcasts next to.
    ps_.GatewayAddress.clear();
    ps_.LocalAddress = network_.LocalAddress();
    ps_.GatewayAddress = network_.GatewayAddress();

    Timer2Timer();
    LoadSettings();
    Timer2.start();

    if (unattended_) {
        SetUnattendedLook();
        QTimer::singleShot(0, this, &TQuorvex::RunUnattended);
    }
}

TQuorvex::~TQuorvex()
{
    if (session_)
        session_->Shutdown();
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

    OptionsMenu = menuBar()->addMenu("&Options");
    OptionsMenu->setObjectName("Options1");

    QMenu* baud = OptionsMenu->addMenu("&Baud Rate");
    baud->setObjectName("BaudRate1");
    baudGroup_ = new QActionGroup(this);
    baudGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    struct BaudItem {
        const char* name;
        const char* text;
        void (TQuorvex::*click)();
        QAction** slot;
    };
    const BaudItem bauds[] = {{"N96001", "9600", &TQuorvex::N96001Click, &N96001},
                              {"N48001", "4800", &TQuorvex::N48001Click, &N48001},
                              {"N24001", "2400", &TQuorvex::N24001Click, &N24001},
                              {"N12001", "1200", &TQuorvex::N12001Click, &N12001}};
    for (const BaudItem& b : bauds) {
        QAction* item = baud->addAction(b.text);
        item->setObjectName(b.name);
        item->setCheckable(true);
        baudGroup_->addAction(item);
        connect(item, &QAction::triggered, this, b.click);
        *b.slot = item;
    }
    N96001->setChecked(true);

    QMenu* port = OptionsMenu->addMenu("&Comm Port");
    port->setObjectName("CommPort1");
    portGroup_ = new QActionGroup(this);
    portGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    Network = port->addAction("Network");
    Network->setObjectName("Network");
    Network->setCheckable(true);
    portGroup_->addAction(Network);
    connect(Network, &QAction::triggered, this, &TQuorvex::NetworkClick);
    for (int n = 1; n <= kCommPorts; ++n) {
        QAction* item = port->addAction(QString("Comm%1").arg(n));
        item->setObjectName(QString("Comm%1").arg(n));
        item->setCheckable(true);
        portGroup_->addAction(item);
        connect(item, &QAction::triggered, this, [this, n] { CommClick(n); });
        Comm[n] = item;
    }
    Comm[1]->setChecked(true);

    a = OptionsMenu->addAction("IP Address", this, &TQuorvex::IPAddressClick);
    a->setObjectName("IPAddress");
    a = OptionsMenu->addAction("Delete Fingerprint Log File", this,
                               &TQuorvex::DeleteFingerprintLogFile1Click);
    a->setObjectName("DeleteFingerprintLogFile1");
}

void TQuorvex::BuildControls()
{
    auto* central = new QWidget(this);
    central->setObjectName("ClientArea");
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 4, 6, 2);
    layout->setSpacing(4);

    // The top part is laid out by position, as the window never changes size.
    auto* top = new QWidget(central);
    top->setObjectName("TopPanel");
    top->setFixedHeight(110);
    layout->addWidget(top);

    Bevel(top, "Bevel1", QRect(0, 0, 352, 108));
    Bevel(top, "Bevel2", QRect(358, 0, 105, 108));

    CommandRadioButton = new QRadioButton("Command:", top);
    CommandRadioButton->setObjectName("CommandRadioButton");
    CommandRadioButton->setToolTip("Enable Single Command");
    CommandRadioButton->setGeometry(10, 10, 96, 22);

    CommandComboBox = new QComboBox(top);
    CommandComboBox->setObjectName("CommandComboBox");
    CommandComboBox->setToolTip("Select Command to send");
    for (const CommandEntry* c : CommandList()) CommandComboBox->addItem(c->texts.memoName);
    CommandComboBox->setGeometry(108, 9, 138, 24);

    StationLabel = new QLabel("Station:", top);
    StationLabel->setObjectName("StationLabel");
    StationLabel->setGeometry(250, 9, 50, 24);

    StationComboBox = new QComboBox(top);
    StationComboBox->setObjectName("StationComboBox");
    StationComboBox->setToolTip("Select Clock Station Number");
    for (int n = 1; n <= 30; ++n) StationComboBox->addItem(QString::number(n));
    StationComboBox->setGeometry(300, 9, 48, 24);

    CommandFileRadioButton = new QRadioButton("Command File:", top);
    CommandFileRadioButton->setObjectName("CommandFileRadioButton");
    CommandFileRadioButton->setToolTip("Enable Command File");
    CommandFileRadioButton->setGeometry(10, 43, 118, 22);

    Edit1 = new QLineEdit(top);
    Edit1->setObjectName("Edit1");
    Edit1->setReadOnly(true);
    Edit1->setToolTip("Double Click to change file name");
    Edit1->setGeometry(130, 42, 218, 24);

    InputFileLabel = new QLabel("Input File: ", top);
    InputFileLabel->setObjectName("InputFileLabel");
    InputFileLabel->setToolTip("File for Data Input");
    InputFileLabel->setGeometry(30, 75, 98, 24);

    Edit2 = new QLineEdit(top);
    Edit2->setObjectName("Edit2");
    Edit2->setReadOnly(true);
    Edit2->setToolTip("Double Click to change file name");
    Edit2->setGeometry(130, 75, 218, 24);

    struct ButtonItem {
        QPushButton** slot;
        const char* name;
        const char* caption;
        const char* hint;
        void (TQuorvex::*click)();
    };
    const ButtonItem buttons[] = {
        {&PollButton, "PollButton", "Poll Clock", "Send Commands to Clock", &TQuorvex::PollButtonClick},
        {&FindButton, "FindButton", "Find Clocks", "Find Clocks connected to Ports",
         &TQuorvex::FindButtonClick},
        {&AbortButton, "AbortButton", "Abort Find", "Stop Finding Clocks", &TQuorvex::AbortButtonClick},
        {&SkipPortButton, "SkipPortButton", "Skip Port", nullptr, &TQuorvex::SkipPortButtonClick},
    };
    int y = 4;
    for (const ButtonItem& b : buttons) {
        auto* button = new QPushButton(b.caption, top);
        button->setObjectName(b.name);
        if (b.hint)
            button->setToolTip(b.hint);
        button->setGeometry(364, y, 93, 24);
        connect(button, &QPushButton::clicked, this, b.click);
        *b.slot = button;
        y += 26;
    }

    GroupBox = new QGroupBox(" Status ", central);
    GroupBox->setObjectName("GroupBox");
    auto* groupLayout = new QVBoxLayout(GroupBox);
    groupLayout->setContentsMargins(4, 4, 4, 4);
    Memo = new QPlainTextEdit(GroupBox);
    Memo->setObjectName("Memo");
    Memo->setReadOnly(true);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setFont(MemoFont());
    groupLayout->addWidget(Memo);
    layout->addWidget(GroupBox, 1);

    setCentralWidget(central);

    // Radio buttons are managed here rather than by Qt's auto-exclusivity: discovery must
    // be able to leave both unchecked, and a click never unchecks the clicked one.
    CommandRadioButton->setAutoExclusive(false);
    CommandFileRadioButton->setAutoExclusive(false);
    CommandRadioButton->setChecked(true);
    connect(CommandRadioButton, &QRadioButton::clicked, this, &TQuorvex::CommandRadioButtonClick);
    connect(CommandFileRadioButton, &QRadioButton::clicked, this, &TQuorvex::CommandFileRadioButtonClick);
    connect(StationComboBox, &QComboBox::activated, this, &TQuorvex::StationComboBoxChange);

    Edit1->installEventFilter(this);
    Edit2->installEventFilter(this);
    InputFileLabel->installEventFilter(this);

    setTabOrder(CommandRadioButton, CommandComboBox);
    setTabOrder(CommandComboBox, StationComboBox);
    setTabOrder(StationComboBox, CommandFileRadioButton);
    setTabOrder(CommandFileRadioButton, Edit1);
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, PollButton);
    setTabOrder(PollButton, FindButton);
    setTabOrder(FindButton, AbortButton);
    setTabOrder(AbortButton, Memo);
    setTabOrder(Memo, SkipPortButton);
}

void TQuorvex::BuildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName("StatusBar");
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < kPanels; ++i) {
        auto* label = new QLabel(kPanelTexts[i], bar);
        label->setObjectName(QString("Panel%1").arg(i));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        panels_[i] = kPanelTexts[i];
        if (i + 1 < kPanels) {
            label->setFixedWidth(kPanelWidths[i]);
            label->setAlignment(Qt::AlignCenter);
            bar->addWidget(label);
        } else {
            // The last panel takes the rest of the bar so a connection address fits.
            label->setMinimumWidth(kPanelWidths[i]);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            bar->addWidget(label, 1);
        }
        panelLabels_[i] = label;
    }
}

void TQuorvex::LoadSettings()
{
    SettingsRead read;
    SettingsLoad outcome = settings_->Load(read);

    // Whatever was read stays in effect, even when a later value failed.
    if (read.CommandFile)
        Edit1->setText(Q(*read.CommandFile));
    if (read.InputFile) {
        Edit2->setText(Q(*read.InputFile));
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
        // Menus and panels keep the state of the form.
        settings_->WriteDefaults();
        return;
    }

    ApplyBaudSelection(*read.BaudRate);
    int port = *read.Port;
    if (port == 0) {
        Network->setChecked(true);
        SetPanel(2, "Network");
    } else if (port >= 1 && port <= kCommPorts) {
        Comm[port]->setChecked(true);
        SetPanel(2, "Comm " + std::to_string(port));
    } else if (QAction* checked = portGroup_->checkedAction()) {
        // A port this window cannot offer: leave no item checked rather than let a run
        // silently use the form's default port.
        checked->setChecked(false);
    }

    if (NetworkSelected() && !ps_.IPAddress.empty()) {
        session_->DeactivateSocket();
        SetPanel(5, "");
        SetPanel(3, "");
        session_->SetSocketHost(ps_.IPAddress);
    }
}

void TQuorvex::ApplyBaudSelection(int rate)
{
    QAction* item = N12001;
    if (rate == 9600)
        item = N96001;
    else if (rate == 4800)
        item = N48001;
    else if (rate == 2400)
        item = N24001;
    item->setChecked(true);
    SetPanel(3, "Baud " + item->text().toStdString());
}

void TQuorvex::SetUnattendedLook()
{
    Timer2.stop();
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    PollButton->setEnabled(false);
    FindButton->setEnabled(false);
    CommandFileRadioButton->setChecked(true);
    CommandRadioButton->setChecked(false);
    CommandRadioButton->setEnabled(false);
    CommandComboBox->setEnabled(false);
    StationComboBox->setEnabled(false);
    CommandFileRadioButton->setEnabled(false);
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

// --- status display -------------------------------------------------------------------

void TQuorvex::AddStatusLine(const std::string& text)
{
    lines_.push_back(text);
    QTextCursor c(Memo->document());
    c.movePosition(QTextCursor::End);
    // The empty document already holds one empty block: the first line goes into it.
    if (lines_.size() > 1)
        c.insertBlock();
    c.insertText(OneLine(text));
    QScrollBar* v = Memo->verticalScrollBar();
    v->setValue(v->maximum());
}

void TQuorvex::ReplaceLastStatusLine(const std::string& text)
{
    if (lines_.empty()) {
        AddStatusLine(text);
        return;
    }
    lines_.back() = text;
    QTextCursor c(Memo->document());
    c.movePosition(QTextCursor::End);
    c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    c.insertText(OneLine(text));
}

void TQuorvex::DeleteLastStatusLine()
{
    if (lines_.empty())
        return;
    lines_.pop_back();
    if (lines_.empty()) {
        Memo->clear();
        return;
    }
    QTextCursor c(Memo->document());
    c.movePosition(QTextCursor::End);
    c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    // Take the separator before the block too, so the block itself goes.
    c.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    c.removeSelectedText();
}

void TQuorvex::ClearStatus()
{
    lines_.clear();
    Memo->clear();
}

void TQuorvex::SetPanel(int index, const std::string& text)
{
    if (index < 0 || index >= kPanels)
        return;
    panels_[index] = text;
    panelLabels_[index]->setText(OneLine(text));
}

std::string TQuorvex::Panel(int index) const
{
    return index >= 0 && index < kPanels ? panels_[index] : std::string();
}

// --- operator dialogs -----------------------------------------------------------------

bool TQuorvex::Headless() const
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void TQuorvex::Unshown(const std::string& what) const
{
    std::string line = what;
    for (char& ch : line)
        if (ch == '\n' || ch == '\r')
            ch = ' ';
    std::cerr << line << std::endl;
}

bool TQuorvex::OkCancel(const std::string& text, const std::string& caption)
{
    if (dialogs_)
        return dialogs_->OkCancel(text, caption);
    if (Headless()) {
        Unshown(text);
        return false;
    }
    return QMessageBox::question(this, Q(caption), Q(text), QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
}

bool TQuorvex::YesNo(const std::string& text, const std::string& caption)
{
    if (dialogs_)
        return dialogs_->YesNo(text, caption);
    if (Headless()) {
        Unshown(text);
        return false;
    }
    return QMessageBox::question(this, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

void TQuorvex::Information(const std::string& text, const std::string& caption)
{
    if (dialogs_)
        return dialogs_->Information(text, caption);
    if (Headless()) {
        Unshown(text);
        return;
    }
    QMessageBox::information(this, Q(caption), Q(text));
}

bool TQuorvex::InputBox(const std::string& caption, const std::string& prompt, std::string& value)
{
    if (dialogs_)
        return dialogs_->InputBox(caption, prompt, value);
    if (Headless()) {
        Unshown(caption + ": " + prompt);
        return false;
    }
    bool ok = false;
    QString answer = QInputDialog::getText(this, Q(caption), Q(prompt), QLineEdit::Normal, Q(value), &ok);
    if (ok)
        value = answer.toStdString();
    return ok;
}

bool TQuorvex::OpenFile(int filterIndex, std::string& fileName)
{
    if (dialogs_)
        return dialogs_->OpenFile(filterIndex, fileName);
    constexpr int kFilters = static_cast<int>(std::size(kFileFilters));
    int index = std::clamp(filterIndex, 1, kFilters);
    if (Headless()) {
        Unshown(std::string("Open: ") + kFileFilters[index - 1]);
        return false;
    }
    if (!OpenDialog) {
        // One dialog for every file choice, so it stays in the folder last used.
        OpenDialog = new QFileDialog(this);
        OpenDialog->setObjectName("OpenDialog");
        OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog->setFileMode(QFileDialog::AnyFile);
        QStringList filters;
        for (const char* f : kFileFilters) filters << f;
        OpenDialog->setNameFilters(filters);
    }
    OpenDialog->selectNameFilter(kFileFilters[index - 1]);
    OpenDialog->selectFile(fileName.empty() ? QString() : Q(fileName));
    if (OpenDialog->exec() != QDialog::Accepted)
        return false;
    QStringList chosen = OpenDialog->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return false;
    fileName = chosen.first().toStdString();
    return true;
}

// --- link selection and run UI --------------------------------------------------------

bool TQuorvex::NetworkSelected() const
{
    return Network->isChecked();
}

void TQuorvex::SetNetworkSelected(bool on)
{
    Network->setChecked(on);
}

bool TQuorvex::CommandModeChecked() const
{
    return CommandRadioButton->isChecked();
}

bool TQuorvex::CommandFileModeChecked() const
{
    return CommandFileRadioButton->isChecked();
}

int TQuorvex::CommandIndex() const
{
    return CommandComboBox->currentIndex();
}

int TQuorvex::StationNumber() const
{
    return StationComboBox->currentText().toInt();
}

std::string TQuorvex::Edit1Text() const
{
    return Edit1->text().toStdString();
}

std::string TQuorvex::Edit2Text() const
{
    return Edit2->text().toStdString();
}

void TQuorvex::SetEdit1Text(const std::string& text)
{
    Edit1->setText(Q(text));
}

void TQuorvex::SetEdit2Text(const std::string& text)
{
    Edit2->setText(Q(text));
}

int TQuorvex::SelectedBaudRate() const
{
    // Panel 3 is kept in step with the baud menu and with the link a command file opened.
    const std::string& shown = panels_[3];
    for (int rate : {1200, 2400, 4800})
        if (shown == "Baud " + std::to_string(rate))
            return rate;
    return 9600;
}

int TQuorvex::CheckedCommPort() const
{
    for (int n = 1; n <= kCommPorts; ++n)
        if (Comm[n]->isChecked())
            return n;
    return 0;
}

bool TQuorvex::PortItemEnabled(int n) const
{
    return n >= 1 && n <= kCommPorts && Comm[n]->isEnabled();
}

void TQuorvex::SetRunControlsEnabled(bool on)
{
    for (QWidget* w :
         std::initializer_list<QWidget*>{PollButton, FindButton, CommandRadioButton, CommandComboBox,
                                         StationComboBox, CommandFileRadioButton})
        w->setEnabled(on);
    FileMenu->menuAction()->setEnabled(on);
    OptionsMenu->menuAction()->setEnabled(on);
}

void TQuorvex::SetPortRefreshEnabled(bool on)
{
    if (on)
        Timer2.start();
    else
        Timer2.stop();
}

bool TQuorvex::PortRefreshEnabled() const
{
    return Timer2.isActive();
}

// --- handlers -------------------------------------------------------------------------

bool TQuorvex::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == Edit1) {
            CommandFileClick();
            return true;
        }
        if (watched == Edit2 || watched == InputFileLabel) {
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
    if (!OpenFile(1, name))
        return;
    Edit1->setText(Q(name));
    CommandRadioButton->setChecked(false);
    CommandFileRadioButton->setChecked(true);
    PollButton->setText("Poll Clock");
    InputFileLabel->setText("Input File");
    CommandComboBox->setCurrentIndex(0);
    Edit2->setText(Q(ps_.InputFile));
    settings_->WriteString("CommandFile", name);
}

void TQuorvex::FingerprintLogFile1Click() {}

void TQuorvex::DeleteFingerprintLogFile1Click() {}

void TQuorvex::InputFileLabelDblClick()
{
    std::string name;
    if (!OpenFile(2, name))
        return;
    Edit2->setText(Q(name));
    settings_->WriteString("InputFile", name);
}

void TQuorvex::BaudClick(int rate)
{
    ApplyBaudSelection(rate);
    settings_->WriteInt("BaudRate", rate);
}

void TQuorvex::NetworkClick()
{
    Network->setChecked(true);
    SetPanel(2, "Network");
    SetPanel(3, "");
    settings_->WriteInt("Port", 0);
}

void TQuorvex::CommClick(int n)
{
    if (n < 1 || n > kCommPorts)
        return;
    Comm[n]->setChecked(true);
    SetPanel(2, "Comm " + std::to_string(n));
    settings_->WriteInt("Port", n);
}

void TQuorvex::IPAddressClick()
{
    std::string address = ps_.IPAddress;
    if (!InputBox("IP Address to connect to", "IP Address:", address) || address.empty())
        return;
    ps_.IPAddress = address;
    settings_->WriteString("IPAddress", address);
}

QAction* TQuorvex::CheckedBaudItem() const
{
    return baudGroup_->checkedAction();
}

void TQuorvex::PanelsFromSelections()
{
    if (NetworkSelected())
        return;
    if (QAction* baud = CheckedBaudItem())
        SetPanel(3, "Baud " + baud->text().toStdString());
    if (int port = CheckedCommPort())
        SetPanel(2, "Comm " + std::to_string(port));
}

void TQuorvex::CommandRadioButtonClick()
{
    CommandRadioButton->setChecked(true);
    CommandFileRadioButton->setChecked(false);
    SetPanel(1, "Station " + StationComboBox->currentText().toStdString());
    PanelsFromSelections();
}

void TQuorvex::CommandFileRadioButtonClick()
{
    CommandFileRadioButton->setChecked(true);
    CommandRadioButton->setChecked(false);
    PollButton->setText("Poll Clock");
    InputFileLabel->setText("Input File");
    CommandComboBox->setCurrentIndex(0);
    Edit2->setText(Q(ps_.InputFile));
}

void TQuorvex::StationComboBoxChange()
{
    SetPanel(1, "Station " + StationComboBox->currentText().toStdString());
    PanelsFromSelections();
}

void TQuorvex::PollButtonClick()
{
    SetRunControlsEnabled(false);
    ClearStatus();
    SetPanel(0, "Retry 0");
    statusBar()->repaint();
    session_->RunDriver();
    SetRunControlsEnabled(true);
}

void TQuorvex::FindButtonClick() {}

void TQuorvex::AbortButtonClick()
{
    ps_.AbortRequested = true;
    AbortButton->setEnabled(false);
}

void TQuorvex::SkipPortButtonClick()
{
    ps_.SkipPortRequested = true;
}

void TQuorvex::Timer2Timer()
{
    std::set<int> ports = session_->GetExistingCommPorts();
    // Device paths are looked up again only when the set of ports changes: each lookup
    // may probe the machine's serial devices.
    const bool changed = !portsListed_ || ports != ps_.ExistingPorts;
    ps_.ExistingPorts = std::move(ports);
    portsListed_ = true;
    for (int n = 1; n <= kCommPorts; ++n) {
        Comm[n]->setEnabled(ps_.ExistingPorts.count(n) > 0);
        if (changed)
            Comm[n]->setStatusTip(Q(session_->DevicePath(n)));
    }
}
