// Shared journal of the stand-in: the call log and the list of misuses, kept by the registry and box parts.
#pragma once

#include <string>

namespace standin {

void LogCall(const std::string& line);
void LogProblem(const std::string& line);
void ResetDialogs();  // forgets boxes and scripted answers

}  // namespace standin
