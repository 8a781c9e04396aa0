// What choosing an entry of the command list does to the window: single-command mode, the
// captions and panels, the open dialog for a command's data file, and for the firmware
// upgrade the program file check, with the window set back to set_time when the file is
// refused. The check itself is widget-free; this class only applies it to the controls.
#pragma once

class IEventPump;
class IOperator;
class IRunUi;
class IStatusDisplay;
class LinkMenus;
class Settings;
struct PollState;
struct WindowControls;

class CommandChoice {
public:
    CommandChoice(const WindowControls& controls, IStatusDisplay& status, LinkMenus& links, IOperator& op,
                  Settings& settings, PollState& ps, IEventPump& pump, IRunUi& runUi)
        : c_(controls),
          status_(status),
          links_(links),
          op_(op),
          settings_(settings),
          ps_(ps),
          pump_(pump),
          runUi_(runUi)
    {
    }

    // CommandComboBoxChange: the entry now chosen in the command list.
    void Changed();

private:
    void ApplyProgramCheck();

    const WindowControls& c_;
    IStatusDisplay& status_;
    LinkMenus& links_;
    IOperator& op_;
    Settings& settings_;
    PollState& ps_;
    IEventPump& pump_;
    IRunUi& runUi_;
};
