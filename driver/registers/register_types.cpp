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

// Compares in place, character by character: the names are short ASCII, and a
// rebuild looks up every host variable's name.
bool isNamed(const QString& regName, const char* name, int length)
{
    if (regName.size() != length)
        return false;
    const QChar* text = regName.constData();
    for (int k = 0; k < length; ++k) {
        if (text[k].unicode() != static_cast<unsigned char>(name[k]))
            return false;
    }
    return true;
}

} // namespace

const RegisterTypeInfo* findRegisterType(const QString& regName)
{
    for (int i = 0; i < RegisterTypeCount; ++i) {
        if (isNamed(regName, RegisterTable::Rows[i].name, NameLengths[i]))
            return &RegisterTable::Rows[i];
    }
    return nullptr;
}
