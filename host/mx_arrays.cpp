// The host's arrays (the mx*_800 operations) and the scopes that own them.
#include "host/mx_arrays.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#define QEL_HOST_EXPORT __attribute__((visibility("default")))

using qelhost::ArrayScope;
using qelhost::MatlabError;

namespace {

enum class Kind { Numeric, Struct, Message };
enum class Owner { Scope, Field, Caller };

}  // namespace

struct mxArray_tag {
    Kind kind = Kind::Numeric;
    mxClassID classId = mxDOUBLE_CLASS;
    bool complex = false;
    size_t rows = 0;
    size_t cols = 0;
    void* real = nullptr;        // numeric data, rows * cols elements; null when empty
    void* imag = nullptr;

    std::vector<std::string> fieldNames;
    std::vector<mxArray*> fields;   // element-major: element e, field f at e * numFields + f

    std::string identifier;         // message object
    std::vector<MatlabError::Argument> arguments;

    Owner owner = Owner::Caller;
    ArrayScope* scope = nullptr;    // Owner::Scope
    mxArray* prev = nullptr;
    mxArray* next = nullptr;
    mxArray* parent = nullptr;      // Owner::Field: the struct holding it
};

namespace qelhost {

// Calloc blocks carry this header in front of the memory handed out; its size keeps the data
// aligned for any type.
struct alignas(std::max_align_t) CallocHeader {
    CallocHeader* prev;
    CallocHeader* next;
    ArrayScope* scope;
};

struct ArrayScopeAccess {
    static thread_local ArrayScope* innermost;
    static std::atomic<size_t> liveArrays;
    static std::atomic<size_t> liveBlocks;

    static ArrayScope& current() {
        if (innermost != nullptr) return *innermost;
        // Intentionally constructed on first use and destroyed at exit, freeing what is left.
        static ArrayScope processWide{ArrayScope::ProcessWide{}};
        return processWide;
    }

    static void link(ArrayScope& scope, mxArray* array) {
        array->owner = Owner::Scope;
        array->scope = &scope;
        array->parent = nullptr;
        array->prev = nullptr;
        array->next = scope.arrays_;
        if (scope.arrays_ != nullptr) scope.arrays_->prev = array;
        scope.arrays_ = array;
        ++scope.numArrays_;
    }

    static void unlink(mxArray* array) {
        ArrayScope& scope = *array->scope;
        if (array->prev != nullptr) array->prev->next = array->next;
        else scope.arrays_ = array->next;
        if (array->next != nullptr) array->next->prev = array->prev;
        array->prev = array->next = nullptr;
        array->scope = nullptr;
        array->owner = Owner::Caller;
        --scope.numArrays_;
    }

    static void* allocateBlock(ArrayScope& scope, size_t bytes) {
        void* memory = std::calloc(1, sizeof(CallocHeader) + bytes);
        if (memory == nullptr) return nullptr;
        auto* header = static_cast<CallocHeader*>(memory);
        auto* head = static_cast<CallocHeader*>(scope.blocks_);
        header->prev = nullptr;
        header->next = head;
        header->scope = &scope;
        if (head != nullptr) head->prev = header;
        scope.blocks_ = header;
        ++scope.numBlocks_;
        ++liveBlocks;
        return header + 1;
    }

    static void freeAll(ArrayScope& scope);
};

thread_local ArrayScope* ArrayScopeAccess::innermost = nullptr;
std::atomic<size_t> ArrayScopeAccess::liveArrays{0};
std::atomic<size_t> ArrayScopeAccess::liveBlocks{0};

}  // namespace qelhost

using qelhost::ArrayScopeAccess;

