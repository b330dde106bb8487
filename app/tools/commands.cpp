#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "app/tools/block_session.h"
#include "app/tools/tools.h"
#include "app/tools/trace_csv.h"

namespace qelsim {

const char* const kBlocksHelp =
    "usage: qelsim blocks [--plugin-dir DIR]\n"
    "\n"
    "Lists the blocks, one line each: model name, plug-in file, description. A plug-in file that\n"
    "is not there is marked \"(missing)\".\n"
    "\n"
    "  --plugin-dir DIR   where the plug-ins are (default: the build tree's plugins folder)\n";

const char* const kInfoHelp =
    "usage: qelsim info MODEL [--plugin-dir DIR]\n"
    "\n"
    "Loads the block's plug-in and shows what it registers: input and output ports (name, width,\n"
    "sample time), model arguments in the order the host delivers them, continuous states, rates,\n"
    "the bytes of the work record and the layout of the simulation state.\n"
    "\n"
    "  MODEL              a model name such as Qel_Lib_wexa_current_controller_sub, or the\n"
    "                     plug-in name with _msp\n"
    "  --plugin-dir DIR   where the plug-ins are (default: the build tree's plugins folder)\n";

const char* const kSizesHelp =
    "usage: qelsim sizes MODEL [--plugin-dir DIR]\n"
    "\n"
    "Makes the command-line sizes call of the block's plug-in (four inputs, the fourth 0) and\n"
    "prints the 40 numbers it returns, one integer per line, element 0 first.\n"
    "\n"
    "  MODEL              a model name, with or without _msp\n"
    "  --plugin-dir DIR   where the plug-ins are (default: the build tree's plugins folder)\n";

const char* const kTraceHelp =
    "usage: qelsim trace MODEL --in IN.csv --out OUT.csv [--plugin-dir DIR]\n"
    "\n"
    "Registers the block, sets up its run-time resources and runs its system-initialize method,\n"
    "then takes one major time step per row of IN.csv (row k at time k * 1e-4 s, every rate with a\n"
    "sample hit): the parameter call (task id -5) when k = 0 or an argument changed bitwise, the\n"
    "row's continuous states (motor plants), outputs with task id 0, derivatives (motor plants),\n"
    "update with task id 0, then one row of OUT.csv.\n"
    "\n"
    "IN.csv: a header, then one row per step; columns in any order:\n"
    "  every input port by name (a port of width w as name[0] .. name[w-1]),\n"
    "  every model argument by name (angleErrorTable[0] .. angleErrorTable[119]),\n"
    "  motor plants: x[0] .. x[n-1], the continuous states.\n"
    "  Values are anything strtod reads whole: decimal, hexadecimal float, nan, inf, -inf.\n"
    "\n"
    "OUT.csv: k, the output ports, motor plants dx[0] .. dx[n-1], then rtb.<field> and\n"
    "rtdw.<field> as the simulation state holds them after the update; numbers in %.17g, nan,\n"
    "inf, -inf, booleans 0 or 1. A fault in IN.csv names its line, row and column, and no OUT.csv\n"
    "is written.\n"
    "\n"
    "  --plugin-dir DIR   where the plug-ins are (default: the build tree's plugins folder)\n";

namespace {

// The options the tools share; which of them a command accepts is up to the command.
struct Options {
    std::optional<std::string> model;
    std::optional<std::filesystem::path> pluginDir;
    std::optional<std::filesystem::path> inFile;
    std::optional<std::filesystem::path> outFile;
};

struct Accepts {
    bool model = false;
    bool files = false;
};

Options parseOptions(std::span<const std::string> args, Accepts accepts) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string name = arg;
        std::optional<std::string> value;
        if (arg.starts_with("--")) {
            if (const auto equals = arg.find('='); equals != std::string::npos) {
                name = arg.substr(0, equals);
                value = arg.substr(equals + 1);
            }
            const bool known = name == "--plugin-dir" || (accepts.files && (name == "--in" || name == "--out"));
            if (!known) throw ToolError("unknown option " + name);
            if (!value) {
                if (i + 1 >= args.size()) throw ToolError("option " + name + " needs a value");
                value = args[++i];
            }
            if (value->empty()) throw ToolError("option " + name + " has an empty value");
            auto& slot = name == "--plugin-dir" ? options.pluginDir : name == "--in" ? options.inFile : options.outFile;
            if (slot) throw ToolError("option " + name + " given twice");
            slot = *value;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            throw ToolError("unknown option " + arg);
        } else if (accepts.model && !options.model) {
            options.model = arg;
        } else {
            throw ToolError("unexpected argument \"" + arg + "\"");
        }
    }
    if (accepts.model && !options.model) throw ToolError("missing MODEL (see qelsim blocks for the names)");
    return options;
}

