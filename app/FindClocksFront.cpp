#include "FindClocksFront.h"

#include "app/LinkMenus.h"
#include "app/WindowControls.h"
#include "session/PollSession.h"

#include <QButtonGroup>
#include <QPushButton>
#include <QRadioButton>

void FindClocksFront::Run()
{
    session_.FindClocks(*this);
}

void FindClocksFront::SetAbortEnabled(bool on)
{
    c_.AbortButton->setEnabled(on);
}

void FindClocksFront::SetSkipPortEnabled(bool on)
{
    c_.SkipPortButton->setEnabled(on);
}

void FindClocksFront::UncheckModes()
{
    // An exclusive group keeps one button checked; it lets go only while not exclusive.
    c_.ModeGroup->setExclusive(false);
    c_.CommandRadioButton->setChecked(false);
    c_.CommandFileRadioButton->setChecked(false);
    c_.ModeGroup->setExclusive(true);
}

void FindClocksFront::ShowCheckedLink()
{
    links_.PanelsFromSelections();
}
