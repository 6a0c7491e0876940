// Small helpers shared by the engine, the prober and the player.
#pragma once

#include <cstdint>
#include <string>

// "hh:mm:ss.mmm" for a time in microseconds (hours not wrapped), "N/A" for AV_NOPTS_VALUE.
std::string DurationText(int64_t ATime_us);

// The folder of the running executable, with a trailing "/".
std::string ApplicationFolder();

// The calling thread's system thread id.
uint32_t CurrentThreadID();

// Every task keeps its input and output open from its creation to its end, so a long list of
// files needs more descriptors than the usual soft limit: raise it to the hard limit.
void RaiseOpenFileLimit();