std::filesystem::path pluginDirOf(const Options& options, const Console& console) {
    return options.pluginDir ? *options.pluginDir : defaultPluginDir(console.argv0);
}

const BlockInfo& blockOf(const Options& options) {
    const BlockInfo* block = findBlock(*options.model);
    if (block == nullptr) throw ToolError("unknown model \"" + *options.model + "\" (see qelsim blocks for the names)");
    return *block;
}

// Runs a command's work and turns every failure into its one-line report.
template <class Work>
int runReported(const char* command, const Console& console, Work work) {
    try {
        work();
    } catch (const std::exception& error) {
        console.out.flush();
        console.err << "qelsim " << command << ": " << error.what() << '\n';
        return 1;
    }
    console.out.flush();
    if (!console.out) {
        console.err << "qelsim " << command << ": cannot write the standard output\n";
        return 1;
    }
    return 0;
}

std::string secondsText(double period) {
    if (std::isinf(period)) return "inf (constant)";
    if (period == 0.0) return "0 (continuous)";
    char text[32];
    std::snprintf(text, sizeof text, "%g s", period);
    return text;
}

std::string padded(std::string_view text, std::size_t width) {
    std::string result(text);
    if (result.size() < width) result.append(width - result.size(), ' ');
    return result;
}

std::size_t longestName(std::span<const PortInfo> ports) {
    std::size_t longest = 0;
    for (const PortInfo& port : ports) longest = std::max(longest, port.name.size());
    return longest;
}

}  // namespace

void listBlocks(const std::filesystem::path& pluginDir, std::ostream& out) {
    std::vector<std::string> files;
    std::size_t nameWidth = 0;
    std::size_t fileWidth = 0;
    for (const BlockInfo& block : blockCatalog()) {
        const std::filesystem::path file = pluginPath(pluginDir, block);
        files.push_back(file.string() + (std::filesystem::exists(file) ? "" : " (missing)"));
        nameWidth = std::max(nameWidth, block.modelName.size());
        fileWidth = std::max(fileWidth, files.back().size());
    }
    for (std::size_t b = 0; b < blockCatalog().size(); ++b) {
        const BlockInfo& block = blockCatalog()[b];
        out << padded(block.modelName, nameWidth) << "  " << padded(files[b], fileWidth) << "  " << block.description
            << '\n';
    }
}

