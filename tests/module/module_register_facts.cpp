#include "module_register_facts.h"

#include "registers/register_types.h"

std::vector<ModuleRegisterFacts> moduleRegisterFacts()
{
    std::vector<ModuleRegisterFacts> rows;
    for (int i = 0; i < RegisterTypeCount; ++i) {
        const RegisterTypeInfo& row = registerTypeTable()[i];
        const char* element = row.element == ElementKind::Bit    ? "bit"
                              : row.element == ElementKind::Word ? "word"
                                                                 : "double word";
        rows.push_back({row.name, element, registerTypeInfo(row.imageArea).name, row.numberBase,
                        row.numberOffset, row.registerCount, row.byteBase, row.bytesPerIndex,
                        row.forceBase, row.write != WriteCommand::None});
    }
    return rows;
}
