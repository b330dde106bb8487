#include <cstring>

#include "app/tools/block_session.h"
#include "app/tools/tools.h"
#include "app/tools/trace_csv.h"

namespace qelsim {
namespace {

constexpr double kTickPeriod = 1e-4;
constexpr int kParameterTid = -5;

void writeLine(std::FILE* file, const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) std::fputc(',', file);
        std::fputs(fields[i].c_str(), file);
    }
    std::fputc('\n', file);
}

}  // namespace

void traceBlock(const BlockInfo& info, const std::filesystem::path& pluginDir, const std::filesystem::path& inFile,
                const std::filesystem::path& outFile) {
    BlockSession session(info, pluginDir);
    qelhost::Block& block = session.block();
    qelhost::TopModel& model = session.model();
    const int numStates = block.numContStates();
    const std::vector<std::vector<double>> rows = readTraceInput(inFile, traceInputColumns(info, numStates));

    // Each row holds the input values, then the argument values, then the states.
    const std::size_t numArgumentValues = static_cast<std::size_t>(totalWidth(info.arguments));

    AtomicFile file(outFile);
    const std::vector<std::string> header = traceOutputColumns(info, numStates);
    writeLine(file.stream(), header);

    if (!block.setupRuntimeResources()) session.failCall("setting up the run-time resources");
    if (!block.systemInitialize()) session.failCall("system-initialize");
    // Every row is a major time step in which every rate of the block has a sample hit.
    model.setMajorTimeStep(true);
    model.setAllSampleHits(true);

    std::vector<double> arguments(numArgumentValues);
    std::vector<std::string> fields;
    fields.reserve(header.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::vector<double>& row = rows[k];
        const std::string where = "row k=" + std::to_string(k) + ": ";
        model.setTime(static_cast<double>(k) * kTickPeriod);

        std::size_t next = 0;
        for (std::size_t p = 0; p < info.inputs.size(); ++p) {
            const auto width = static_cast<std::size_t>(info.inputs[p].width);
            std::memcpy(block.inputBuffer(static_cast<int>(p)), row.data() + next, width * sizeof(double));
            next += width;
        }
        // Compared bit for bit, so that a NaN argument held from row to row is no change.
        const bool argumentsChanged =
            k == 0 || std::memcmp(arguments.data(), row.data() + next, numArgumentValues * sizeof(double)) != 0;
        if (argumentsChanged) {
            std::memcpy(arguments.data(), row.data() + next, numArgumentValues * sizeof(double));
            session.setArguments(arguments);
            if (!block.outputs(kParameterTid)) session.failCall(where + "outputs with task id -5");
        }
        next += numArgumentValues;
        if (numStates > 0) {
            std::memcpy(block.contStates().data(), row.data() + next, static_cast<std::size_t>(numStates) * sizeof(double));
        }

        if (!block.outputs(0)) session.failCall(where + "outputs with task id 0");
        fields.clear();
        fields.push_back(std::to_string(k));
        for (std::size_t p = 0; p < info.outputs.size(); ++p) {
            const double* values = block.output(static_cast<int>(p));
            for (int i = 0; i < info.outputs[p].width; ++i) fields.push_back(formatDouble(values[i]));
        }
        if (numStates > 0) {
            if (!block.derivatives()) session.failCall(where + "derivatives");
            for (const double derivative : block.stateDerivatives()) fields.push_back(formatDouble(derivative));
        }
        if (!block.update(0)) session.failCall(where + "update with task id 0");

        const RecordSnapshot records = session.snapshot();
        for (std::size_t f = 0; f < info.rtbFields.size(); ++f) {
            const std::size_t offset = fieldOffset(info.rtbFields, f);
            fields.push_back(info.rtbFields[f].isBoolean ? std::to_string(records.rtb[offset])
                                                         : formatDouble(readDoubleField(records.rtb, offset)));
        }
        for (std::size_t m = 0; m < info.rtdwFields.size(); ++m) {
            fields.push_back(info.rtdwFields[m].isBoolean ? std::to_string(records.rtdw[m][0])
                                                          : formatDouble(readDoubleField(records.rtdw[m], 0)));
        }
        writeLine(file.stream(), fields);
    }
    if (!block.terminate()) session.failCall("terminate");
    file.commit();
}

}  // namespace qelsim