namespace {

[[noreturn]] void raise(const char* identifier, std::vector<MatlabError::Argument> arguments = {}) {
    throw MatlabError(identifier, std::move(arguments));
}

size_t elementSize(mxClassID classId) {
    switch (classId) {
        case mxDOUBLE_CLASS: case mxINT64_CLASS: case mxUINT64_CLASS: return 8;
        case mxSINGLE_CLASS: case mxINT32_CLASS: case mxUINT32_CLASS: return 4;
        case mxINT16_CLASS: case mxUINT16_CLASS: case mxCHAR_CLASS: return 2;
        case mxINT8_CLASS: case mxUINT8_CLASS: case mxLOGICAL_CLASS: return 1;
        default: return 0;
    }
}

bool isNumericClass(mxClassID classId) {
    return classId == mxDOUBLE_CLASS || classId == mxSINGLE_CLASS || (classId >= mxINT8_CLASS && classId <= mxUINT64_CLASS);
}

size_t countOf(size_t rows, size_t cols) {
    if (cols != 0 && rows > std::numeric_limits<size_t>::max() / cols) raise("qelhost:mx:OutOfMemory");
    return rows * cols;
}

void* allocateData(size_t count, size_t size, bool zeroed) {
    if (count == 0) return nullptr;
    if (count > std::numeric_limits<size_t>::max() / size) raise("qelhost:mx:OutOfMemory");
    void* data = std::malloc(count * size);
    if (data == nullptr) raise("qelhost:mx:OutOfMemory");
    // Uninitialised arrays get a loud pattern, so that a reader relying on zeros shows up.
    std::memset(data, zeroed ? 0 : 0xA5, count * size);
    return data;
}

// A new array in the current scope; `fill` sets it up (and may throw, which frees it).
template <class Fill>
mxArray* createScoped(Fill fill) {
    auto* array = new mxArray;
    ++ArrayScopeAccess::liveArrays;
    try {
        fill(array);
    } catch (...) {
        qelhost::ArrayDeleter{}(array);
        throw;
    }
    ArrayScopeAccess::link(ArrayScopeAccess::current(), array);
    return array;
}

void fillNumeric(mxArray* array, size_t rows, size_t cols, mxClassID classId, mxComplexity complexity, bool zeroed) {
    const size_t size = elementSize(classId);
    if (size == 0) raise("qelhost:mx:UnsupportedClass", {static_cast<double>(classId)});
    array->kind = Kind::Numeric;
    array->classId = classId;
    array->complex = complexity == mxCOMPLEX;
    array->rows = rows;
    array->cols = cols;
    const size_t count = countOf(rows, cols);
    array->real = allocateData(count, size, zeroed);
    if (array->complex) array->imag = allocateData(count, size, zeroed);
}

void fillText(mxArray* array, std::string_view text) {
    fillNumeric(array, text.empty() ? 0 : 1, text.size(), mxCHAR_CLASS, mxREAL, true);
    auto* chars = static_cast<uint16_t*>(array->real);
    for (size_t i = 0; i < text.size(); ++i) chars[i] = static_cast<unsigned char>(text[i]);
}

void copyInto(mxArray* copy, const mxArray* array);

mxArray* duplicateRaw(const mxArray* array) {
    auto* copy = new mxArray;
    ++ArrayScopeAccess::liveArrays;
    try {
        copyInto(copy, array);
    } catch (...) {
        qelhost::ArrayDeleter{}(copy);
        throw;
    }
    return copy;
}

void copyInto(mxArray* copy, const mxArray* array) {
    copy->kind = array->kind;
    copy->classId = array->classId;
    copy->complex = array->complex;
    copy->rows = array->rows;
    copy->cols = array->cols;
    if (array->kind == Kind::Numeric) {
        const size_t count = array->rows * array->cols;
        const size_t size = elementSize(array->classId);
        copy->real = allocateData(count, size, true);
        if (array->real != nullptr) std::memcpy(copy->real, array->real, count * size);
        if (array->complex) {
            copy->imag = allocateData(count, size, true);
            if (array->imag != nullptr) std::memcpy(copy->imag, array->imag, count * size);
        }
    }
    copy->fieldNames = array->fieldNames;
    copy->fields.assign(array->fields.size(), nullptr);
    for (size_t i = 0; i < array->fields.size(); ++i) {
        if (array->fields[i] == nullptr) continue;
        mxArray* field = duplicateRaw(array->fields[i]);
        field->owner = Owner::Field;
        field->parent = copy;
        copy->fields[i] = field;
    }
    copy->identifier = array->identifier;
    copy->arguments = array->arguments;
}

// Detaches `array` from wherever it is held; afterwards the caller is its only owner.
void detach(mxArray* array) {
    if (array->owner == Owner::Scope) {
        ArrayScopeAccess::unlink(array);
    } else if (array->owner == Owner::Field) {
        for (mxArray*& slot : array->parent->fields)
            if (slot == array) slot = nullptr;
        array->parent = nullptr;
        array->owner = Owner::Caller;
    }
}

bool holds(const mxArray* ancestor, const mxArray* array) {
    for (const mxArray* a = array; a != nullptr; a = a->owner == Owner::Field ? a->parent : nullptr)
        if (a == ancestor) return true;
    return false;
}

template <class T>
double elementAsDouble(const void* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return static_cast<double>(value);
}

}  // namespace

