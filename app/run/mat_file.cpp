#include "app/run/mat_file.h"

#include <cstring>

#include "app/run/scenario.h"

namespace qelsim::run {

MatVar matDoubles(const std::string& name, std::span<const double> values, size_t rows, size_t cols) {
    size_t dims[2] = {rows, cols};
    // matio copies the data it is given.
    return MatVar(Mat_VarCreate(name.c_str(), MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, const_cast<double*>(values.data()), 0));
}

MatVar matScalar(const std::string& name, double value) { return matDoubles(name, std::span<const double>(&value, 1), 1, 1); }

MatVar matText(const std::string& name, const std::string& text) {
    size_t dims[2] = {1, text.size()};
    return MatVar(Mat_VarCreate(name.c_str(), MAT_C_CHAR, MAT_T_UINT8, 2, dims, const_cast<char*>(text.data()), 0));
}

size_t matElementBytes(matio_classes classType) {
    switch (classType) {
        case MAT_C_DOUBLE:
        case MAT_C_INT64:
        case MAT_C_UINT64: return 8;
        case MAT_C_SINGLE:
        case MAT_C_INT32:
        case MAT_C_UINT32: return 4;
        case MAT_C_INT16:
        case MAT_C_UINT16: return 2;
        case MAT_C_INT8:
        case MAT_C_UINT8:
        case MAT_C_CHAR: return 1;
        default: return 0;
    }
}

namespace {

matio_types dataTypeOf(matio_classes classType) {
    switch (classType) {
        case MAT_C_DOUBLE: return MAT_T_DOUBLE;
        case MAT_C_SINGLE: return MAT_T_SINGLE;
        case MAT_C_INT8: return MAT_T_INT8;
        case MAT_C_UINT8: return MAT_T_UINT8;
        case MAT_C_INT16: return MAT_T_INT16;
        case MAT_C_UINT16: return MAT_T_UINT16;
        case MAT_C_INT32: return MAT_T_INT32;
        case MAT_C_UINT32: return MAT_T_UINT32;
        case MAT_C_INT64: return MAT_T_INT64;
        case MAT_C_UINT64: return MAT_T_UINT64;
        case MAT_C_CHAR: return MAT_T_UINT8;
        default: return MAT_T_UNKNOWN;
    }
}

}  // namespace

MatVar matRaw(const std::string& name, matio_classes classType, std::span<const uint8_t> bytes, size_t rows, size_t cols) {
    size_t dims[2] = {rows, cols};
    return MatVar(Mat_VarCreate(name.c_str(), classType, dataTypeOf(classType), 2, dims, const_cast<uint8_t*>(bytes.data()), 0));
}

MatVar matStruct(const std::string& name, std::vector<MatStructField> fields) {
    std::vector<const char*> names;
    for (const MatStructField& field : fields) names.push_back(field.name.c_str());
    size_t dims[2] = {1, 1};
    MatVar result(Mat_VarCreateStruct(name.c_str(), 2, dims, names.data(), static_cast<unsigned>(names.size())));
    for (MatStructField& field : fields) {
        Mat_VarSetStructFieldByName(result.get(), field.name.c_str(), 0, field.value.release());
    }
    return result;
}

MatVar matCell(const std::string& name, std::vector<MatVar> elements) {
    size_t dims[2] = {1, elements.size()};
    MatVar result(Mat_VarCreate(name.c_str(), MAT_C_CELL, MAT_T_CELL, 2, dims, nullptr, 0));
    for (size_t i = 0; i < elements.size(); ++i) Mat_VarSetCell(result.get(), static_cast<int>(i), elements[i].release());
    return result;
}

MatWriter::MatWriter(const std::filesystem::path& file, bool compress)
    : file_(file), compression_(compress ? MAT_COMPRESSION_ZLIB : MAT_COMPRESSION_NONE) {
    mat_ = Mat_CreateVer(file.c_str(), nullptr, MAT_FT_MAT5);
    if (mat_ == nullptr) throw InputError(file.string() + ": cannot create the MAT file");
}

MatWriter::~MatWriter() {
    if (mat_ != nullptr) Mat_Close(mat_);
}

void MatWriter::write(MatVar variable) {
    if (!variable || Mat_VarWrite(mat_, variable.get(), compression_) != 0) {
        throw InputError(file_.string() + ": cannot write variable to the MAT file");
    }
}

void MatWriter::close() {
    const int status = Mat_Close(mat_);
    mat_ = nullptr;
    if (status != 0) throw InputError(file_.string() + ": cannot finish the MAT file");
}

MatReader::MatReader(const std::filesystem::path& file) : file_(file) {
    mat_ = Mat_Open(file.c_str(), MAT_ACC_RDONLY);
    if (mat_ == nullptr) throw InputError(file.string() + ": cannot open it as a MAT file");
}

MatReader::~MatReader() {
    if (mat_ != nullptr) Mat_Close(mat_);
}

MatVar MatReader::read(const std::string& name) { return MatVar(Mat_VarRead(mat_, name.c_str())); }

}  // namespace qelsim::run
