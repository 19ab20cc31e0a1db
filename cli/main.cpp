// quenlo-cli: the main window's jobs from a shell, for scripts and headless use.
#include <strings.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "command.h"
#include "console.h"
#include "quenlo/version.h"

namespace quenlo::cli {
namespace {

std::vector<Command>& Commands() {
    static std::vector<Command> commands;
    return commands;
}

// A list index in 0..last; the message names the list.
CLI::Validator ListIndex(int last) {
    return CLI::Validator(
        [last](std::string& text) -> std::string {
            const std::string range = "a list index, 0 to " + std::to_string(last);
            size_t used = 0;
            int value = -1;
            try {
                value = std::stoi(text, &used);
            } catch (const std::exception&) {
                return "takes " + range;
            }
            if (used != text.size() || value < 0 || value > last) return "takes " + range;
            return {};
        },
        "");
}

// Every command-line mistake in one form: the command, what is wrong, where help is.
int Fail(const CLI::App& app, const CLI::ParseError& e, const char* first_argument) {
    std::string command = "quenlo-cli";
    for (const CLI::App* sub : app.get_subcommands()) command += " " + sub->get_name();
    std::string what = e.what();
    if (app.get_subcommands().empty() && first_argument && first_argument[0] != '-')
        what = std::string("unknown command '") + first_argument + "'";
    std::fprintf(stderr, "%s: %s\nRun '%s --help' for the arguments.\n", command.c_str(),
                 what.c_str(), command.c_str());
    return 2;
}

}  // namespace

bool Register(const Command& command) {
    Commands().push_back(command);
    return true;
}

bool FinishOutput(const char* command) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "quenlo-cli %s: cannot write the output: %s\n", command,
                 std::strerror(errno ? errno : EIO));
    std::clearerr(stdout);  // told once, whoever asks again
    return false;
}

void StdoutUi::ConsoleWrite(std::string_view text) {
    LogWrite(Stream::Out, text);
}

void StdoutUi::ConsoleLine(std::string_view text, LineKind kind) {
    ConsoleWrite(text);
    if (kind != LineKind::Failure || !copy_failures_) return;
    std::string line = "quenlo-cli: ";
    line.append(text.substr(0, text.find_last_not_of("\r\n") + 1));
    line += '\n';
    LogWrite(Stream::Err, line);
}

CLI::Validator PortName() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text.empty() ? "takes a device name (ttyUSB0) or path, not an empty one" : "";
        },
        "DEV");
}

void RefuseBadFiles(const std::string& model, const std::vector<std::string>& motions,
                    std::initializer_list<OutputOption> outputs) {
    const auto ends = [](const std::string& path, const char* ext) {
        return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ext) == 0;
    };
    if (ends(model, ".tra"))
        throw CLI::ValidationError("MODEL.bac", model + " is a motion (TRA4), not a BAC6 model");
    for (const std::string& m : motions)
        if (ends(m, ".bac"))
            throw CLI::ValidationError("MOTION.tra", m + " is a model (BAC6), not a TRA4 motion");
    std::vector<const std::string*> inputs{&model};
    for (const std::string& m : motions) inputs.push_back(&m);
    for (const OutputOption& out : outputs)
        for (const std::string* in : inputs)
            if (!out.path.empty() && SameFile(out.path, *in))
                throw CLI::ValidationError(out.option,
                                           out.path + " is " + *in + ", one of the inputs");
}

CLI::Option* AddSceneArgs(CLI::App& sub, SceneArgs& args, const char* motions, const char* output,
                          const char* type) {
    sub.add_option("MODEL.bac", args.model, "the model")->required();
    sub.add_option("MOTION.tra", args.motions, motions);
    CLI::Option* rate = AddRateOption(sub, args.rate);
    sub.add_option("-o", args.output, output)->required()->type_name(type);
    sub.callback([&args] { RefuseBadFiles(args.model, args.motions, {{"-o", args.output}}); });
    return rate;
}

namespace {

// A list of the window as an option: its index, range-checked, with its default.
CLI::Option* AddListOption(CLI::App& sub, const char* name, int& value, int fallback, int last,
                           const char* help) {
    value = fallback;
    return sub.add_option(name, value, help)
        ->type_name("INDEX")
        ->check(ListIndex(last))
        ->capture_default_str();
}

}  // namespace

CLI::Option* AddRateOption(CLI::App& sub, int& rate) {
    return AddListOption(
        sub, "--rate", rate, kDefaultRate, 8,
        "playback-rate list index: 0 to 8 for 10, 15, 20, 25, 30, 40, 45, 50, 60 ms");
}

CLI::Option* AddIntervalOption(CLI::App& sub, int& interval) {
    return AddListOption(sub, "--interval", interval, kDefaultInterval, 4,
                         "transition list index: 0 to 4 for none, 100 ms, 500 ms, 1 s, 2 s");
}

}  // namespace quenlo::cli

int main(int argc, char** argv) {
    using namespace quenlo::cli;
    quenlo::EnsureStandardStreams();
    // A closed pipe is a write error to report, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    CLI::App app("quenlo-cli: the main window's jobs from a shell", "quenlo-cli");
    app.require_subcommand(1);
    app.set_version_flag("--version",
                         std::string("quenlo-cli ") + QUENLO_VERSION + " (" + QUENLO_DATE + ")");
    std::vector<std::pair<CLI::App*, std::function<int()>>> runs;
    for (const Command& c : Commands()) {
        CLI::App* sub = app.add_subcommand(c.name, c.description);
        runs.emplace_back(sub, c.define(*sub));
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        return Fail(app, e, argc > 1 ? argv[1] : nullptr);
    }
    // Whatever the command, output that did not reach standard output is a failure.
    for (auto& [sub, run] : runs)
        if (sub->parsed()) {
            const int status = run();
            return FinishOutput(sub->get_name().c_str()) || status != 0 ? status : 1;
        }
    return 2;
}
