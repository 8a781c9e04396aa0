#include "CommandTable.h"

#include "commands/Downloads.h"
#include "commands/MessageCommands.h"
#include "commands/SwitchCommands.h"
#include "commands/TableUploads.h"
#include "commands/TimeCommands.h"
#include "fingerprint/TemplateBackup.h"
#include "fingerprint/TemplateRestore.h"
#include "firmware/ProgramTransfer.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

// The function of a lambda without captures, for a row to hold by reference.
template <typename Lambda>
constexpr CommandFunction& Runner(Lambda run)
{
    return *+run;
}

// Leading and trailing blanks and tabs are part of the texts the operator sees.
constexpr CommandEntry kCommands[] = {
    {'A',
     "set_time",
     Parameter::None,
     nullptr,
     0,
     {"set_time", "set_time - Waiting for reply...", "set_time - Clock Busy Please Wait...",
      "set_time          - "},
     Runner([](CommandContext& c) { return TimeCommands(c).SetTime(); })},
    {'B',
     "get_times",
     Parameter::FileName,
     nullptr,
     1,
     {"get_times", "get_times - Waiting for Reply...", "get_times - Clock Busy Please Wait...",
      "get_times         - "},
     Runner([](CommandContext& c) { return Downloads(c).GetTimes(); })},
    {'C',
     "set_belltable",
     Parameter::FileName,
     nullptr,
     -1,
     {"set_belltable", " set_belltable - Sending Table", " set_belltable - Clock Busy Please Wait...",
      "set_belltable\t - ", "set_belltable\t\t- "},
     Runner([](CommandContext& c) { return TableUploads(c).SetBellTable(); })},
    {'D',
     "set_code",
     Parameter::AccessCode,
     nullptr,
     -1,
     {"set_code", "set_code - Sending Access Code", "set_code - Clock Busy Please Wait...",
      "set_code          - "},
     Runner([](CommandContext& c) { return SwitchCommands(c).SetCode(); })},
    {'E',
     "set_belltable2",
     Parameter::FileName,
     nullptr,
     -1,
     {"set_belltable2", " set_belltable2 - Sending Table", "set_belltable2 - Clock Busy Please Wait...",
      "set_belltables2   - "},
     Runner([](CommandContext& c) { return TableUploads(c).SetBellTable2(); })},
    {'F',
     "set_jobnumbers",
     Parameter::JobNumbers,
     nullptr,
     -1,
     {"set_jobnumbers", " set_jobnumbers - Sending Table", "set_jobnumbers - Clock Busy Please Wait...",
      "set_jobnumbers    - "},
     Runner([](CommandContext& c) { return TableUploads(c).SetJobNumbers(); })},
    {'G',
     "set_jobing",
     Parameter::OnOff,
     "OFF",
     -1,
     {"set_jobing OFF", " set_jobing OFF - Sending Command", " set_jobing OFF - Clock Busy Please Wait...",
      "set_jobing OFF    - "},
     Runner([](CommandContext& c) { return SwitchCommands(c).SetJobing(false); })},
    {'H',
     "set_jobing",
     Parameter::OnOff,
     "ON",
     -1,
     {"set_jobing ON", " set_jobing ON - Sending Command", " set_jobing ON - Clock Busy Please Wait...",
      "set_jobing ON     - "},
     Runner([](CommandContext& c) { return SwitchCommands(c).SetJobing(true); })},
    {'I',
     "key_board",
     Parameter::OnOff,
     "ON",
     -1,
     {"key_board ON", " key_board ON - Sending Command", " key_board ON - Clock Busy Please Wait...",
      "key_board ON      - "},
     Runner([](CommandContext& c) { return SwitchCommands(c).KeyBoard(true); })},
    {'J',
     "key_board",
     Parameter::OnOff,
     "OFF",
     -1,
     {"key_board OFF", " key_board OFF - Sending Command", " key_board OFF - Clock Busy Please Wait...",
      "key_board OFF     - "},
     Runner([](CommandContext& c) { return SwitchCommands(c).KeyBoard(false); })},
    {'K',
     "set_message",
     Parameter::FileName,
     nullptr,
     -1,
     {"set_message", " set_message - Sending Messages", " set_message - Clock Busy Please Wait...",
      "set_message       - "},
     Runner([](CommandContext& c) { return MessageCommands(c).SetMessage(); })},
    {'L',
     "set_daylight",
     Parameter::FileName,
     nullptr,
     -1,
     {"set_daylight", " set_daylight - Sending Daylight dates", " set_daylight - Clock Busy Please Wait...",
      "set_daylight      - "},
     Runner([](CommandContext& c) { return MessageCommands(c).SetDaylight(); })},
    {'M',
     "set_modem",
     Parameter::FileName,
     nullptr,
     -1,
     {"set_modem", " set_modem - Sending Modem Parameters", " set_modem - Clock Busy Please Wait...",
      "set_modem         - "},
     Runner([](CommandContext& c) { return MessageCommands(c).SetModem(); })},
    {'N',
     "set_logo",
     Parameter::FileName,
     nullptr,
     -1,
     {"set_logo", " set_logo - Sending Logo", " set_logo - Clock Busy Please Wait...",
      "set_logo          - "},
     Runner([](CommandContext& c) { return MessageCommands(c).SetLogo(); })},
    {'O',
     "clear_all_messages",
     Parameter::None,
     nullptr,
     -1,
     {"clear_all_messages", " clear_all_messages - Sending Command",
      " clear_all_messages - Clock Busy Please Wait...", "clear_all_messages - "},
     Runner([](CommandContext& c) { return SwitchCommands(c).ClearAllMessages(); })},
    {'P',
     "clear_message",
     Parameter::FileName,
     nullptr,
     -1,
     {"clear_message", " clear_message - Sending Table", "clear_message - Clock Busy Please Wait...",
      "clear_message     - "},
     Runner([](CommandContext& c) { return TableUploads(c).ClearMessage(); })},
    {'Q',
     "get_message_list",
     Parameter::FileName,
     nullptr,
     -1,
     {"get_message_list", "get_message_list - Waiting for Reply...",
      "get_message_list - Clock Busy Please Wait...", "get_message_list  - "},
     Runner([](CommandContext& c) { return Downloads(c).GetMessageList(); })},
    {'R',
     "set_pinnumbers",
     Parameter::FileName,
     nullptr,
     -1,
     {"set_pinnumbers", " set_pinnumbers - Sending Table", "set_pinnumbers - Clock Busy Please Wait...",
      "set_pinnumbers    - "},
     Runner([](CommandContext& c) { return TableUploads(c).SetPinNumbers(); })},
    {'S',
     "finger_backup",
     Parameter::FileName,
     nullptr,
     5,
     {"finger_backup", nullptr, nullptr, "finger_backup     - "},
     Runner([](CommandContext& c) { return finger::TemplateBackup(c).Run(); })},
    {'T',
     "finger_restore",
     Parameter::FileName,
     nullptr,
     6,
     {"finger_restore", nullptr, nullptr, "finger_restore    - "},
     Runner([](CommandContext& c) { return finger::TemplateRestore(c).Run(); })},
    {kSoftwareUpgrade,
     nullptr,
     Parameter::None,
     nullptr,
     7,
     {"Software Upgrade", nullptr, nullptr, "Software Upgrade  - "},
     Runner([](CommandContext& c) { return ProgramTransfer(c).SoftwareUpgrade(); })},
    {'X',
     "reset_errors",
     Parameter::None,
     nullptr,
     4,
     {"reset_errors", nullptr, " reset_errors - Clock Busy Please Wait...", "reset_errors      - "},
     Runner([](CommandContext& c) { return TimeCommands(c).ResetErrors(); })},
    {'Y',
     "get_status",
     Parameter::FileName,
     nullptr,
     2,
     {"get_status", " get_status - Waiting for reply...", "Clock Busy - Please Wait...",
      "get_status        - "},
     Runner([](CommandContext& c) { return TimeCommands(c).GetStatus(); })},
    {'Z',
     "system_reset",
     Parameter::None,
     nullptr,
     3,
     {"system_reset", nullptr, nullptr, "system_reset      - "},
     Runner([](CommandContext& c) { return TimeCommands(c).SystemReset(); })},
};

}  // namespace

