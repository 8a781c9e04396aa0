// The main window: builds the controls and menus, loads the remembered settings, and hands
// each role to its own part: the status display (memo and panels), the operator's boxes,
// the link menus with the port refresh, the run UI and the poll session behind "Poll Clock".
#pragma once

#include "app/DialogOperator.h"
#include "app/Settings.h"
#include "app/WindowTiming.h"

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

class FindClocksFront;
class IProgress;
class ProgressTracker;
class CommandChoice;
class IRunUi;
class IStatusDisplay;
class INetworkInfo;
class LinkMenus;
class MemoStatusDisplay;
class PollSession;
class QMenu;
class StatusProgress;
class TerminalProgressLine;
class WindowRunUi;
struct PollState;
struct WindowControls;

class TQuorvex : public QMainWindow {
    Q_OBJECT

public:
    // arguments: the command line without the program name; exactly two (command file,
    // results file) make the run unattended. The timing seams must outlive the window.
    TQuorvex(INetworkInfo& network, const WindowTiming& timing, const std::vector<std::string>& arguments,
             QWidget* parent = nullptr);
    ~TQuorvex() override;

    bool Unattended() const { return unattended_; }
    IStatusDisplay& Status();
    IRunUi& RunUi();
    LinkMenus& Links() { return *links_; }
    DialogOperator& Dialogs() { return dialogs_; }
    PollSession& Session() { return *session_; }
    // What long work reports to; the bar on the status bar draws it.
    IProgress& Progress();

    // Event handlers of the controls and of the "File" menu and the menu items outside
    // the link menus.
    void ExitClick();
    void CommandFileClick();
    void FingerprintLogFile1Click();
    void InputFileLabelDblClick();
    void IPAddressClick();
    void DeleteFingerprintLogFile1Click();
    void CommandRadioButtonClick();
    void CommandFileRadioButtonClick();
    void CommandComboBoxChange();
    void StationComboBoxChange();
    void PollButtonClick();
    void FindButtonClick();
    void AbortButtonClick();
    void SkipPortButtonClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void ConnectControls();
    void LoadSettings();
    void SetUnattendedLook();
    // The station panel from the station list; the port and baud panels from the link menus.
    void PanelsFromControls();
    void RunUnattended();

    PollState& ps_;
    Settings settings_;
    bool unattended_ = false;
    std::vector<std::string> arguments_;

    QMenu* FileMenu = nullptr;
    QMenu* OptionsMenu = nullptr;
    std::unique_ptr<WindowControls> controls_;
    std::unique_ptr<MemoStatusDisplay> status_;
    DialogOperator dialogs_{*this};
    std::unique_ptr<LinkMenus> links_;
    std::unique_ptr<WindowRunUi> runUi_;
    std::unique_ptr<ProgressTracker> progress_;
    std::unique_ptr<StatusProgress> progressBar_;
    // Unattended runs only, and it writes only to a terminal.
    std::unique_ptr<TerminalProgressLine> progressLine_;
    std::unique_ptr<PollSession> session_;
    std::unique_ptr<CommandChoice> commandChoice_;
    std::unique_ptr<FindClocksFront> find_;
};
