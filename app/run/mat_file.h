// A thin owner of libmatio's variables and files, for the signal and state files. Variables are
// built whole and then written; a struct or cell takes ownership of what is put into it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <matio.h>

namespace qelsim::run {

struct MatVarDeleter {
    void operator()(matvar_t* variable) const { Mat_VarFree(variable); }
};
using MatVar = std::unique_ptr<matvar_t, MatVarDeleter>;

struct MatStructField {
    std::string name;
    MatVar value;
};

// A rows × cols double matrix from column-major values.
MatVar matDoubles(const std::string& name, std::span<const double> values, size_t rows, size_t cols);
MatVar matScalar(const std::string& name, double value);
MatVar matText(const std::string& name, const std::string& text);
// A rows × cols matrix of `classType` holding `bytes` as they are.
MatVar matRaw(const std::string& name, matio_classes classType, std::span<const uint8_t> bytes, size_t rows, size_t cols);
MatVar matStruct(const std::string& name, std::vector<MatStructField> fields);
MatVar matCell(const std::string& name, std::vector<MatVar> elements);

// Bytes per element of a numeric or char class; 0 for struct and cell.
size_t matElementBytes(matio_classes classType);

// A MAT file (version 5) being written. InputError naming the file on failure. Compression
// suits plain matrices; libmatio's compressed writing of cells nested in structs yields files
// that do not read back, so those are written uncompressed.
class MatWriter {
public:
    explicit MatWriter(const std::filesystem::path& file, bool compress = true);
    ~MatWriter();
    MatWriter(const MatWriter&) = delete;
    MatWriter& operator=(const MatWriter&) = delete;
    void write(MatVar variable);
    void close();

private:
    std::filesystem::path file_;
    mat_t* mat_ = nullptr;
    matio_compression compression_;
};

// A MAT file being read. InputError naming the file when it cannot be opened.
class MatReader {
public:
    explicit MatReader(const std::filesystem::path& file);
    ~MatReader();
    MatReader(const MatReader&) = delete;
    MatReader& operator=(const MatReader&) = delete;
    // The variable, or null when the file has none of that name.
    MatVar read(const std::string& name);

private:
    std::filesystem::path file_;
    mat_t* mat_ = nullptr;
};

}  // namespace qelsim::run
