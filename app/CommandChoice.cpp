#include "CommandChoice.h"

#include "app/LinkMenus.h"
#include "app/Settings.h"
#include "app/WindowControls.h"
#include "interpreter/CommandTable.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "firmware/ProgramFile.h"
#include "session/RunUi.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

void CommandChoice::Changed()
{
    c_.CommandRadioButton->setChecked(true);
    c_.PollButton->setText("Poll Clock");
    c_.InputFileLabel->setText("Input File");
    status_.SetPanel(Panel::Station, "Station " + c_.StationComboBox->currentText().toStdString());
    if (links_.NetworkSelected()) {
        status_.SetPanel(Panel::Port, "Network");
        status_.SetPanel(Panel::Baud, "");
    } else {
        links_.PanelsFromSelections();
    }

    const CommandEntry* entry = ListEntry(c_.CommandComboBox->currentIndex());
    if (entry == nullptr)
        return;
    const bool upgrade = entry->letter == kSoftwareUpgrade;
    if (!upgrade && entry->parameter != Parameter::FileName)
        return;
    if (upgrade) {
        c_.Edit2->clear();
        c_.PollButton->setText("Program");
        c_.InputFileLabel->setText("Program File");
    }
    std::string name;
    if (!op_.OpenFile(upgrade ? FileKind::Program : FileKind::Input, name))
        return;
    c_.Edit2->setText(QString::fromStdString(name));
    if (!upgrade) {
        settings_.WriteString("InputFile", name);
        return;
    }
    // The program file name is not remembered between sessions.
    ps_.InputFileName = name;
    pump_.PumpPending();
    status_.ClearStatus();
    ApplyProgramCheck();
}

void CommandChoice::ApplyProgramCheck()
{
    switch (CheckProgramFile(ps_, status_)) {
        case ProgramCheck::Accepted:
            return;
        case ProgramCheck::CantOpen:
            c_.Edit1->clear();
            // No file is selected: the upgrade must not go on to erase the clock and only
            // then find it cannot read the file.
            c_.Edit2->clear();
            return;
        case ProgramCheck::Refused:
            break;
    }
    c_.Edit1->clear();
    runUi_.SetRunControlsEnabled(true);
    // Neither mode stays chosen, so "Poll Clock" does nothing until the operator picks one.
    c_.ModeGroup->setExclusive(false);
    c_.CommandRadioButton->setChecked(false);
    c_.CommandFileRadioButton->setChecked(false);
    c_.ModeGroup->setExclusive(true);
    c_.PollButton->setText("Poll Clock");
    c_.InputFileLabel->setText("Input File");
    c_.Edit2->setText(QString::fromStdString(ps_.InputFile));
    c_.CommandComboBox->setCurrentIndex(0);
}
