#include "app/tools/trace_csv.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <fstream>
#include <limits>

namespace qelsim {
namespace {

namespace fs = std::filesystem;

class TraceInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qel_trace_csv_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& text) {
        const fs::path path = dir_ / "in.csv";
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    fs::path dir_;
    const std::vector<std::string> columns_{"a", "b[0]", "b[1]"};
};

TEST_F(TraceInputTest, ReordersColumnsAndReadsEveryStrtodForm) {
    const auto rows = readTraceInput(write("b[1],a,b[0]\r\n0x1p-3,nan,-inf\n 2.5,1e-4,INF\n"), columns_);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(std::isnan(rows[0][0]));
    EXPECT_EQ(rows[0][1], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(rows[0][2], 0.125);
    EXPECT_EQ(rows[1][0], 1e-4);
    EXPECT_EQ(rows[1][1], std::numeric_limits<double>::infinity());
    EXPECT_EQ(rows[1][2], 2.5);
}

TEST_F(TraceInputTest, HeaderWithoutRowsGivesNoRows) {
    EXPECT_TRUE(readTraceInput(write("a,b[0],b[1]\n"), columns_).empty());
}

TEST_F(TraceInputTest, FaultsNameLineRowAndColumn) {
    struct Case {
        const char* name;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"missing column", "a,b[0]\n1,2\n", "in.csv line 1 (header): missing column \"b[1]\""},
        {"unknown column", "a,b[0],b[1],c\n", "in.csv line 1 (header), column 4 \"c\": unknown column"},
        {"unknown wide name", "a,b,b[1]\n", "column 2 \"b\": unknown column"},
        {"repeated column", "a,b[0],a,b[1]\n", "column 3 \"a\": repeated column"},
        {"malformed value", "a,b[0],b[1]\n1,2,3\n1,2x,3\n",
         "in.csv line 3 (row k=1), column 2 \"b[0]\": malformed value \"2x\""},
        {"trailing blank", "a,b[0],b[1]\n1,2,3 \n", "column 3 \"b[1]\": malformed value \"3 \""},
        {"empty value", "a,b[0],b[1]\n1,,3\n", "column 2 \"b[0]\": malformed value \"\""},
        {"short row", "a,b[0],b[1]\n1,2,3\n1,2\n",
         "in.csv line 3 (row k=1), column 3 \"b[1]\": short row, 2 of 3 values"},
        {"blank line", "a,b[0],b[1]\n\n1,2,3\n", "line 2 (row k=0), column 2 \"b[0]\": short row, 1 of 3 values"},
        {"long row", "a,b[0],b[1]\n1,2,3,4\n", "line 2 (row k=0), column 4: row has 4 values, the header 3"},
        {"empty file", "", "in.csv: empty file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            readTraceInput(write(c.text), columns_);
            ADD_FAILURE() << "no error";
        } catch (const ToolError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

TEST(TraceColumns, WideValuesGetIndexedNames) {
    std::vector<std::string> names;
    appendElementNames(names, "phaseCurrents", 3);
    appendElementNames(names, "electricalAngle", 1);
    EXPECT_EQ(names, (std::vector<std::string>{"phaseCurrents[0]", "phaseCurrents[1]", "phaseCurrents[2]",
                                               "electricalAngle"}));
}

TEST(TraceColumns, PlantColumnsHoldStatesAndDerivatives) {
    const BlockInfo* block = findBlock("Qel_Lib_motor_sub");
    ASSERT_NE(block, nullptr);
    const auto in = traceInputColumns(*block, 3);
    ASSERT_EQ(in.size(), 2u + 15u + 120u + 3u);
    EXPECT_EQ(in[0], "armatureVoltage");
    EXPECT_EQ(in[2 + 10], "angleErrorTable[0]");
    EXPECT_EQ(in[2 + 10 + 119], "angleErrorTable[119]");
    EXPECT_EQ(in.back(), "x[2]");
    const auto out = traceOutputColumns(*block, 3);
    EXPECT_EQ(out[0], "k");
    EXPECT_EQ(out[5], "dx[0]");
    EXPECT_EQ(out[8], "rtb.enc2Angle");
    EXPECT_EQ(out.back(), "rtdw.iHold");
}

TEST(FormatDouble, SpellsSpecialValuesAndRoundTrips) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {1.0001, "1.0001"},
        {0.1, "0.10000000000000001"},
        {-0.0, "-0"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
        {-std::numeric_limits<double>::quiet_NaN(), "nan"},
        {std::numeric_limits<double>::denorm_min(), "4.9406564584124654e-324"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(formatDouble(c.value), c.text);
    }
}

TEST(AtomicFile, LeavesNothingUnlessCommitted) {
    const fs::path dir = fs::temp_directory_path() / "qel_atomic_file_test";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path target = dir / "out.csv";
    {
        AtomicFile file(target);
        std::fputs("partial", file.stream());
    }
    EXPECT_TRUE(fs::is_empty(dir));
    {
        AtomicFile file(target);
        std::fputs("done\n", file.stream());
        file.commit();
    }
    std::ifstream in(target);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "done");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::remove_all(dir);
}

TEST(AtomicFile, MissingFolderIsReportedWithTheTarget) {
    try {
        AtomicFile file("/nonexistent-qel-dir/out.csv");
        ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent-qel-dir/out.csv: cannot create"), std::string::npos)
            << error.what();
    }
}

}  // namespace
}  // namespace qelsim
