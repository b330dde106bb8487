// Each plug-in file exports exactly its entry and its API version query: read from the ELF
// dynamic symbol table of the built file.
#include <cstring>
#include <elf.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/blocks/block_facts.h"

namespace {

// The names of the symbols the file defines in its dynamic symbol table.
std::set<std::string> definedDynamicSymbols(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (image.size() < sizeof(Elf64_Ehdr)) throw std::runtime_error(file.string() + ": too short for an ELF header");
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64)
        throw std::runtime_error(file.string() + ": not a 64-bit ELF file");

    const auto section = [&](size_t index) {
        Elf64_Shdr entry;
        std::memcpy(&entry, image.data() + header.e_shoff + index * header.e_shentsize, sizeof entry);
        return entry;
    };
    std::set<std::string> names;
    for (size_t s = 0; s < header.e_shnum; ++s) {
        const Elf64_Shdr symbols = section(s);
        if (symbols.sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr strings = section(symbols.sh_link);
        for (size_t i = 1; i < symbols.sh_size / sizeof(Elf64_Sym); ++i) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, image.data() + symbols.sh_offset + i * sizeof(Elf64_Sym), sizeof symbol);
            if (symbol.st_shndx == SHN_UNDEF) continue;
            names.insert(image.data() + strings.sh_offset + symbol.st_name);
        }
    }
    return names;
}

TEST(Exports, EveryPluginExportsExactlyTheEntryAndTheVersionQuery) {
    for (const qeltest::BlockFacts& facts : qeltest::allBlocks()) {
        SCOPED_TRACE(facts.model);
        EXPECT_EQ(definedDynamicSymbols(qeltest::pluginFile(facts.model)),
                  (std::set<std::string>{"mexFunction", "mexfilerequiredapiversion"}));
    }
}

}  // namespace
