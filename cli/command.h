// Subcommands of quenlo-cli register themselves here, one file each.
#pragma once

#include <string_view>

namespace quenlo::cli {

struct Command {
    const char* name;
    const char* usage;                  // argument synopsis shown by --help
    int (*run)(int argc, char** argv);  // argv[0] is the subcommand's name
};

// Call from a namespace-scope initialiser: static const bool r = Register({...});
bool Register(const Command& command);

// Text of an option value: "--rate 3" style; answers nullptr when absent.
const char* OptionValue(int argc, char** argv, std::string_view option);

}  // namespace quenlo::cli
