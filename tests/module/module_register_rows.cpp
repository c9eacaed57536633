#include "module/module_register_rows.h"

#include "registers/register_types.h"

std::string registerRowText(const char* name, int element, const char* area, int numberBase,
                            int numberOffset, int registers, int byteBase, int unitBytes,
                            int forceBase, bool writable)
{
    const char* const elements[] = {"bit", "word", "double word"}; // ElementKind's order in both tables
    return QString::asprintf("%s: %s in %s, base %d from %d, %d registers, byte 0x%04X, %d bytes a unit, "
                             "force %d, %s",
                             name, elements[element], area, numberBase, numberOffset, registers, byteBase,
                             unitBytes, forceBase, writable ? "writable" : "read-only")
        .toStdString();
}

std::string moduleRegisterRow(int row)
{
    if (row < 0 || row >= RegisterTypeCount)
        return {};
    const RegisterTypeInfo& t = registerTypeTable()[row];
    return registerRowText(t.name, int(t.element), registerTypeInfo(t.imageArea).name, t.numberBase,
                           t.numberOffset, t.registerCount, t.byteBase, t.bytesPerIndex, t.forceBase,
                           t.write != WriteCommand::None);
}
