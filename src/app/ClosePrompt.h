#pragma once

#include <functional>
#include <string>

namespace quorvel {

// A Yes/No question put to the person at the console. The answer arrives later through
// `answered`, while the event loop goes on handling timers and signals.
class ClosePrompt {
public:
    virtual ~ClosePrompt() = default;

    // While a question is open a further one is dropped.
    virtual void Ask(const std::string& title, const std::string& text,
                     std::function<void(bool yes)> answered) = 0;
};

}  // namespace quorvel
