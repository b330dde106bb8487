// Small helpers of the run command's tests: a fresh folder per test, whole files in and out.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace qelsim::run {

inline std::filesystem::path freshFolder() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "qel_app_run" /
                                (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline void writeFile(const std::filesystem::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace qelsim::run
