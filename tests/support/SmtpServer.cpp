#include "support/SmtpServer.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace quorvel::testing {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr auto kStartLimit = std::chrono::seconds(30);

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

const char* FaultName(SmtpServer::Fault fault) {
    switch (fault) {
        case SmtpServer::Fault::RefuseRecipients: return "refuse";
        case SmtpServer::Fault::DropInData: return "drop";
        case SmtpServer::Fault::Stall: return "stall";
        case SmtpServer::Fault::None: break;
    }
    return "none";
}

// Reads the records of one N.rec file (see tests/smtp_server.py) into a message.
ReceivedMessage ParseRecords(std::string_view text) {
    ReceivedMessage m;
    std::string pendingName;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t space = text.find(' ', pos);
        std::size_t newline = text.find('\n', space);
        if (space == std::string_view::npos || newline == std::string_view::npos) {
            throw std::runtime_error("malformed record file from the test SMTP server");
        }
        std::string key(text.substr(pos, space - pos));
        std::size_t length = std::stoul(std::string(text.substr(space + 1, newline - space - 1)));
        std::string value(text.substr(newline + 1, length));
        pos = newline + 1 + length + 1;
        if (key == "mail_from") m.MailFrom = value;
        else if (key == "rcpt") m.Recipients.push_back(value);
        else if (key == "header_name") pendingName = value;
        else if (key == "header_value") m.Headers.emplace_back(pendingName, value);
        else if (key == "body") m.Body = value;
        else if (key == "attachment_name") m.Attachments.push_back({value, "", 0, ""});
        else if (key == "attachment_type") m.Attachments.back().ContentType = value;
        else if (key == "attachment_size") m.Attachments.back().Size = std::stoull(value);
        else if (key == "attachment_sha256") m.Attachments.back().Sha256 = value;
        else if (key == "defect") m.Defects.push_back(value);
    }
    return m;
}

}  // namespace

std::string ReceivedMessage::Header(std::string_view name) const {
    for (const auto& [n, v] : Headers) {
        if (SameName(n, name)) return v;
    }
    return "";
}

std::size_t ReceivedMessage::HeaderCount(std::string_view name) const {
    return std::count_if(Headers.begin(), Headers.end(), [&](const auto& h) { return SameName(h.first, name); });
}

SmtpServer::SmtpServer() : SmtpServer(Options{}) {}

SmtpServer::SmtpServer(Options options) : options_(std::move(options)) {
    const std::string portFile = (dir_ / "port").string();
    std::vector<std::string> args = {"/usr/bin/python3", std::string(QUORVEL_TESTS_DIR) + "/smtp_server.py",
                                     "--port-file", portFile, "--store", (dir_ / "store").string(),
                                     "--user", options_.User, "--password", options_.Password,
                                     "--fault", FaultName(options_.fault)};
    for (const auto& r : options_.Refused) {
        args.push_back("--refuse");
        args.push_back(r);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (int rc = ::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ); rc != 0) {
        throw std::runtime_error("cannot start the test SMTP server: " + std::string(std::strerror(rc)));
    }
    for (auto waited = std::chrono::milliseconds(0); waited < kStartLimit; waited += kPoll) {
        std::string text = ReadFile(portFile);
        if (!text.empty()) {
            port_ = std::stoi(text);
            return;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("the test SMTP server ended before it listened (is python3-aiosmtpd installed?)");
        }
        std::this_thread::sleep_for(kPoll);
    }
    throw std::runtime_error("the test SMTP server did not start listening in time");
}

SmtpServer::~SmtpServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::string SmtpServer::SmtpSection(int timeoutSeconds) const {
    return "[SMTP]\r\nServer=" + Host() + "\r\nPort=" + std::to_string(port_) + "\r\nUser=" + options_.User +
           "\r\nPassword=" + options_.Password + "\r\nTimeout=" + std::to_string(timeoutSeconds) + "\r\n";
}

std::size_t SmtpServer::StoredCount() const {
    std::size_t n = 0;
    while (std::filesystem::exists(dir_ / "store" / (std::to_string(n + 1) + ".rec"))) ++n;
    return n;
}

std::vector<ReceivedMessage> SmtpServer::Messages() const {
    std::vector<ReceivedMessage> messages;
    const std::size_t count = StoredCount();
    for (std::size_t i = 1; i <= count; ++i) {
        const auto base = dir_ / "store" / std::to_string(i);
        messages.push_back(ParseRecords(ReadFile(base.string() + ".rec")));
        messages.back().Raw = ReadFile(base.string() + ".eml");
    }
    return messages;
}

std::vector<ReceivedMessage> SmtpServer::WaitForMessages(std::size_t count, std::chrono::milliseconds limit) const {
    for (auto waited = std::chrono::milliseconds(0); waited < limit && StoredCount() < count; waited += kPoll) {
        std::this_thread::sleep_for(kPoll);
    }
    return Messages();
}

}  // namespace quorvel::testing
