// The identifier list a block registers with the host, and the field names of its rtdw members in
// the simulation state. Both hold the model's generated identifiers: opaque names of ten or eleven
// lower-case letters and digits with a fixed suffix, derived here from the model name so that they
// are distinct within the model and the same in every build.
//
// Built at compile time (every BlockIdentifiers is a constexpr object of its block directory), so
// the texts live in the plug-in's constant data and nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "frame/host_interface.h"

inline constexpr char kGeneratedIdentifierSuffix[] = "_qelm";

// Kind codes of the identifier list.
enum IdentifierKind : int32_t {
    kIdentifierFirstGenerated = 16,
    kIdentifierGenerated = 17,     // also the model name
    kIdentifierSimStateFunction = 20,
    kIdentifierCodeFile = 13,
};

// The simulation-state functions each model names in its list, in list order.
inline constexpr const char* kSimStateFunctionNames[] = {
    "GetSimStateDisallowedBlocks",
    "extractBitFieldFromCellArrayWithOffset",
    "cacheBitFieldToCellArrayWithOffset",
    "restoreDataFromMxArrayWithOffset",
    "cacheDataToMxArrayWithOffset",
    "extractBitFieldFromMxArray",
    "cacheBitFieldToMxArray",
    "restoreDataFromMxArray",
    "cacheDataAsMxArray",
    "RegisterSimStateChecksum",
    "SetDWork",
    "GetDWork",
};

class BlockIdentifiers {
public:
    static constexpr size_t kMaxEntries = 64;
    static constexpr size_t kMaxRtdwMembers = 16;
    static constexpr size_t kTextBytes = 4096;

    // `generatedBeforeName` identifiers come before the model name's entry (the first of kind
    // 16), `generatedAfterName` after it; `numRtdwMembers` field names follow. Code files carry
    // the model name with ".h" and ".cpp".
    constexpr BlockIdentifiers(const char* modelName, int generatedBeforeName, int generatedAfterName,
                               int numRtdwMembers) {
        modelName_ = modelName;
        const int numGenerated = generatedBeforeName + generatedAfterName;
        const char* generated[kMaxEntries + kMaxRtdwMembers] = {};
        for (int k = 0; k < numGenerated + numRtdwMembers; ++k) generated[k] = addGeneratedIdentifier(generated, k);

        for (int k = 0; k < generatedBeforeName; ++k)
            addEntry(generated[k], k == 0 ? kIdentifierFirstGenerated : kIdentifierGenerated, -1, modelName);
        addEntry(modelName, kIdentifierGenerated, 0, nullptr);
        for (int k = generatedBeforeName; k < numGenerated; ++k)
            addEntry(generated[k], kIdentifierGenerated, -1, modelName);
        for (const char* function : kSimStateFunctionNames)
            addEntry(addText({"mr_", modelName, "_", function}), kIdentifierSimStateFunction, -1, modelName);
        addEntry(addText({modelName, ".h"}), kIdentifierCodeFile, -1, nullptr);
        addEntry(addText({modelName, ".cpp"}), kIdentifierCodeFile, -1, modelName);

        for (int m = 0; m < numRtdwMembers; ++m)
            rtdwFieldNames_[numRtdwFieldNames_++] = addText({"mdlrefDW->rtdw.", generated[numGenerated + m]});
    }

    const char* modelName() const { return modelName_; }
    const IdentifierEntry* entries() const { return entries_; }
    int32_t count() const { return count_; }
    // The simulation-state field name of rtdw member `member`: "mdlrefDW->rtdw." and its identifier.
    const char* rtdwFieldName(size_t member) const {
        return member < numRtdwFieldNames_ ? rtdwFieldNames_[member] : nullptr;
    }
    size_t numRtdwFieldNames() const { return numRtdwFieldNames_; }

private:
    constexpr const char* addText(std::initializer_list<const char*> pieces) {
        const char* start = &text_[used_];
        for (const char* piece : pieces)
            for (const char* c = piece; *c != '\0'; ++c) text_[used_++] = *c;
        text_[used_++] = '\0';
        return start;
    }

    static constexpr bool sameText(const char* a, const char* b) {
        while (*a != '\0' && *a == *b) ++a, ++b;
        return *a == *b;
    }

    // Identifier `index` of the model: a 64-bit FNV-1a hash of the model name, the index and a
    // retry count, written in base 36; a retry resolves the (unlikely) clash with an earlier one.
    constexpr const char* addGeneratedIdentifier(const char* const* earlier, int index) {
        for (uint64_t retry = 0;; ++retry) {
            uint64_t hash = 0xcbf29ce484222325ull;
            auto mix = [&hash](uint64_t byte) {
                hash ^= byte;
                hash *= 0x100000001b3ull;
            };
            for (const char* c = modelName_; *c != '\0'; ++c) mix(static_cast<unsigned char>(*c));
            for (int shift = 0; shift < 32; shift += 8) mix((static_cast<uint64_t>(index) >> shift) & 0xff);
            for (int shift = 0; shift < 64; shift += 8) mix((retry >> shift) & 0xff);

            char name[12] = {};
            const int length = 10 + static_cast<int>(hash >> 63);
            uint64_t digits = hash;
            for (int i = 0; i < length; ++i) {
                name[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[digits % 36];
                digits /= 36;
            }
            const size_t mark = used_;
            const char* candidate = addText({name, kGeneratedIdentifierSuffix});
            bool clash = false;
            for (int k = 0; k < index; ++k) clash = clash || sameText(earlier[k], candidate);
            if (!clash) return candidate;
            used_ = mark;
        }
    }

    constexpr void addEntry(const char* text, int32_t kind, int32_t value, const char* owner) {
        entries_[count_++] = IdentifierEntry{text, kind, 0, value, 0, owner};
    }

    const char* modelName_ = nullptr;
    char text_[kTextBytes] = {};
    size_t used_ = 0;
    IdentifierEntry entries_[kMaxEntries] = {};
    int32_t count_ = 0;
    const char* rtdwFieldNames_[kMaxRtdwMembers] = {};
    size_t numRtdwFieldNames_ = 0;
};
