#include "registers/register_types.h"

#include <array>

namespace {

constexpr int nameLength(const char* name)
{
    int length = 0;
    while (name[length] != '\0')
        ++length;
    return length;
}

// The names' lengths, counted at compile time: a lookup runs several times a
// transaction, so it compares sizes first and never counts a name again.
constexpr std::array<int, RegisterTypeCount> nameLengths()
{
    std::array<int, RegisterTypeCount> lengths{};
    for (int i = 0; i < RegisterTypeCount; ++i)
        lengths[i] = nameLength(RegisterTable::Rows[i].name);
    return lengths;
}

constexpr std::array<int, RegisterTypeCount> NameLengths = nameLengths();

} // namespace

const RegisterTypeInfo* findRegisterType(const QString& regName)
{
    for (int i = 0; i < RegisterTypeCount; ++i) {
        const int length = NameLengths[i];
        if (regName.size() == length && regName == QLatin1String(RegisterTable::Rows[i].name, length))
            return &RegisterTable::Rows[i];
    }
    return nullptr;
}
