#pragma once

#include <QtGlobal>

// Stress runs (KORVAN_STRESS=1) use the full sizes; the everyday suite smaller ones.
inline bool stressRun()
{
    return qEnvironmentVariableIntValue("KORVAN_STRESS") == 1;
}