const CommandEntry* FindCommand(char letter)
{
    for (const CommandEntry& e : kCommands)
        if (e.letter == letter)
            return &e;
    return nullptr;
}

const CommandEntry* FindKeyword(std::string_view keyword)
{
    for (const CommandEntry& e : kCommands)
        if (e.keyword != nullptr && keyword == e.keyword)
            return &e;
    return nullptr;
}

const CommandEntry* FindKeywordValue(std::string_view keyword, std::string_view value)
{
    for (const CommandEntry& e : kCommands)
        if (e.keyword != nullptr && e.value != nullptr && keyword == e.keyword && value == e.value)
            return &e;
    return nullptr;
}

std::vector<const CommandEntry*> CommandList()
{
    std::vector<const CommandEntry*> list;
    for (const CommandEntry& e : kCommands)
        if (e.listIndex >= 0)
            list.push_back(&e);
    std::sort(list.begin(), list.end(),
              [](const CommandEntry* a, const CommandEntry* b) { return a->listIndex < b->listIndex; });
    return list;
}

const CommandEntry* ListEntry(int index)
{
    static const std::vector<const CommandEntry*> list = CommandList();
    if (index < 0 || list.empty())
        return nullptr;
    return list[std::min<std::size_t>(static_cast<std::size_t>(index), list.size() - 1)];
}
