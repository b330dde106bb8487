#include "app/run/state_file.h"

#include <array>
#include <cstring>

#include "app/run/mat_file.h"
#include "app/run/scenario.h"
#include "host/mx_arrays.h"

namespace qelsim::run {
namespace {

constexpr const char* kVariable = "qelState";
constexpr const char* kFormat = "qelsim state 1";

struct ClassPair {
    mxClassID host;
    matio_classes mat;
};

constexpr std::array<ClassPair, 10> kClasses = {{
    {mxDOUBLE_CLASS, MAT_C_DOUBLE}, {mxSINGLE_CLASS, MAT_C_SINGLE}, {mxINT8_CLASS, MAT_C_INT8}, {mxUINT8_CLASS, MAT_C_UINT8},
    {mxINT16_CLASS, MAT_C_INT16}, {mxUINT16_CLASS, MAT_C_UINT16}, {mxINT32_CLASS, MAT_C_INT32}, {mxUINT32_CLASS, MAT_C_UINT32},
    {mxINT64_CLASS, MAT_C_INT64}, {mxUINT64_CLASS, MAT_C_UINT64},
}};

MatVar encode(const std::string& name, const mxArray* array, const std::string& where) {
    if (array == nullptr) return matCell(name, {});
    if (qelhost::isStruct(array)) {
        if (qelhost::numberOfElements(array) != 1) throw InputError(where + ": only 1x1 structs can be saved");
        std::vector<MatVar> names;
        std::vector<MatVar> values;
        const int fields = mxGetNumberOfFields_800(array);
        for (int f = 0; f < fields; ++f) {
            const std::string field(qelhost::fieldName(array, f));
            names.push_back(matText("", field));
            values.push_back(encode("", mxGetFieldByNumber_800(array, 0, f), where + "." + field));
        }
        std::vector<MatStructField> parts;
        parts.push_back({"fieldNames", matCell("fieldNames", std::move(names))});
        parts.push_back({"fieldValues", matCell("fieldValues", std::move(values))});
        return matStruct(name, std::move(parts));
    }
    if (qelhost::isString(array)) return matText(name, qelhost::stringOf(array));
    if (mxIsComplex_800(array)) throw InputError(where + ": complex arrays cannot be saved");
    const mxClassID classId = mxGetClassID_800(array);
    for (const ClassPair& pair : kClasses) {
        if (pair.host == classId) {
            return matRaw(name, pair.mat, qelhost::bytesOf(array), mxGetM_800(array), mxGetN_800(array));
        }
    }
    throw InputError(where + ": an array of class " + std::to_string(static_cast<int>(classId)) + " cannot be saved");
}

class Decoder {
public:
    explicit Decoder(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void fail(const std::string& where, const std::string& what) const {
        throw InputError(file_ + ": " + where + ": " + what + " (not a state saved by qelsim run)");
    }

    matvar_t* field(matvar_t* structVar, const char* name, const std::string& where) const {
        matvar_t* value = structVar != nullptr && structVar->class_type == MAT_C_STRUCT
                              ? Mat_VarGetStructFieldByName(structVar, name, 0) : nullptr;
        if (value == nullptr) fail(where + "." + name, "missing");
        return value;
    }

    size_t count(const matvar_t* var) const {
        size_t n = 1;
        for (int d = 0; d < var->rank; ++d) n *= var->dims[d];
        return n;
    }

    std::string text(const matvar_t* var, const std::string& where) const {
        if (var->class_type != MAT_C_CHAR) fail(where, "expected a text");
        const size_t n = count(var);
        std::string result;
        if (n == 0) return result;
        const size_t bytes = var->data_size > 0 ? static_cast<size_t>(var->data_size) : 1;
        const auto* data = static_cast<const uint8_t*>(var->data);
        if (data == nullptr) fail(where, "a text without data");
        for (size_t i = 0; i < n; ++i) result.push_back(static_cast<char>(data[i * bytes]));
        return result;
    }

    const double* doubles(const matvar_t* var, size_t expected, const std::string& where) const {
        if (var->class_type != MAT_C_DOUBLE || var->data_type != MAT_T_DOUBLE) fail(where, "expected doubles");
        if (expected != 0 && count(var) != expected) fail(where, "expected " + std::to_string(expected) + " values");
        if (count(var) > 0 && var->data == nullptr) fail(where, "values without data");
        return static_cast<const double*>(var->data);
    }

    matvar_t* cell(matvar_t* var, size_t index, const std::string& where) const {
        if (var->class_type != MAT_C_CELL) fail(where, "expected a cell array");
        matvar_t* element = index < count(var) ? Mat_VarGetCell(var, static_cast<int>(index)) : nullptr;
        if (element == nullptr) fail(where + "{" + std::to_string(index + 1) + "}", "missing");
        return element;
    }

    // Builds the host array tree; the result belongs to the current array scope.
    mxArray* decode(matvar_t* var, const std::string& where) const {
        if (var->class_type == MAT_C_CELL) {
            if (count(var) != 0) fail(where, "a cell here must be empty");
            return nullptr;
        }
        if (var->class_type == MAT_C_STRUCT) {
            matvar_t* names = field(var, "fieldNames", where);
            matvar_t* values = field(var, "fieldValues", where);
            if (names->class_type != MAT_C_CELL || values->class_type != MAT_C_CELL || count(names) != count(values)) {
                fail(where, "fieldNames and fieldValues must be cells of one length");
            }
            std::vector<std::string> fieldNames;
            for (size_t f = 0; f < count(names); ++f) fieldNames.push_back(text(cell(names, f, where + ".fieldNames"), where + ".fieldNames"));
            std::vector<const char*> pointers;
            for (const std::string& name : fieldNames) pointers.push_back(name.c_str());
            mxArray* result = mxCreateStructMatrix_800(1, 1, static_cast<int>(pointers.size()), pointers.data());
            for (size_t f = 0; f < fieldNames.size(); ++f) {
                mxArray* value = decode(cell(values, f, where + ".fieldValues"), where + "." + fieldNames[f]);
                if (value != nullptr) mxSetFieldByNumber_800(result, 0, static_cast<int>(f), value);
            }
            return result;
        }
        if (var->class_type == MAT_C_CHAR) return mxCreateString_800(text(var, where).c_str());
        for (const ClassPair& pair : kClasses) {
            if (pair.mat != var->class_type) continue;
            if (var->rank != 2) fail(where, "expected a matrix");
            const size_t elementBytes = matElementBytes(var->class_type);
            const size_t bytes = count(var) * elementBytes;
            if (var->isComplex || (bytes > 0 && (var->data == nullptr || static_cast<size_t>(var->nbytes) < bytes))) {
                fail(where, "numeric data of the wrong size");
            }
            mxArray* result = mxCreateNumericMatrix_800(var->dims[0], var->dims[1], pair.host, mxREAL);
            if (bytes > 0) std::memcpy(mxGetData_800(result), var->data, bytes);
            return result;
        }
        fail(where, "an array of an unsupported class");
    }

private:
    std::string file_;
};

}  // namespace

void writeStateFile(const std::filesystem::path& file, const std::string& scenarioName, const qelengine::EngineState& state) {
    std::vector<MatVar> names;
    std::vector<MatVar> models;
    std::vector<MatVar> states;
    for (const qelengine::BlockState& block : state.blocks) {
        names.push_back(matText("", block.name));
        models.push_back(matText("", block.modelName));
        states.push_back(encode("", block.simState.get(), "block '" + block.name + "'"));
    }
    std::vector<MatStructField> fields;
    fields.push_back({"format", matText("format", kFormat)});
    fields.push_back({"scenario", matText("scenario", scenarioName)});
    fields.push_back({"step", matScalar("step", static_cast<double>(state.step))});
    fields.push_back({"stepSize", matScalar("stepSize", state.stepSize)});
    fields.push_back({"time", matScalar("time", static_cast<double>(state.step) * state.stepSize)});
    fields.push_back({"signals", matDoubles("signals", state.signals, state.signals.size(), 1)});
    fields.push_back({"blockNames", matCell("blockNames", std::move(names))});
    fields.push_back({"blockModels", matCell("blockModels", std::move(models))});
    fields.push_back({"blockStates", matCell("blockStates", std::move(states))});
    MatWriter writer(file, false);
    writer.write(matStruct(kVariable, std::move(fields)));
    writer.close();
}

qelengine::EngineState readStateFile(const std::filesystem::path& file) {
    MatReader reader(file);
    MatVar root = reader.read(kVariable);
    const Decoder decoder(file.string());
    if (!root) decoder.fail(kVariable, "missing");
    matvar_t* top = root.get();
    const std::string where = kVariable;
    if (decoder.text(decoder.field(top, "format", where), where + ".format") != kFormat) {
        decoder.fail(where + ".format", "unknown format");
    }
    qelengine::EngineState state;
    const double step = decoder.doubles(decoder.field(top, "step", where), 1, where + ".step")[0];
    if (!(step >= 0.0) || step != static_cast<double>(static_cast<int64_t>(step))) decoder.fail(where + ".step", "not a step index");
    state.step = static_cast<int64_t>(step);
    state.stepSize = decoder.doubles(decoder.field(top, "stepSize", where), 1, where + ".stepSize")[0];
    matvar_t* signals = decoder.field(top, "signals", where);
    const double* values = decoder.doubles(signals, 0, where + ".signals");
    state.signals.assign(values, values + decoder.count(signals));

    matvar_t* names = decoder.field(top, "blockNames", where);
    matvar_t* models = decoder.field(top, "blockModels", where);
    matvar_t* states = decoder.field(top, "blockStates", where);
    if (names->class_type != MAT_C_CELL || decoder.count(names) != decoder.count(models) ||
        decoder.count(names) != decoder.count(states)) {
        decoder.fail(where + ".blockNames", "the block lists differ in length");
    }
    for (size_t b = 0; b < decoder.count(names); ++b) {
        qelengine::BlockState block;
        block.name = decoder.text(decoder.cell(names, b, where + ".blockNames"), where + ".blockNames");
        block.modelName = decoder.text(decoder.cell(models, b, where + ".blockModels"), where + ".blockModels");
        // The tree is built in a scope of its own, so that a failure halfway frees what was built.
        qelhost::ArrayScope scope;
        mxArray* simState = decoder.decode(decoder.cell(states, b, where + ".blockStates"), "block '" + block.name + "'");
        if (simState == nullptr) decoder.fail("block '" + block.name + "'", "no state");
        block.simState = qelhost::takeArray(simState);
        state.blocks.push_back(std::move(block));
    }
    return state;
}

}  // namespace qelsim::run
