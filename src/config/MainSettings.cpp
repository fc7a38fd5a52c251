#include "config/MainSettings.h"

namespace quorvel {

std::string SenderSetting(const clsINI& Ini) { return Ini.ReadINI("Mail", "Main"); }

std::string SignatureSetting(const clsINI& Ini) { return Ini.ReadINI("Signature", "Main"); }

std::string ScanIntervalSetting(const clsINI& Ini) { return Ini.ReadINI("Timer", "Main"); }

}  // namespace quorvel
