#pragma once
// The calibration instructions shown by 使用说明 (window 172): one string, lines ended by
// CR LF.

#include <string>

std::string AdjustHelpText();
