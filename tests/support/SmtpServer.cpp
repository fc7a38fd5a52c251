#include "support/SmtpServer.h"

#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>

#include <csignal>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quorvel::testing {
namespace {

// Waits up to 30 s for `done`.
template <typename Done>
bool PollFor(Done done) {
    for (int tries = 0; tries < 1500;
         ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (done()) return true;
    return false;
}

std::size_t StoredCount(const std::filesystem::path& store) {
    std::size_t n = 0;
    while (std::filesystem::exists(store / (std::to_string(n + 1) + ".rec"))) ++n;
    return n;
}

// Reads the records of one N.rec file (`key SP length LF bytes LF`, see tests/smtp_server.py).
ReceivedMessage ParseRecords(std::string_view text) {
    ReceivedMessage m;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t space = text.find(' ', pos), newline = text.find('\n', space);
        if (newline == std::string_view::npos) throw std::runtime_error("malformed record file");
        std::string key(text.substr(pos, space - pos));
        std::size_t length = std::stoul(std::string(text.substr(space + 1, newline - space - 1)));
        std::string value(text.substr(newline + 1, length));
        pos = newline + 1 + length + 1;
        if (key == "mail_from")
            m.MailFrom = value;
        else if (key == "rcpt")
            m.Recipients.push_back(value);
        else if (key == "header_name")
            m.Headers.emplace_back(value, "");
        else if (key == "header_value")
            m.Headers.back().second = value;
        else if (key == "body")
            m.Body = value;
        else if (key == "attachment_name")
            m.Attachments.push_back({value, "", ""});
        else if (key == "attachment_type")
            m.Attachments.back().ContentType = value;
        else if (key == "attachment_data")
            m.Attachments.back().Data = value;
        else if (key == "defect")
            m.Defects.push_back(value);
    }
    return m;
}

}  // namespace

std::string ReceivedMessage::Header(std::string_view name) const {
    for (const auto& [key, value] : Headers)
        if (::strcasecmp(key.c_str(), std::string(name).c_str()) == 0) return value;
    return "";
}

SmtpServer::SmtpServer(Fault fault, const std::vector<std::string>& refused,
                       const std::string& security, long sizeLimit, const std::string& oauth) {
    const char* faults[] = {"none",        "refuse",     "drop",      "stall",     "stall-data",
                            "hold-rcpt",   "hold-data",  "defer",     "echo-auth", "no-auth",
                            "refuse-data", "slow-final", "wrong-name"};
    const std::string portFile = (dir_ / "port").string();
    std::vector<std::string> args = {
        "/usr/bin/python3", std::string(QUORVEL_TESTS_DIR) + "/smtp_server.py",
        "--port-file",      portFile,
        "--store",          (dir_ / "store").string(),
        "--parent",         std::to_string(::getpid()),
        "--fault",          faults[static_cast<int>(fault)],
        "--security",       security,
        "--certs",          (dir_ / "certs").string(),
        "--oauth",          oauth};
    if (sizeLimit > 0) args.insert(args.end(), {"--size-limit", std::to_string(sizeLimit)});
    for (const auto& r : refused) args.insert(args.end(), {"--refuse", r});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start the test SMTP server");
    if (!PollFor([&] {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_)
                pid_ = -1, throw std::runtime_error("the test SMTP server ended early");
            return !ReadFile(portFile).empty();
        }))
        throw std::runtime_error("the test SMTP server did not start listening in time");
    port_ = std::stoi(ReadFile(portFile));
}

SmtpServer::~SmtpServer() {
    if (pid_ > 0) ::kill(pid_, SIGTERM), ::waitpid(pid_, nullptr, 0);
}

std::string SmtpServer::SmtpSection(int timeoutSeconds, const std::string& password) const {
    return "[SMTP]\r\nServer=127.0.0.1\r\nPort=" + std::to_string(port_) +
           "\r\nUser=quorvel\r\nPassword=" + password +
           "\r\nTimeout=" + std::to_string(timeoutSeconds) + "\r\n";
}

bool SmtpServer::WaitUntilHeld() const {
    return PollFor([&] { return std::filesystem::exists(dir_ / "store" / "held"); });
}

std::vector<ReceivedMessage> SmtpServer::Messages() const {
    std::vector<ReceivedMessage> messages;
    for (std::size_t i = 1, count = StoredCount(dir_ / "store"); i <= count; ++i) {
        const std::string base = (dir_ / "store" / std::to_string(i)).string();
        messages.push_back(ParseRecords(ReadFile(base + ".rec")));
        messages.back().Raw = ReadFile(base + ".eml");
    }
    return messages;
}

std::vector<ReceivedMessage> SmtpServer::WaitForMessages(std::size_t count) const {
    PollFor([&] { return StoredCount(dir_ / "store") >= count; });
    return Messages();
}

}  // namespace quorvel::testing