namespace qelhost {

void ArrayScopeAccess::freeAll(ArrayScope& scope) {
    while (scope.arrays_ != nullptr) {
        mxArray* array = scope.arrays_;
        unlink(array);
        ArrayDeleter{}(array);
    }
    auto* header = static_cast<CallocHeader*>(scope.blocks_);
    while (header != nullptr) {
        CallocHeader* next = header->next;
        std::free(header);
        --liveBlocks;
        header = next;
    }
    scope.blocks_ = nullptr;
    scope.numBlocks_ = 0;
}

ArrayScope::ArrayScope() : outer_(ArrayScopeAccess::innermost) { ArrayScopeAccess::innermost = this; }

ArrayScope::ArrayScope(ProcessWide) : onStack_(false) {}

ArrayScope::~ArrayScope() {
    ArrayScopeAccess::freeAll(*this);
    if (onStack_) ArrayScopeAccess::innermost = outer_;
}

void ArrayDeleter::operator()(mxArray* array) const {
    if (array == nullptr) return;
    detach(array);
    for (mxArray* field : array->fields) {
        if (field == nullptr) continue;
        field->owner = Owner::Caller;
        field->parent = nullptr;
        ArrayDeleter{}(field);
    }
    std::free(array->real);
    std::free(array->imag);
    delete array;
    --ArrayScopeAccess::liveArrays;
}

UniqueArray takeArray(mxArray* array) {
    if (array != nullptr) detach(array);
    return UniqueArray(array);
}

UniqueArray duplicateArray(const mxArray* array) { return UniqueArray(array != nullptr ? duplicateRaw(array) : nullptr); }

UniqueArray makeDoubleMatrix(size_t rows, size_t cols, std::span<const double> values) {
    UniqueArray array(new mxArray);
    ++ArrayScopeAccess::liveArrays;
    fillNumeric(array.get(), rows, cols, mxDOUBLE_CLASS, mxREAL, true);
    const size_t count = std::min(values.size(), rows * cols);
    if (count > 0) std::memcpy(array->real, values.data(), count * sizeof(double));
    return array;
}

UniqueArray makeDoubleScalar(double value) { return makeDoubleMatrix(1, 1, std::span<const double>(&value, 1)); }

UniqueArray makeString(std::string_view text) {
    UniqueArray array(new mxArray);
    ++ArrayScopeAccess::liveArrays;
    fillText(array.get(), text);
    return array;
}

size_t numberOfElements(const mxArray* array) { return array != nullptr ? array->rows * array->cols : 0; }
bool isStruct(const mxArray* array) { return array != nullptr && array->kind == Kind::Struct; }
bool isString(const mxArray* array) { return array != nullptr && array->kind == Kind::Numeric && array->classId == mxCHAR_CLASS; }
bool isMessage(const mxArray* array) { return array != nullptr && array->kind == Kind::Message; }

std::string_view fieldName(const mxArray* structArray, int field) {
    if (!isStruct(structArray) || field < 0 || static_cast<size_t>(field) >= structArray->fieldNames.size()) return {};
    return structArray->fieldNames[static_cast<size_t>(field)];
}

int fieldNumber(const mxArray* structArray, std::string_view name) {
    if (!isStruct(structArray)) return -1;
    for (size_t f = 0; f < structArray->fieldNames.size(); ++f)
        if (structArray->fieldNames[f] == name) return static_cast<int>(f);
    return -1;
}

std::string stringOf(const mxArray* array) {
    if (!isString(array)) return {};
    std::string text(numberOfElements(array), '\0');
    const auto* chars = static_cast<const uint16_t*>(array->real);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(chars[i]);
    return text;
}

std::span<const uint8_t> bytesOf(const mxArray* array) {
    if (array == nullptr || array->kind != Kind::Numeric || array->real == nullptr) return {};
    return {static_cast<const uint8_t*>(array->real), numberOfElements(array) * elementSize(array->classId)};
}

const std::string& messageIdentifier(const mxArray* message) {
    static const std::string none;
    return isMessage(message) ? message->identifier : none;
}

const std::vector<MatlabError::Argument>& messageArguments(const mxArray* message) {
    static const std::vector<MatlabError::Argument> none;
    return isMessage(message) ? message->arguments : none;
}

size_t liveArrayCount() { return ArrayScopeAccess::liveArrays; }
size_t liveBlockCount() { return ArrayScopeAccess::liveBlocks; }

// Used by the MATLAB calls in the same library.
mxArray* createMessage(std::string identifier, std::vector<MatlabError::Argument> arguments) {
    return createScoped([&](mxArray* array) {
        array->kind = Kind::Message;
        array->classId = mxUNKNOWN_CLASS;
        array->rows = array->cols = 1;
        array->identifier = std::move(identifier);
        array->arguments = std::move(arguments);
    });
}

}  // namespace qelhost

