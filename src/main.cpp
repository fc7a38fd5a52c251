#include <clocale>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/ScannerWork.h"
#include "app/SignalEvents.h"
#include "app/TerminalPrompt.h"
#include "app/frmService.h"
#include "base/AppFolder.h"
#include "base/Clock.h"
#include "loop/AsioEventLoop.h"
#include "systemd/SystemdControl.h"

namespace {

// The argument text: the program's arguments joined by single blanks.
std::string ArgumentText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

constexpr const char* kHelp =
    "Usage: quorvel-server [/i | /u | /t | --version | --help]\n"
    "Sends the files dropped into <MailFolder>/<recipient>/ by e-mail; the settings are in\n"
    "options.ini beside the program.\n"
    "  (none)     run the service in the foreground, as systemd starts it\n"
    "  /i         write and enable the systemd unit QuorvelServer.service\n"
    "  /u         stop and disable the service and remove its unit\n"
    "  /t         check options.ini and the SMTP login, then exit\n"
    "  --version  print the version\n"
    "  --help     print this text\n"
    "See quorvel-server(8).\n";

// The answers that need no service: the version and the help text, on standard output.
bool PrintInformation(const std::string& arguments) {
    if (arguments == "--version") {
        std::cout << "quorvel-server " QUORVEL_VERSION "\n";
    } else if (arguments == "--help") {
        std::cout << kHelp;
    } else {
        return false;
    }
    return true;
}

int RunService(const std::string& arguments) {
    using namespace quorvel;
    SystemClock clock;
    AsioEventLoop loop;
    SystemdControl control(std::filesystem::read_symlink("/proc/self/exe"));
    ScannerWork work(AppFolder(), clock, control);
    TerminalPrompt prompt(loop.Context());
    frmService form({control, loop, work, prompt, std::cout, std::cerr});
    SignalEvents signals(loop.Context(), form, TerminalPrompt::Available());
    form.Form_Load(arguments);
    return loop.Run();
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // A closed standard error (no journal, the reader gone) must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const std::string arguments = ArgumentText(argc, argv);
        if (PrintInformation(arguments)) return 0;
        return RunService(arguments);
    } catch (const std::exception& e) {
        std::cerr << "QuorvelServer: " << e.what() << std::endl;
        return 1;
    }
}
