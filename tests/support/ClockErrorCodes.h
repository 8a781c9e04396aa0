// Tests print result codes as the numbers the results file and the exit status carry when a
// check fails; they compare codes with the code names, or ClockErrorNumber(...) with a number.
#pragma once

#include "core/ClockError.h"

#include <ostream>

inline void PrintTo(ClockError code, std::ostream* out)
{
    *out << ClockErrorNumber(code);
}
