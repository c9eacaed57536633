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

// The dynamic symbols of an ELF file of one class: Elf32_* for a 32-bit
// module, Elf64_* for a 64-bit one.
template <typename Ehdr, typename Shdr, typename Sym>
bool readDynamicSymbols(const std::vector<char>& file, const std::string& path,
                        std::vector<std::string>& names, std::string& error)
{
    Ehdr header{};
    if (!readAt(file, 0, header)) {
        error = path + " is too short for an ELF header";
        return false;
    }
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        Shdr section{};
        if (!readAt(file, header.e_shoff + i * sizeof(Shdr), section))
            break;
        if (section.sh_type != SHT_DYNSYM)
            continue;
        Shdr strings{};
        if (!readAt(file, header.e_shoff + section.sh_link * sizeof(Shdr), strings)) {
            error = "bad string table link";
            return false;
        }
        const size_t count = section.sh_size / sizeof(Sym);
        for (size_t k = 1; k < count; ++k) {
            Sym symbol{};
            if (!readAt(file, section.sh_offset + k * sizeof(Sym), symbol))
                break;
            const unsigned binding = symbol.st_info >> 4; // ELF32_ST_BIND and ELF64_ST_BIND alike
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
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) {
        error = path + " is not an ELF file";
        return false;
    }
    switch (file[EI_CLASS]) {
    case ELFCLASS64:
        return readDynamicSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file, path, names, error);
    case ELFCLASS32:
        return readDynamicSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file, path, names, error);
    default:
        error = path + " is neither an ELF32 nor an ELF64 file";
        return false;
    }
}
