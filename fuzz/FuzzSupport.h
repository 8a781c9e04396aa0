// What the fuzz targets share: one scratch folder per process for the files they write,
// and a check that stops the run at the first broken promise.
#pragma once

#include "support/Fakes.h"

#include <cstdlib>
#include <string>

inline const std::string& WorkDir()
{
    static const std::string dir = MakeTempDir();
    return dir;
}

inline void Check(bool ok)
{
    if (!ok)
        std::abort();
}
