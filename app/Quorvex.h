// The main window: the operator's controls, menus and status display, the remembered
// settings, the four window timers and the unattended command-file run. It owns the poll
// session and serves it as status display, operator, link selection and run UI.
#pragma once

#include "session/RunUi.h"
#include "core/Platform.h"
#include "core/StatusDisplay.h"
#include "link/Exchange.h"

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QActionGroup;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

struct PollState;
class INetworkInfo;
class PollSession;
class Settings;

class TQuorvex : public QMainWindow, public IStatusDisplay, public IOperator, public ILinkSelection, public IRunUi {
    Q_OBJECT

public:
    static constexpr int kPanels = 6;
    static constexpr int kCommPorts = 20;

    // arguments: the command line without the program name; exactly two (command file,
    // results file) make the run unattended.
    TQuorvex(INetworkInfo& network, const std::vector<std::string>& arguments, QWidget* parent = nullptr);
    ~TQuorvex() override;

    // Replaces the dialogs with another operator (tests); nullptr restores the real ones.
    void SetDialogOperator(IOperator* op) { dialogs_ = op; }
    bool Unattended() const { return unattended_; }
    PollSession& Session() { return *session_; }

    // IStatusDisplay
    void AddStatusLine(const std::string& text) override;
    void ReplaceLastStatusLine(const std::string& text) override;
    void DeleteLastStatusLine() override;
    void ClearStatus() override;
    void SetPanel(int index, const std::string& text) override;
    std::string Panel(int index) const override;
    std::vector<std::string> Lines() const override { return lines_; }

    // IOperator: real dialogs, or Cancel/No with the text on stderr when there is no display.
    bool OkCancel(const std::string& text, const std::string& caption) override;
    bool YesNo(const std::string& text, const std::string& caption) override;
    void Information(const std::string& text, const std::string& caption) override;
    bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override;
    bool OpenFile(int filterIndex, std::string& fileName) override;

    // ILinkSelection: the "Network" menu item.
    bool NetworkSelected() const override;
    void SetNetworkSelected(bool on) override;

    // IRunUi
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
    bool PortRefreshEnabled() const;

    // Event handlers.
    void ExitClick();
    void CommandFileClick();
    void FingerprintLogFile1Click();
    void InputFileLabelDblClick();
    void N96001Click() { BaudClick(9600); }
    void N48001Click() { BaudClick(4800); }
    void N24001Click() { BaudClick(2400); }
    void N12001Click() { BaudClick(1200); }
    void NetworkClick();
    void CommClick(int n);
    void IPAddressClick();
    void DeleteFingerprintLogFile1Click();
    void CommandRadioButtonClick();
    void CommandFileRadioButtonClick();
    void StationComboBoxChange();
    void PollButtonClick();
    void FindButtonClick();
    void AbortButtonClick();
    void SkipPortButtonClick();
    // The one-second serial port refresh.
    void Timer2Timer();

    ITimer& Timer1() { return timer1_; }
    ITimer& Timer3() { return timer3_; }
    ITimer& Timer4() { return timer4_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void BuildStatusBar();
    void LoadSettings();
    void ApplyBaudSelection(int rate);
    void SetUnattendedLook();
    void RunUnattended();
    void BaudClick(int rate);
    // Panels 2 and 3 from the checked port and baud items, unless "Network" is checked.
    void PanelsFromSelections();
    QAction* CheckedBaudItem() const;
    bool Headless() const;
    // Shows a line on stderr for a box that cannot be shown.
    void Unshown(const std::string& what) const;

    PollState& ps_;
    INetworkInfo& network_;
    std::unique_ptr<Settings> settings_;
    bool unattended_ = false;
    std::vector<std::string> arguments_;
    IOperator* dialogs_ = nullptr;
    bool portsListed_ = false;

    // Status model mirrored into the memo and the panel labels.
    std::vector<std::string> lines_;
    std::array<std::string, kPanels> panels_;

    QRadioButton* CommandRadioButton = nullptr;
    QComboBox* CommandComboBox = nullptr;
    QLabel* StationLabel = nullptr;
    QComboBox* StationComboBox = nullptr;
    QRadioButton* CommandFileRadioButton = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* InputFileLabel = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* PollButton = nullptr;
    QPushButton* FindButton = nullptr;
    QPushButton* AbortButton = nullptr;
    QPushButton* SkipPortButton = nullptr;
    QGroupBox* GroupBox = nullptr;
    QPlainTextEdit* Memo = nullptr;
    std::array<QLabel*, kPanels> panelLabels_{};
    QFileDialog* OpenDialog = nullptr;

    QMenu* FileMenu = nullptr;
    QMenu* OptionsMenu = nullptr;
    QActionGroup* baudGroup_ = nullptr;
    QActionGroup* portGroup_ = nullptr;
    QAction* N96001 = nullptr;
    QAction* N48001 = nullptr;
    QAction* N24001 = nullptr;
    QAction* N12001 = nullptr;
    QAction* Network = nullptr;
    std::array<QAction*, kCommPorts + 1> Comm{};  // Comm[1]..Comm[20]

    SystemTimeSource time_;
    QtEventPump pump_{time_};
    QtWindowTimer timer1_{2};
    QTimer Timer2;
    QtWindowTimer timer3_{100};
    QtWindowTimer timer4_{50};

    std::unique_ptr<PollSession> session_;
};