void describeBlock(const BlockInfo& info, const std::filesystem::path& pluginDir, std::ostream& out) {
    BlockSession session(info, pluginDir);
    qelhost::Block& block = session.block();
    const SimStruct* simStruct = block.simStruct();

    out << info.modelName << ": " << info.description << '\n';
    out << "plug-in: " << pluginPath(pluginDir, info).string() << '\n';

    const std::size_t portWidth = std::max(longestName(info.inputs), longestName(info.outputs));
    out << "\ninput ports:\n";
    for (int p = 0; p < block.numInputs(); ++p) {
        const InputPortRecord& port = simStruct->inputs[p];
        out << "  " << p << "  " << padded(info.inputs[static_cast<std::size_t>(p)].name, portWidth) << "  width "
            << port.width << "  sample time " << secondsText(port.sampleTime) << ", offset " << port.offsetTime << '\n';
    }
    out << "output ports:\n";
    for (int p = 0; p < block.numOutputs(); ++p) {
        const OutputPortRecord& port = simStruct->outputs[p];
        out << "  " << p << "  " << padded(info.outputs[static_cast<std::size_t>(p)].name, portWidth) << "  width "
            << port.width << "  sample time " << secondsText(port.sampleTime) << ", offset " << port.offsetTime << '\n';
    }

    std::size_t argumentWidth = 0;
    for (const ArgumentInfo& argument : info.arguments) argumentWidth = std::max(argumentWidth, argument.name.size());
    out << "model arguments (host order):\n";
    for (std::size_t k = 0; k < info.arguments.size(); ++k) {
        out << "  " << padded(std::to_string(k), 2) << "  " << padded(info.arguments[k].name, argumentWidth) << "  width "
            << info.arguments[k].width << '\n';
    }

    out << "continuous states: " << block.numContStates() << '\n';
    for (int i = 0; i < block.numContStates(); ++i) {
        out << "  x[" << i << "]  " << info.stateNames[static_cast<std::size_t>(i)] << '\n';
    }

    const std::span<const double> periods = block.samplePeriods();
    out << "rates: " << periods.size() << '\n';
    for (std::size_t r = 0; r < periods.size(); ++r) {
        out << "  " << r << "  " << secondsText(periods[r]) << ", offset " << simStruct->offsetTimes[r] << '\n';
    }

    out << "work record mdlrefDW: " << block.workRecord().size() << " bytes\n";

    // The layout as the plug-in packs it: take a state of a freshly set-up block.
    if (!block.setupRuntimeResources()) session.failCall("setting up the run-time resources");
    const RecordSnapshot records = session.snapshot();
    out << "simulation state:\n";
    out << "  localX               " << records.localX.size() << " bytes\n";
    out << "  mdlrefDW.rtb         " << records.rtb.size() << " bytes\n";
    std::size_t fieldWidth = 0;
    for (const FieldInfo& field : info.rtbFields) fieldWidth = std::max(fieldWidth, field.name.size());
    for (const FieldInfo& field : info.rtdwFields) fieldWidth = std::max(fieldWidth, field.name.size());
    for (std::size_t f = 0; f < info.rtbFields.size(); ++f) {
        const FieldInfo& field = info.rtbFields[f];
        out << "    " << padded(field.name, fieldWidth) << "  byte " << padded(std::to_string(fieldOffset(info.rtbFields, f)), 3)
            << "  " << (field.isBoolean ? "boolean" : "double") << '\n';
    }
    out << "  mdlrefDW.rtdw        " << records.rtdw.size() << " members\n";
    for (std::size_t m = 0; m < info.rtdwFields.size(); ++m) {
        const FieldInfo& field = info.rtdwFields[m];
        out << "    " << padded(field.name, fieldWidth) << "  " << records.rtdw[m].size()
            << (records.rtdw[m].size() == 1 ? " byte " : " bytes")
            << "  "
            << (field.isBoolean ? "boolean" : "double") << '\n';
    }
    out << "  tNext, tNextTid      doubles\n";
    if (!block.terminate()) session.failCall("terminate");
}

void printSizes(const BlockInfo& info, const std::filesystem::path& pluginDir, std::ostream& out) {
    const std::filesystem::path file = pluginPath(pluginDir, info);
    if (!std::filesystem::exists(file)) {
        throw ToolError("plug-in " + file.string() + " not found (choose the folder with --plugin-dir)");
    }
    qelhost::SizesColumn sizes;
    try {
        sizes = qelhost::Plugin::open(file)->commandLineSizes();
    } catch (const qelhost::MatlabError& error) {
        throw ToolError(file.string() + ": the sizes call raised " + error.what());
    }
    for (const double value : sizes) {
        // Integers as the plug-in wrote them; anything else would be a fault worth seeing whole.
        if (value == std::trunc(value) && std::fabs(value) < 9.2e18) {
            out << static_cast<long long>(value) << '\n';
        } else {
            out << formatDouble(value) << '\n';
        }
    }
}

int blocksCommand(std::span<const std::string> args, const Console& console) {
    return runReported("blocks", console, [&] {
        const Options options = parseOptions(args, {});
        listBlocks(pluginDirOf(options, console), console.out);
    });
}

int infoCommand(std::span<const std::string> args, const Console& console) {
    return runReported("info", console, [&] {
        const Options options = parseOptions(args, {.model = true});
        // Printed only when complete, so that a failure shows no half description.
        std::ostringstream text;
        describeBlock(blockOf(options), pluginDirOf(options, console), text);
        console.out << text.str();
    });
}

int sizesCommand(std::span<const std::string> args, const Console& console) {
    return runReported("sizes", console, [&] {
        const Options options = parseOptions(args, {.model = true});
        std::ostringstream text;
        printSizes(blockOf(options), pluginDirOf(options, console), text);
        console.out << text.str();
    });
}

int traceCommand(std::span<const std::string> args, const Console& console) {
    return runReported("trace", console, [&] {
        const Options options = parseOptions(args, {.model = true, .files = true});
        if (!options.inFile) throw ToolError("missing --in IN.csv");
        if (!options.outFile) throw ToolError("missing --out OUT.csv");
        std::error_code ignored;
        if (std::filesystem::equivalent(*options.inFile, *options.outFile, ignored)) {
            throw ToolError("--out " + options.outFile->string() + " is the input file; the trace would replace it");
        }
        traceBlock(blockOf(options), pluginDirOf(options, console), *options.inFile, *options.outFile);
    });
}

}  // namespace qelsim
