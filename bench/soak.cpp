// Soak: many scan cycles through Scanner::ProcessMail against test SMTP servers with random faults,
// and random changes to the batch while a server holds its reply. Every dropped file has unique
// content and a ledger entry; at the end each one must be delivered once, in the lost folder, or
// still waiting in the mail folder, and nothing delivered, lost or waiting may be unknown or
// corrupt.
//
//   soak [CYCLES] [SEED]        (10000 cycles and a random seed by default; the seed is printed)
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <random>
#include <unordered_map>

#include "base/Error.h"
#include "delivery/CycleResultText.h"
#include "delivery/Scanner.h"
#include "dropfolder/LeaseLockTest.h"
#include "log/MailLog.h"
#include "support/FixedClock.h"
#include "support/SmtpServer.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using namespace quorvel;
using namespace quorvel::testing;
using Fault = SmtpServer::Fault;

namespace {

// Recipient folders and the first envelope recipient each must reach ("buh" and "board" are
// aliases).
const std::vector<std::pair<std::string, std::string>> kFolders = {
    {"a@example.com", "a@example.com"},
    {"b@example.com", "b@example.com"},
    {"buh", "buh@example.com"},
    {"board", "anna@example.com"}};
const std::vector<std::string> kNames = {"report.pdf", "report.xml", "Отчёт за май.docx",
                                         "a b c.txt",  "data",       "x.csv"};
// Refused (550) or deferred (451) at RCPT TO by the servers with those faults.
const std::vector<std::string> kRefused = {"b@example.com", "anna@example.com"};

struct Target {
    std::string name;
    int weight, timeout;
    std::unique_ptr<SmtpServer> server;  // none: a port where nothing listens
    int port = 0;
    bool holds = false;
};

struct Entry {
    std::string folder, name;
    bool live = true;  // false once the soak itself replaced, rewrote, appended to or withdrew it
    int delivered = 0, lost = 0, waiting = 0;
};

int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

long PeakRssKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Sorts a cycle's result into one outcome.
std::string Outcome(const std::string& result) {
    if (result.empty()) return "nothing to send";
    if (result.starts_with("ok"))
        return result.find("not deleted") != std::string::npos ? "sent, changed file kept"
               : result == "ok"                                ? "sent"
                                                               : "sent, other: " + result;
    if (result.starts_with("Отправка отложена")) return "deferred (retry)";
    if (result.find("to be sent again)") != std::string::npos) return "changed before read, kept";
    if (result.find("not moved") != std::string::npos) return "lost, some files kept";
    if (result.starts_with("Не удалось отправить")) return "lost folder";
    return "other: " + result;
}

class Soak {
public:
    explicit Soak(std::uint64_t seed)
        : rng_(seed),
          log_(app_.Path(), clock_),
          lockTest_(fileSystems_),
          scanner_(app_.Path(), log_, lockTest_, clock_) {
        clock_.now = std::chrono::system_clock::now();
        fs::create_directories(app_ / "mail");
        fs::create_directories(app_ / "stage");
        for (const auto& [folder, address] : kFolders)
            fs::create_directories(app_ / "mail" / folder);
        auto add = [&](std::string name, int weight, int timeout, Fault fault) {
            targets_.push_back(
                {std::move(name), weight, timeout, std::make_unique<SmtpServer>(fault, kRefused)});
            targets_.back().port = targets_.back().server->Port();
            targets_.back().holds = fault == Fault::HoldAtRecipients || fault == Fault::HoldAtData;
        };
        add("none", 40, 5, Fault::None);
        add("hold-rcpt, changes", 15, 5, Fault::HoldAtRecipients);
        add("hold-data, changes", 15, 5, Fault::HoldAtData);
        add("550 at RCPT", 6, 5, Fault::RefuseRecipients);
        add("451 at RCPT", 8, 5, Fault::DeferRecipients);
        add("drop after data", 8, 5, Fault::DropInData);
        add("stall at EHLO", 1, 1, Fault::Stall);
        targets_.push_back({"connection refused", 6, 1, nullptr, ClosedPort()});
        scanner_.Ini().FileName(app_ / "options.ini");
    }

    void Run(int cycles) {
        const auto start = std::chrono::steady_clock::now();
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            for (int n = Pick(3); n-- > 0;) Drop(kFolders[Pick(kFolders.size())].first);
            Target& target = Choose();
            const bool retry = Pick(2) == 0;
            WriteSettings(target, retry ? 2 + Pick(30) : 0);
            ++outcomes_[target.name + (retry ? " +RetryFor" : "")][Outcome(Cycle(target))];
            clock_.now += std::chrono::seconds(1);
            if (cycle == cycles / 10 || cycle == cycles / 2) {
                std::printf("peak RSS after %d cycles: %ld KiB\n", cycle, PeakRssKiB());
                std::fflush(stdout);
            }
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%d cycles in %.1f s: %.1f cycles/s; peak RSS %ld KiB\n", cycles, seconds,
                    cycles / seconds, PeakRssKiB());
    }

