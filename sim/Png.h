// PNG output of a read-back frame.
#pragma once

#include <string>

#include "Cab.h"

namespace zor::sim {

bool writePng(const std::wstring& path, const FrameCapture& frame, std::string& error);

}  // namespace zor::sim
