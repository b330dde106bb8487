// qelsim: inspect the qel blocks, trace one block, run closed-loop drive simulations.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/tools/tools.h"

#if __has_include("app/run/run_command.h")
#include "app/run/run_command.h"
#define QELSIM_HAS_RUN 1
#else
#define QELSIM_HAS_RUN 0
#endif

namespace {

constexpr const char* kUsage =
    "usage: qelsim <command> [options]\n"
    "\n"
    "Inspect, trace and simulate the eight blocks of the qel drive library through their\n"
    "plug-ins.\n"
    "\n"
    "commands:\n"
    "  blocks   list the blocks: model name, plug-in file, description\n"
    "  info     ports, model arguments, states, rates, work record and simulation-state layout\n"
    "           of one block\n"
    "  sizes    the 40 numbers of a block's command-line sizes call\n"
    "  trace    drive one block through the rows of a CSV file and record every step\n"
    "  run      closed-loop drive simulation\n"
    "\n"
    "Run 'qelsim <command> --help' for the options of a command.\n";

bool isHelp(std::string_view word) { return word == "--help" || word == "-h"; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string_view command = argv[1];
    if (isHelp(command) || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "run") {
#if QELSIM_HAS_RUN
        // The run command parses its own options; it sees "run" as its argv[0].
        return runCommand(argc - 1, argv + 1);
#else
        std::cerr << "qelsim: run is not available in this build\n";
        return 1;
#endif
    }

    struct Command {
        std::string_view name;
        int (*run)(std::span<const std::string>, const qelsim::Console&);
        const char* help;
    };
    const Command commands[] = {
        {"blocks", qelsim::blocksCommand, qelsim::kBlocksHelp},
        {"info", qelsim::infoCommand, qelsim::kInfoHelp},
        {"sizes", qelsim::sizesCommand, qelsim::kSizesHelp},
        {"trace", qelsim::traceCommand, qelsim::kTraceHelp},
    };
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const Command& entry : commands) {
        if (entry.name != command) {
            continue;
        }
        for (const std::string& arg : args) {
            if (isHelp(arg)) {
                std::cout << entry.help;
                return 0;
            }
        }
        const qelsim::Console console{std::cout, std::cerr, argv[0]};
        const int status = entry.run(args, console);
        std::cout.flush();
        return status;
    }
    std::cerr << "qelsim: unknown command \"" << command << "\"; run 'qelsim --help' for the list\n";
    return 2;
}
