// Subcommands of quenlo-cli register themselves here, one file each.
#pragma once

#include <functional>

namespace CLI {
class App;
}

namespace quenlo::cli {

// What a subcommand file registers. `define` declares the subcommand's
// arguments and options on `sub` and answers the function that runs it once the
// command line has been parsed; the function's answer is the exit status.
struct Command {
    const char* name;
    const char* description;
    std::function<int()> (*define)(CLI::App& sub);
};

// Call from a namespace-scope initialiser: const bool r = Register({...});
bool Register(const Command& command);

}  // namespace quenlo::cli
