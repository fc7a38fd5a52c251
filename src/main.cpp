#include <clocale>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>

#include "base/AppFolder.h"
#include "base/Clock.h"
#include "service/AsioEventLoop.h"
#include "service/ScannerWork.h"
#include "service/SignalEvents.h"
#include "service/SystemdControl.h"
#include "service/TerminalPrompt.h"
#include "service/frmService.h"

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
        return RunService(ArgumentText(argc, argv));
    } catch (const std::exception& e) {
        std::cerr << "QuorvelServer: " << e.what() << std::endl;
        return 1;
    }
}
