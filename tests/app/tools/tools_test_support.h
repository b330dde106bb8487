// What the tools' tests share: the build's plug-in folder, a scratch folder per test, CSV files.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qelsim::testing {

inline std::filesystem::path pluginDir() { return QEL_TEST_PLUGIN_DIR; }
inline std::filesystem::path tracesDir() { return QEL_TEST_TRACES_DIR; }

// A fresh folder for one test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("qel_tools_" + std::string(test->test_suite_name()) + "_" + test->name() + "_" +
                 std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    std::filesystem::path write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return path_ / name;
    }
    // Names of the files in the folder, sorted.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

struct Csv {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    int column(const std::string& name) const {
        for (std::size_t c = 0; c < header.size(); ++c) {
            if (header[c] == name) return static_cast<int>(c);
        }
        return -1;
    }
};

inline std::vector<std::string> splitComma(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, ',')) fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    return fields;
}

inline Csv readCsv(const std::filesystem::path& path) {
    Csv csv;
    std::ifstream in(path);
    std::string line;
    if (std::getline(in, line)) csv.header = splitComma(line);
    while (std::getline(in, line)) csv.rows.push_back(splitComma(line));
    return csv;
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace qelsim::testing
