// qelsim as a user runs it: exit status, standard output and the one-line errors.
#include <sys/wait.h>

#include <cstdlib>

#include "tools_test_support.h"

namespace qelsim {
namespace {

using testing::ScratchDir;
using testing::readText;

struct ProcessResult {
    int status;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& word) {
    std::string text = "'";
    for (const char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

ProcessResult qelsim(const ScratchDir& scratch, const std::vector<std::string>& args) {
    std::string command = quoted(QEL_TEST_QELSIM);
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " >" + quoted((scratch / "stdout").string()) + " 2>" + quoted((scratch / "stderr").string());
    const int raw = std::system(command.c_str());
    ProcessResult run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(scratch / "stdout"), readText(scratch / "stderr")};
    std::filesystem::remove(scratch / "stdout");
    std::filesystem::remove(scratch / "stderr");
    return run;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t countLines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(Qelsim, HelpTexts) {
    ScratchDir scratch;
    const ProcessResult top = qelsim(scratch, {"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* command : {"blocks", "info", "sizes", "trace", "run"}) EXPECT_TRUE(contains(top.out, command)) << command;

    struct Case {
        const char* command;
        const char* usage;
    };
    for (const Case& c : {Case{"blocks", "usage: qelsim blocks"}, Case{"info", "usage: qelsim info MODEL"},
                          Case{"sizes", "usage: qelsim sizes MODEL"}, Case{"trace", "usage: qelsim trace MODEL --in"}}) {
        SCOPED_TRACE(c.command);
        const ProcessResult run = qelsim(scratch, {c.command, "--help"});
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(contains(run.out, c.usage)) << run.out;
        EXPECT_TRUE(run.err.empty());
    }
}

TEST(Qelsim, CommandLineFaultsAreOneLineAndNonZero) {
    ScratchDir scratch;
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "usage: qelsim"},
        {{"frobnicate"}, "qelsim: unknown command \"frobnicate\""},
        {{"info"}, "qelsim info: missing MODEL"},
        {{"info", "Qel_Lib_nothing_sub"}, "qelsim info: unknown model \"Qel_Lib_nothing_sub\""},
        {{"sizes", "Qel_Lib_motor_sub", "--frames", "3"}, "qelsim sizes: unknown option --frames"},
        {{"sizes", "Qel_Lib_motor_sub", "Qel_Lib_motor_dq_sub"}, "qelsim sizes: unexpected argument \"Qel_Lib_motor_dq_sub\""},
        {{"blocks", "--plugin-dir"}, "qelsim blocks: option --plugin-dir needs a value"},
        {{"trace", "Qel_Lib_motor_sub", "--in", "a.csv"}, "qelsim trace: missing --out OUT.csv"},
        {{"trace", "Qel_Lib_motor_sub", "--out", "b.csv"}, "qelsim trace: missing --in IN.csv"},
        {{"info", "Qel_Lib_motor_sub", "--plugin-dir", "/nonexistent-qel"},
         "qelsim info: plug-in /nonexistent-qel/Qel_Lib_motor_sub_msp.mexa64 not found"},
        {{"sizes", "Qel_Lib_motor_sub", "--plugin-dir=/nonexistent-qel"},
         "qelsim sizes: plug-in /nonexistent-qel/Qel_Lib_motor_sub_msp.mexa64 not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const ProcessResult run = qelsim(scratch, c.args);
        EXPECT_NE(run.status, 0);
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        if (!c.args.empty()) {
            EXPECT_EQ(countLines(run.err), 1u) << run.err;
        }
    }
}

TEST(Qelsim, BlocksListsEveryPluginOnce) {
    ScratchDir scratch;
    const ProcessResult run = qelsim(scratch, {"blocks", "--plugin-dir", testing::pluginDir().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(countLines(run.out), 8u);
    EXPECT_FALSE(contains(run.out, "(missing)"));
    EXPECT_TRUE(contains(run.out, (testing::pluginDir() / "Qel_Lib_motor_dq_sub_msp.mexa64").string()));
    EXPECT_TRUE(contains(run.out, "Qel_Lib_wexa_position_controller_dq_sub "));

    const ProcessResult elsewhere = qelsim(scratch, {"blocks", "--plugin-dir", scratch.path().string()});
    EXPECT_EQ(elsewhere.status, 0);
    EXPECT_EQ(static_cast<std::size_t>(std::count(elsewhere.out.begin(), elsewhere.out.end(), '(')), 8u);
}

TEST(Qelsim, InfoShowsWhatThePluginRegisters) {
    ScratchDir scratch;
    struct Case {
        const char* model;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"Qel_Lib_motor_dq_sub",
         {"0  phaseVoltage     width 3  sample time 0 (continuous)", "2  measuredCurrent  width 3  sample time 0.0001 s",
          "4  electricalAngle  width 1  sample time 0 (continuous)", "angleErrorTable        width 120",
          "continuous states: 4", "x[1]  iq", "x[2]  id", "rates: 4", "3  inf (constant)",
          "work record mdlrefDW: 664 bytes", "localX               32 bytes", "mdlrefDW.rtb         88 bytes",
          "mdlrefDW.rtdw        13 members"}},
        {"Qel_Lib_wexa_position_controller_dq_sub_msp",
         {"5  phaseCurrents       width 3  sample time 0.0001 s", "0  phaseOutputs        width 3",
          "10  outputLimitBase", "continuous states: 0", "rates: 2", "0  0.0001 s", "work record mdlrefDW: 592 bytes",
          "saturatedHigh         byte 64   boolean", "saturatedLowPrev      1 byte   boolean"}},
        {"Qel_Lib_wexa_current_controller_sub",
         {"0  currentReference  width 1  sample time 0.0001 s, offset 0", "3   outputLimitBase", "rates: 3",
          "0  1e-05 s", "work record mdlrefDW: 328 bytes", "mdlrefDW.rtb         40 bytes",
          "integratorState      8 bytes  double"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        const ProcessResult run = qelsim(scratch, {"info", c.model, "--plugin-dir", testing::pluginDir().string()});
        ASSERT_EQ(run.status, 0) << run.err;
        for (const std::string& line : c.lines) EXPECT_TRUE(contains(run.out, line)) << line << "\n" << run.out;
    }
}

TEST(Qelsim, SizesOfTheCurrentController) {
    ScratchDir scratch;
    const ProcessResult run = qelsim(scratch, {"sizes", "Qel_Lib_wexa_current_controller_sub_msp", "--plugin-dir",
                                     testing::pluginDir().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<long long> values;
    std::stringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) values.push_back(std::stoll(line));
    ASSERT_EQ(values.size(), 40u);
    EXPECT_EQ(values[3], 2);   // input ports
    EXPECT_EQ(values[2], 1);   // output ports
    EXPECT_EQ(values[6], 3);   // sample times
    EXPECT_EQ(values[23], 0x68000822 | 0x2000);
    EXPECT_EQ(values[19], 8480229);
}

TEST(Qelsim, SizesOfAPlantCountItsStatesAndPorts) {
    ScratchDir scratch;
    const ProcessResult run = qelsim(scratch, {"sizes", "Qel_Lib_motor_dq_sub", "--plugin-dir", testing::pluginDir().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines;
    std::stringstream text(run.out);
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 40u);
    EXPECT_EQ(lines[0], "4");
    EXPECT_EQ(lines[2], "5");
    EXPECT_EQ(lines[3], "2");
    EXPECT_EQ(lines[6], "4");
}

TEST(Qelsim, TraceWritesTheOutputFile) {
    ScratchDir scratch;
    const auto in = scratch.write("in.csv",
                                  "currentMeasured,currentReference,proportionalGain,integralTime,referenceLimitBase,"
                                  "outputLimitBase\n0,1,1,1,1e9,1e9\n");
    const ProcessResult run = qelsim(scratch, {"trace", "Qel_Lib_wexa_current_controller_sub", "--in", in.string(), "--out",
                                     (scratch / "out.csv").string(), "--plugin-dir", testing::pluginDir().string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(readText(scratch / "out.csv"),
              "k,controllerOutput,rtb.measuredCopy,rtb.integratorInput,rtb.referenceUpperLimit,rtb.referenceLowerLimit,"
              "rtb.outputLimit,rtdw.integratorState\n"
              "0,1,0,1,3000000000,-3000000000,950000000,0.0001\n");
}

TEST(Qelsim, TraceInputFaultsNameRowAndColumnAndLeaveNoOutput) {
    const std::string header = "currentReference,currentMeasured,proportionalGain,integralTime,referenceLimitBase,outputLimitBase";
    struct Case {
        const char* name;
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"missing column", "currentReference,currentMeasured,proportionalGain,integralTime,outputLimitBase\n1,0,1,1,9\n",
         "in.csv line 1 (header): missing column \"referenceLimitBase\""},
        {"unknown column", header + ",speedGain\n1,0,1,1,9,9,1\n",
         "in.csv line 1 (header), column 7 \"speedGain\": unknown column"},
        {"malformed value", header + "\n1,0,1,1,9,9\n1,0,one,1,9,9\n",
         "in.csv line 3 (row k=1), column 3 \"proportionalGain\": malformed value \"one\""},
        {"short row", header + "\n1,0,1,1,9,9\n1,0,1,1,9,9\n1,0,1\n",
         "in.csv line 4 (row k=2), column 4 \"integralTime\": short row, 3 of 6 values"},
        {"missing input", "nothing-here", "in.csv: cannot open for reading"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch;
        if (c.text != "nothing-here") scratch.write("in.csv", c.text);
        const ProcessResult run = qelsim(scratch, {"trace", "Qel_Lib_wexa_current_controller_sub", "--in", (scratch / "in.csv").string(),
                                         "--out", (scratch / "out.csv").string(), "--plugin-dir",
                                         testing::pluginDir().string()});
        EXPECT_NE(run.status, 0);
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_EQ(countLines(run.err), 1u) << run.err;
        // Nothing but the input: no output file and no temporary one.
        EXPECT_EQ(scratch.files(), c.text != "nothing-here" ? std::vector<std::string>{"in.csv"} : std::vector<std::string>{});
    }
}

TEST(Qelsim, TraceRefusesToWriteOverItsInput) {
    ScratchDir scratch;
    const std::string text = "currentReference,currentMeasured,proportionalGain,integralTime,referenceLimitBase,"
                             "outputLimitBase\n1,0,1,1,9,9\n";
    const auto in = scratch.write("in.csv", text);
    const ProcessResult run = qelsim(scratch, {"trace", "Qel_Lib_wexa_current_controller_sub", "--in", in.string(), "--out",
                                               (scratch.path() / "." / "in.csv").string(), "--plugin-dir",
                                               testing::pluginDir().string()});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(contains(run.err, "is the input file")) << run.err;
    EXPECT_EQ(readText(in), text);
}

TEST(Qelsim, FailedTraceLeavesAnOlderOutputUntouched) {
    ScratchDir scratch;
    scratch.write("out.csv", "previous\n");
    const auto in = scratch.write("in.csv", "currentReference\n1\n");
    const ProcessResult run = qelsim(scratch, {"trace", "Qel_Lib_wexa_current_controller_sub", "--in", in.string(), "--out",
                                     (scratch / "out.csv").string(), "--plugin-dir", testing::pluginDir().string()});
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(readText(scratch / "out.csv"), "previous\n");
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"in.csv", "out.csv"}));
}

}  // namespace
}  // namespace qelsim