    // Cycles against the fault-free server with no retries, the clock moved past every wait,
    // until nothing is left to send.
    void Drain() {
        int cycles = 0;
        for (int idle = 0; idle < 2 && cycles < 2000; ++cycles) {
            WriteSettings(targets_[0], 0);
            clock_.now += std::chrono::hours(1);
            idle = Cycle(targets_[0]).empty() ? idle + 1 : 0;
        }
        std::printf("drained in %d cycles\n", cycles);
    }

    // Prints the counts; false when any file is unaccounted for, delivered twice, or corrupt.
    bool Account() {
        for (const Target& t : targets_) {
            if (!t.server) continue;
            for (const ReceivedMessage& m : t.server->Messages()) {
                for (const ReceivedAttachment& a : m.Attachments) {
                    Entry* e = Find(a.Data, "delivered attachment " + a.FileName);
                    if (!e) continue;
                    ++e->delivered;
                    const std::string& to =
                        std::find_if(kFolders.begin(), kFolders.end(), [&](auto& f) {
                            return f.first == e->folder;
                        })->second;
                    if (a.FileName != e->name || std::find(m.Recipients.begin(), m.Recipients.end(),
                                                           to) == m.Recipients.end()) {
                        Fail("file " + e->name + " of " + e->folder + " delivered as " +
                             a.FileName + " to the wrong place");
                    }
                }
            }
        }
        Scan("mail", &Entry::waiting);
        Scan("lost", &Entry::lost);
        std::map<std::string, int> tally;
        for (std::size_t serial = 0; serial < ledger_.size(); ++serial) {
            const Entry& e = ledger_[serial];
            const int places = e.delivered + e.lost + e.waiting;
            const std::string kind = e.live ? "dropped" : "changed by the soak";
            if (e.live ? places != 1 : (places != e.delivered || e.delivered > 1)) {
                Fail("file " + std::to_string(serial) + " (" + e.folder + "/" + e.name + ", " +
                     kind + "): delivered " + std::to_string(e.delivered) + ", lost " +
                     std::to_string(e.lost) + ", waiting " + std::to_string(e.waiting));
            }
            ++tally[kind + ": " +
                    (e.delivered ? "delivered"
                     : e.lost    ? "in the lost folder"
                     : e.waiting ? "waiting"
                                 : "gone before its send")];
        }
        std::printf("\n%zu files; changes during a send:", ledger_.size());
        for (const auto& [change, count] : changes_) std::printf(" %s %d,", change.c_str(), count);
        std::printf("\n\nper file:\n");
        for (const auto& [what, count] : tally) std::printf("  %-45s %6d\n", what.c_str(), count);
        std::printf("\nper fault and outcome (cycles):\n");
        for (const auto& [fault, counts] : outcomes_) {
            for (const auto& [outcome, count] : counts)
                std::printf("  %-32s %-28s %6d\n", fault.c_str(), outcome.c_str(), count);
        }
        std::printf("\n%s: %d problem(s)\n", failures_ ? "FAILED" : "every file accounted for",
                    failures_);
        return failures_ == 0;
    }

private:
    std::size_t Pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }

    Target& Choose() {
        int total = 0;
        for (const Target& t : targets_) total += t.weight;
        int roll = static_cast<int>(Pick(total));
        for (Target& t : targets_) {
            if ((roll -= t.weight) < 0) return t;
        }
        return targets_[0];
    }

    // Every key but [Main] Timer is read afresh at each cycle.
    void WriteSettings(const Target& t, int retryFor) {
        std::string ini =
            "[Main]\r\nMailFolder=mail\r\nLostFolder=lost\r\nMail=sender@example.com\r\nTimer=1\r\n"
            "Signature=soak\r\n[SMTP]\r\nServer=127.0.0.1\r\nPort=" +
            std::to_string(t.port) +
            "\r\nUser=quorvel\r\nPassword=secret\r\nTimeout=" + std::to_string(t.timeout) +
            "\r\nRetryFor=" + std::to_string(retryFor) +
            "\r\nRetryDelay=" + std::to_string(1 + Pick(3)) +
            "\r\n[alias]\r\nbuh=buh@example.com\r\nboard=Anna <anna@example.com>, "
            "c@example.com\r\n";
        WriteFile(app_ / "options.ini", ini);
    }

    // One cycle; with a holding server, one to three changes to the batch while the reply is held.
    std::string Cycle(const Target& t) {
        auto cycle = std::async(std::launch::async, [this] { return scanner_.ProcessMail(); });
        // The server keeps its hold files in its store, beside its certificates (see SmtpServer).
        const fs::path held =
            t.holds ? t.server->CAFile().parent_path().parent_path() / "store" / "held"
                    : fs::path();
        while (cycle.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
            if (!t.holds || !fs::exists(held)) continue;
            // The cycle's thread waits for the reply meanwhile; the folder it chose is the one
            // being sent.
            for (int n = 1 + static_cast<int>(Pick(3)); n-- > 0;) Change(scanner_.LastFolder());
            t.server->Release();
            while (fs::exists(held) &&
                   cycle.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
            }
        }
        try {
            return ReportOf(cycle.get()).Text;
        } catch (const Error& e) {
            Fail(std::string("cycle threw: ") + e.what());
            return "";
        }
    }

    // A serial number, then random bytes: mostly small, one file in a hundred larger than a read
    // piece.
    std::string Content(std::size_t serial) {
        std::string s = "quorvel soak file " + std::to_string(serial) + "\n";
        const std::size_t size = Pick(100) == 0 ? 200000 + Pick(200000) : Pick(4096);
        for (std::size_t i = 0; i < size; ++i) s += static_cast<char>(rng_());
        return s;
    }

    void Record(const std::string& folder, const std::string& name, const std::string& content) {
        byContent_.emplace(std::hash<std::string>{}(content), ledger_.size());
        ledger_.push_back({folder, name});
    }

    void Drop(const std::string& folder) {
        std::string name = kNames[Pick(kNames.size())];
        if (fs::exists(app_ / "mail" / folder / name))
            name = "file " + std::to_string(ledger_.size()) + ".bin";
        const std::string content = Content(ledger_.size());
        Record(folder, name, content);
        WriteFile(app_ / "mail" / folder / name, content);
    }

    // Replaces, withdraws, rewrites or appends to a file of `folder`, or adds one.
    void Change(const std::string& folder) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(app_ / "mail" / folder)) {
            if (entry.is_regular_file() && !entry.path().filename().string().starts_with("."))
                files.push_back(entry.path());
        }
        const char* kinds[] = {"added", "replaced", "withdrawn", "rewritten", "appended"};
        const std::size_t kind = files.empty() ? 0 : Pick(5);
        ++changes_[kinds[kind]];
        if (kind == 0) return Drop(folder);
        const fs::path path = files[Pick(files.size())];
        const std::string old = ReadFile(path);
        if (Entry* e = Find(old, "file changed by the soak")) e->live = false;
        const std::string name = path.filename().string();
        std::string content = Content(ledger_.size());
        if (kind == 1) {
            WriteFile(app_ / "stage" / "next", content);
            fs::rename(app_ / "stage" / "next", path);
        } else if (kind == 2) {
            fs::remove(path);
            return;
        } else if (kind == 3) {
            WriteFile(path, content);
        } else {
            std::ofstream(path, std::ios::binary | std::ios::app) << content;
            content = old + content;
        }
        Record(folder, name, content);
    }

    Entry* Find(const std::string& content, const std::string& what) {
        auto it = byContent_.find(std::hash<std::string>{}(content));
        if (it != byContent_.end()) return &ledger_[it->second];
        Fail(what + ": content of no dropped file (" + std::to_string(content.size()) + " bytes)");
        return nullptr;
    }

    // Counts every file under <app>/<top>/<folder>/ against the ledger.
    void Scan(const std::string& top, int Entry::*count) {
        if (!fs::exists(app_ / top)) return;
        for (const auto& folder : fs::directory_iterator(app_ / top)) {
            for (const auto& file : fs::directory_iterator(folder.path())) {
                Entry* e = Find(ReadFile(file.path()), top + " file " + file.path().string());
                if (e && e->folder != folder.path().filename())
                    Fail(file.path().string() + " belongs to " + e->folder);
                if (e) ++(e->*count);
            }
        }
    }

    void Fail(const std::string& text) {
        if (++failures_ <= 20) std::printf("PROBLEM: %s\n", text.c_str());
    }

    TempDir app_;
    std::mt19937_64 rng_;
    FixedClock clock_;
    MailLog log_;
    StatfsFileSystemKind fileSystems_;
    LeaseLockTest lockTest_;
    Scanner scanner_;
    std::vector<Target> targets_;
    std::vector<Entry> ledger_;
    std::unordered_map<std::size_t, std::size_t> byContent_;
    std::map<std::string, int> changes_;
    std::map<std::string, std::map<std::string, int>> outcomes_;
    int failures_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::uint64_t seed = argc > 2 ? std::stoull(argv[2]) : std::random_device{}();
    std::printf("soak: %d cycles, seed %llu (soak %d %llu makes the same random choices)\n", cycles,
                static_cast<unsigned long long>(seed), cycles,
                static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    Soak soak(seed);
    soak.Run(cycles);
    soak.Drain();
    return soak.Account() ? 0 : 1;
}
