#pragma once

#include <string>

#include "config/clsINI.h"

namespace quorvel {

// The values of [Main] that are used as they are written (each checked where it is used):
// Mail, the sender and the blind copy of every message;
std::string SenderSetting(const clsINI& Ini);
// Signature, the last line of every message's body;
std::string SignatureSetting(const clsINI& Ini);
// Timer, the scan interval in seconds.
std::string ScanIntervalSetting(const clsINI& Ini);

}  // namespace quorvel
