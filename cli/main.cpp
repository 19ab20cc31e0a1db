// quenlo-cli: the main window's jobs from a shell, for scripts and headless use.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command.h"
#include "console.h"

namespace quenlo::cli {
namespace {

std::vector<Command>& Commands() {
    static std::vector<Command> commands;
    return commands;
}

void Usage(FILE* f) {
    std::fprintf(f, "usage: quenlo-cli <command> [arguments]\n\ncommands:\n");
    for (const Command& c : Commands()) std::fprintf(f, "  %s %s\n", c.name, c.usage);
}

}  // namespace

bool Register(const Command& command) {
    Commands().push_back(command);
    return true;
}

const char* OptionValue(int argc, char** argv, std::string_view option) {
    for (int i = 1; i + 1 < argc; ++i)
        if (option == argv[i]) return argv[i + 1];
    return nullptr;
}

bool IndexOption(const char* command, const char* option, const char* text, int last, int& out) {
    char* end = nullptr;
    const long value = text ? std::strtol(text, &end, 10) : -1;
    if (!text || *end != '\0' || end == text || value < 0 || value > last) {
        std::fprintf(stderr, "quenlo-cli %s: %s takes a list index, 0 to %d\n", command, option,
                     last);
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

}  // namespace quenlo::cli

int main(int argc, char** argv) {
    using namespace quenlo::cli;
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        Usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : Commands())
        if (!std::strcmp(c.name, argv[1])) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "quenlo-cli: unknown command '%s'\n", argv[1]);
    Usage(stderr);
    return 2;
}
