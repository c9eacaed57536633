#pragma once

#include <string>
#include <vector>

// Names of the symbols a shared library defines in its dynamic symbol table
// (global or weak, not undefined), read straight from the ELF file.
// Returns false and sets `error` when the file is not a readable ELF object
// (32-bit or 64-bit).
bool readDefinedDynamicSymbols(const std::string& path, std::vector<std::string>& names,
                               std::string& error);
