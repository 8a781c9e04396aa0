// The window's side of "Find Clocks": the find buttons, the mode radio buttons and the link
// panels that the search changes; the search itself runs in the session below.
#pragma once

#include "session/RunUi.h"

class LinkMenus;
class PollSession;
struct WindowControls;

class FindClocksFront : public IFindUi {
public:
    FindClocksFront(const WindowControls& controls, LinkMenus& links, PollSession& session)
        : c_(controls), links_(links), session_(session)
    {
    }

    // Runs the whole search; returns when it has ended.
    void Run();

    void SetAbortEnabled(bool on) override;
    void SetSkipPortEnabled(bool on) override;
    void UncheckModes() override;
    void ShowCheckedLink() override;

private:
    const WindowControls& c_;
    LinkMenus& links_;
    PollSession& session_;
};