extern "C" {

QEL_HOST_EXPORT void* mxCalloc_800(size_t count, size_t elementSize) {
    if (elementSize != 0 && count > (std::numeric_limits<size_t>::max() - sizeof(qelhost::CallocHeader)) / elementSize)
        raise("qelhost:mx:OutOfMemory");
    void* memory = ArrayScopeAccess::allocateBlock(ArrayScopeAccess::current(), count * elementSize);
    if (memory == nullptr) raise("qelhost:mx:OutOfMemory");
    return memory;
}

QEL_HOST_EXPORT mxArray* mxCreateString_800(const char* text) {
    return createScoped([&](mxArray* array) { fillText(array, text != nullptr ? text : ""); });
}

QEL_HOST_EXPORT mxArray* mxCreateDoubleScalar_800(double value) {
    return createScoped([&](mxArray* array) {
        fillNumeric(array, 1, 1, mxDOUBLE_CLASS, mxREAL, true);
        *static_cast<double*>(array->real) = value;
    });
}

QEL_HOST_EXPORT mxArray* mxCreateDoubleMatrix_800(size_t rows, size_t cols, mxComplexity complexity) {
    return createScoped([&](mxArray* array) { fillNumeric(array, rows, cols, mxDOUBLE_CLASS, complexity, true); });
}

QEL_HOST_EXPORT mxArray* mxCreateStructMatrix_800(size_t rows, size_t cols, int fieldCount, const char** fieldNames) {
    return createScoped([&](mxArray* array) {
        if (fieldCount < 0 || (fieldCount > 0 && fieldNames == nullptr)) raise("qelhost:mx:BadFieldNames");
        array->kind = Kind::Struct;
        array->classId = mxSTRUCT_CLASS;
        array->rows = rows;
        array->cols = cols;
        for (int f = 0; f < fieldCount; ++f) {
            if (fieldNames[f] == nullptr) raise("qelhost:mx:BadFieldNames");
            array->fieldNames.emplace_back(fieldNames[f]);
        }
        const size_t elements = countOf(rows, cols);
        if (fieldCount > 0 && elements > std::numeric_limits<size_t>::max() / sizeof(mxArray*) / static_cast<size_t>(fieldCount))
            raise("qelhost:mx:OutOfMemory");
        array->fields.assign(elements * static_cast<size_t>(fieldCount), nullptr);
    });
}

QEL_HOST_EXPORT mxArray* mxCreateNumericMatrix_800(size_t rows, size_t cols, mxClassID classId, mxComplexity complexity) {
    return createScoped([&](mxArray* array) { fillNumeric(array, rows, cols, classId, complexity, true); });
}

QEL_HOST_EXPORT mxArray* mxCreateUninitNumericMatrix_800(size_t rows, size_t cols, mxClassID classId, mxComplexity complexity) {
    return createScoped([&](mxArray* array) { fillNumeric(array, rows, cols, classId, complexity, false); });
}

QEL_HOST_EXPORT void mxSetFieldByNumber_800(mxArray* structArray, size_t index, int field, mxArray* value) {
    if (!qelhost::isStruct(structArray) || field < 0 || static_cast<size_t>(field) >= structArray->fieldNames.size() ||
        index >= structArray->rows * structArray->cols)
        raise("qelhost:mx:BadFieldReference", {static_cast<double>(index), static_cast<double>(field)});
    mxArray*& slot = structArray->fields[index * structArray->fieldNames.size() + static_cast<size_t>(field)];
    if (value == slot) return;
    if (value != nullptr) {
        if (holds(value, structArray)) raise("qelhost:mx:StructHoldsItself");
        if (value->owner == Owner::Caller) {
            // The caller keeps its own array; the struct gets a copy.
            value = duplicateRaw(value);
        } else {
            detach(value);
        }
    }
    // The old value may still be in use by whoever stored it: it goes back to the current scope.
    if (slot != nullptr) ArrayScopeAccess::link(ArrayScopeAccess::current(), slot);
    slot = value;
    if (value != nullptr) {
        value->owner = Owner::Field;
        value->parent = structArray;
    }
}

QEL_HOST_EXPORT mxArray* mxGetFieldByNumber_800(const mxArray* structArray, size_t index, int field) {
    if (!qelhost::isStruct(structArray) || field < 0 || static_cast<size_t>(field) >= structArray->fieldNames.size() ||
        index >= structArray->rows * structArray->cols)
        return nullptr;
    return structArray->fields[index * structArray->fieldNames.size() + static_cast<size_t>(field)];
}

QEL_HOST_EXPORT void* mxGetData_800(const mxArray* array) {
    return array != nullptr && array->kind == Kind::Numeric ? array->real : nullptr;
}

QEL_HOST_EXPORT double* mxGetPr_800(const mxArray* array) {
    return array != nullptr && array->kind == Kind::Numeric && array->classId == mxDOUBLE_CLASS
               ? static_cast<double*>(array->real) : nullptr;
}

QEL_HOST_EXPORT double mxGetScalar_800(const mxArray* array) {
    if (array == nullptr || array->kind != Kind::Numeric || array->real == nullptr) return 0.0;
    const void* data = array->real;
    switch (array->classId) {
        case mxDOUBLE_CLASS: return elementAsDouble<double>(data);
        case mxSINGLE_CLASS: return elementAsDouble<float>(data);
        case mxINT8_CLASS: return elementAsDouble<int8_t>(data);
        case mxUINT8_CLASS: return elementAsDouble<uint8_t>(data);
        case mxINT16_CLASS: return elementAsDouble<int16_t>(data);
        case mxUINT16_CLASS: return elementAsDouble<uint16_t>(data);
        case mxCHAR_CLASS: return elementAsDouble<uint16_t>(data);
        case mxINT32_CLASS: return elementAsDouble<int32_t>(data);
        case mxUINT32_CLASS: return elementAsDouble<uint32_t>(data);
        case mxINT64_CLASS: return elementAsDouble<int64_t>(data);
        case mxUINT64_CLASS: return elementAsDouble<uint64_t>(data);
        case mxLOGICAL_CLASS: return elementAsDouble<uint8_t>(data);
        default: return 0.0;
    }
}

QEL_HOST_EXPORT size_t mxGetM_800(const mxArray* array) { return array != nullptr ? array->rows : 0; }
QEL_HOST_EXPORT size_t mxGetN_800(const mxArray* array) { return array != nullptr ? array->cols : 0; }
QEL_HOST_EXPORT bool mxIsComplex_800(const mxArray* array) { return array != nullptr && array->complex; }

QEL_HOST_EXPORT bool mxIsNumeric_800(const mxArray* array) {
    return array != nullptr && array->kind == Kind::Numeric && isNumericClass(array->classId);
}

QEL_HOST_EXPORT double mxGetInf_800(void) { return std::numeric_limits<double>::infinity(); }

QEL_HOST_EXPORT mxClassID mxGetClassID_800(const mxArray* array) { return array != nullptr ? array->classId : mxUNKNOWN_CLASS; }

QEL_HOST_EXPORT int mxGetNumberOfFields_800(const mxArray* structArray) {
    return qelhost::isStruct(structArray) ? static_cast<int>(structArray->fieldNames.size()) : 0;
}

}  // extern "C"
