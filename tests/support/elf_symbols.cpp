#include "support/elf_symbols.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

template <typename T>
bool readAt(const std::vector<char>& file, size_t offset, T& out)
{
    if (offset > file.size() || file.size() - offset < sizeof(T))
        return false;
    std::memcpy(&out, file.data() + offset, sizeof(T));
    return true;
}

} // namespace

bool readDefinedDynamicSymbols(const std::string& path, std::vector<std::string>& names,
                               std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<char> file((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    Elf64_Ehdr header{};
    if (!readAt(file, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0
        || header.e_ident[EI_CLASS] != ELFCLASS64) {
        error = path + " is not an ELF64 file";
        return false;
    }
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr section{};
        if (!readAt(file, header.e_shoff + i * sizeof(Elf64_Shdr), section))
            break;
        if (section.sh_type != SHT_DYNSYM)
            continue;
        Elf64_Shdr strings{};
        if (!readAt(file, header.e_shoff + section.sh_link * sizeof(Elf64_Shdr), strings)) {
            error = "bad string table link";
            return false;
        }
        const size_t count = section.sh_size / sizeof(Elf64_Sym);
        for (size_t k = 1; k < count; ++k) {
            Elf64_Sym symbol{};
            if (!readAt(file, section.sh_offset + k * sizeof(Elf64_Sym), symbol))
                break;
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK))
                continue;
            if (strings.sh_offset + symbol.st_name >= file.size())
                continue;
            names.emplace_back(file.data() + strings.sh_offset + symbol.st_name);
        }
        return true;
    }
    error = path + " has no dynamic symbol table";
    return false;
}
