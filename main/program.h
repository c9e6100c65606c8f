// The program body: switches, log start, parameter check, daily rotation,
// banner, dispatch on the action, and the exit code of the run.
#pragma once

#include <string>
#include <vector>

// Scans the arguments (without the program name) into the run parameters.
void ReadCommandLine(const std::vector<std::string>& args);

// Today's rotation key, yyyymmdd, from the local date.
std::string TodayRotationKey();

// Rotates the log once per calendar day through rotate.ini beside it. Raises
// EConvertError when the stored date is not a whole number.
void RotateLogDaily(const std::string& todayKey);

// The whole run; returns the process exit code.
int RunProgram(const std::vector<std::string>& args);
