#include "PollState.h"

#include <cstring>

void PollState::SetStation(int n)
{
    StationByte = n + 192;
    StationDigits[0] = static_cast<char>('0' + (n / 10) % 10);
    StationDigits[1] = static_cast<char>('0' + n % 10);
}

std::string PollState::AccessCodeText() const
{
    return std::string(AccessCode.data(), strnlen(AccessCode.data(), AccessCode.size()));
}

bool PollState::SetAccessCode(const std::string& code)
{
    if (code.size() > 6)
        return false;
    AccessCode.fill('\0');
    std::memcpy(AccessCode.data(), code.data(), code.size());
    return true;
}

PollState& ThePollState()
{
    static PollState state;
    return state;
}
