// The host's side of its arrays: ownership, and the queries the tools and tests need beyond the
// operations a plug-in imports (frame/host_interface.h).
//
// Ownership. Every array and every mxCalloc_800 block that a plug-in (or anyone) obtains through
// the imported operations belongs to the innermost live ArrayScope of the thread, or, with no
// scope alive, to a process-wide one that ends at exit. Ending a scope frees what it still holds.
// An array stored into a struct field belongs to that struct and goes with it; a field's old value
// goes back to the current scope. takeArray moves an array out of its scope into a UniqueArray.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/host_interface.h"
#include "host/matlab_error.h"

namespace qelhost {

struct ArrayDeleter {
    void operator()(mxArray* array) const;
};
using UniqueArray = std::unique_ptr<mxArray, ArrayDeleter>;

class __attribute__((visibility("default"))) ArrayScope {
public:
    ArrayScope();
    ~ArrayScope();   // frees every array and calloc block still in the scope
    ArrayScope(const ArrayScope&) = delete;
    ArrayScope& operator=(const ArrayScope&) = delete;

    size_t numArrays() const { return numArrays_; }
    size_t numBlocks() const { return numBlocks_; }

private:
    friend struct ArrayScopeAccess;   // the host library keeps the lists
    struct ProcessWide {};
    explicit ArrayScope(ProcessWide);   // the scope of last resort; never on the thread's stack

    mxArray* arrays_ = nullptr;   // doubly linked through the arrays themselves
    void* blocks_ = nullptr;      // doubly linked through the calloc blocks' headers
    size_t numArrays_ = 0;
    size_t numBlocks_ = 0;
    ArrayScope* outer_ = nullptr;
    bool onStack_ = true;
};

// Moves `array` out of the scope (or struct field) that holds it; the caller then owns it.
UniqueArray takeArray(mxArray* array);
// A deep copy owned by the caller.
UniqueArray duplicateArray(const mxArray* array);

// Host-side constructors: owned by the caller from the start, never part of a scope.
UniqueArray makeDoubleMatrix(size_t rows, size_t cols, std::span<const double> values = {});
UniqueArray makeDoubleScalar(double value);
UniqueArray makeString(std::string_view text);

// Queries. All accept null and answer as for an empty array.
size_t numberOfElements(const mxArray* array);
bool isStruct(const mxArray* array);
bool isString(const mxArray* array);
bool isMessage(const mxArray* array);
std::string_view fieldName(const mxArray* structArray, int field);   // "" when out of range
int fieldNumber(const mxArray* structArray, std::string_view name);  // -1 when absent
std::string stringOf(const mxArray* array);                          // the text of a char array
std::span<const uint8_t> bytesOf(const mxArray* array);              // the real data's bytes
// The identifier and arguments of a message object (mexCallMATLAB_800 "message").
const std::string& messageIdentifier(const mxArray* message);
const std::vector<MatlabError::Argument>& messageArguments(const mxArray* message);

// The number of arrays and calloc blocks alive in the process; tests use it to find leaks.
size_t liveArrayCount();
size_t liveBlockCount();

}  // namespace qelhost
