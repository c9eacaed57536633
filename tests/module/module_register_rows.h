#pragma once

// The module's register table, a row as text, for the runtime's table to be
// held against (register_table_agreement_test.cpp): the two tables' headers
// cannot meet in one file, since both name an ElementKind.

#include <string>

// "name: element in area, base B from offset O, N registers, byte 0xBB,
// U bytes a unit, force F, writable or read-only".
std::string registerRowText(const char* name, int element, const char* area, int numberBase,
                            int numberOffset, int registers, int byteBase, int unitBytes,
                            int forceBase, bool writable);

// Row `row` of the module's table in those words; "" past its last row.
std::string moduleRegisterRow(int row);
