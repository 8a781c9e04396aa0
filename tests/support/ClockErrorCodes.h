// Tests compare result codes with the numbers the results file and the exit status carry,
// and print them as those numbers when a check fails.
#pragma once

#include "core/ClockError.h"

#include <ostream>

inline bool operator==(ClockError code, int number)
{
    return ClockErrorNumber(code) == number;
}

inline void PrintTo(ClockError code, std::ostream* out)
{
    *out << ClockErrorNumber(code);
}
