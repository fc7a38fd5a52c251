#include "config/SmtpSettings.h"

#include <cctype>

namespace quorvel {

std::string SmtpSettings::Url() const {
    std::string path;
    for (unsigned char c : Helo) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        if (std::isalnum(c) || c == '.' || c == '-')
            path += static_cast<char>(c);
        else
            path += {'%', kHex[c >> 4], kHex[c & 15]};
    }
    return std::string(Security == SmtpSecurity::Tls ? "smtps://" : "smtp://") + Server + ":" +
           std::to_string(Port) + "/" + path;
}

}  // namespace quorvel
