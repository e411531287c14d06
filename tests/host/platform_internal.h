// What the platform implementations share (platform_common.cpp), and what
// each provides to it.
#pragma once

#include <string>

#include "host/platform.h"

namespace corvane::test {

// An environment variable CTest sets for the suite; throws when it is missing.
std::string RequiredEnv(const char* name);

// Stores of what the bridge modules did, filled by the platform's hooks.
void RecordReport(Report report);
void RecordLoaderCall(std::string call);

// Whether the double can be found now, by the scenario and MakeImageLibraryFindable.
bool DoubleFindable();
void MarkDoubleFindable();

// Per platform: an exported symbol of the double the bridge finds.
void* DoubleSymbol(const char* name);

}  // namespace corvane::test
