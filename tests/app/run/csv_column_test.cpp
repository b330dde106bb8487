#include "app/run/csv_column.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/run/scenario.h"
#include "test_files.h"

namespace qelsim::run {
namespace {

TEST(CsvColumn, ReadsTheNamedColumnAgainstTheTimeColumn) {
    const auto file = freshFolder() / "profile.csv";
    writeFile(file, "speed, time ,torque\n1,0,5\n\n2, 0.5 ,nan\n-3,1e-0,inf\n");
    const CsvColumn torque = readCsvColumn(file, "torque", "time");
    EXPECT_EQ(torque.times, (std::vector<double>{0.0, 0.5, 1.0}));
    ASSERT_EQ(torque.values.size(), 3u);
    EXPECT_EQ(torque.values[0], 5.0);
    EXPECT_TRUE(std::isnan(torque.values[1]));
    EXPECT_EQ(torque.values[2], INFINITY);
    // Without a time column named, the first column is the time.
    const auto plain = file.parent_path() / "plain.csv";
    writeFile(plain, "t,v\n0,1\n0.25,2\n");
    const CsvColumn byFirst = readCsvColumn(plain, "v", "");
    EXPECT_EQ(byFirst.times, (std::vector<double>{0.0, 0.25}));
    EXPECT_EQ(byFirst.values, (std::vector<double>{1.0, 2.0}));
}

TEST(CsvColumn, BadFilesNameTheRowAndColumn) {
    const auto dir = freshFolder();
    const struct {
        const char* name;
        const char* text;   // null: no file at all
        const char* column;
        const char* message;
    } cases[] = {
        {"missing file", nullptr, "torque", "missing.csv: cannot read the CSV file"},
        {"empty file", "", "torque", "the file is empty, expected a header line"},
        {"missing column", "time,speed\n0,1\n", "torque", "bad.csv:1: no column 'torque' (columns: time, speed)"},
        {"malformed number", "time,torque\n0,1\n1,1.5x\n", "torque", "bad.csv:3: column 'torque': '1.5x' is not a number"},
        {"short row", "time,speed,torque\n0,1,2\n1,2\n", "torque", "bad.csv:3: the row has 2 cells, column 'torque' is missing"},
        {"time going back", "time,torque\n0,1\n0,2\n", "torque", "bad.csv:3: column 'time': the times do not increase"},
        {"time not finite", "time,torque\nnan,1\n", "torque", "bad.csv:2: column 'time': 'nan' is not a finite number"},
        {"no data", "time,torque\n", "torque", "the file has no data row"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = dir / (c.text != nullptr ? "bad.csv" : "missing.csv");
        std::filesystem::remove(file);
        if (c.text != nullptr) writeFile(file, c.text);
        try {
            readCsvColumn(file, c.column, "time");
            FAIL() << "accepted";
        } catch (const InputError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace qelsim::run
