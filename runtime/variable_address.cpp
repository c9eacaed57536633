#include "variable_address.h"

#include "module_instance.h"
#include "port_reach.h"

#include <QRegularExpression>

namespace {

constexpr qint32 LanguageEnglish = 1;

// The register names a user types, what each accepts, and the kinds it
// names: M8000 up is SM, D8000 up is SD, a D address with a point is D_bit.
struct TypedName {
    const char* name;
    const char* accepted;
    RegisterKindId kind;
    RegisterKindId fromEightThousand; // the same as `kind` where 8000 up is nothing special
};

using K = RegisterKindId;
const TypedName kTypedNames[] = {
    {"X", "X0 to X377 (octal)", K::X, K::X},
    {"Y", "Y0 to Y377 (octal)", K::Y, K::Y},
    {"M", "M0 to M1535, or M8000 to M8255", K::M, K::SM},
    {"SM", "SM8000 to SM8255", K::SM, K::SM},
    {"S", "S0 to S999", K::S, K::S},
    {"T", "T0 to T255", K::T, K::T},
    {"C", "C0 to C255", K::C, K::C},
    {"D", "D0 to D7999, D8000 to D8255, or bits D0.0 to D7999.15", K::D, K::SD},
    {"SD", "SD8000 to SD8255", K::SD, K::SD},
    {"TV", "TV0 to TV255", K::TV, K::TV},
    {"CV", "CV0 to CV199", K::CV, K::CV},
    {"32CV", "32CV200 to 32CV255", K::CV32, K::CV32},
};

const TypedName* findTypedName(const QString& name)
{
    for (const TypedName& typed : kTypedNames) {
        if (name == QLatin1String(typed.name))
            return &typed;
    }
    return nullptr;
}

QString typedNames()
{
    QStringList names;
    for (const TypedName& typed : kTypedNames)
        names << QLatin1String(typed.name);
    return names.join(QStringLiteral(", "));
}

// Splits "D100" into "D" and "100", "32cv200" into "32CV" and "200".
void splitNameAndAddress(const QString& text, QString* name, QString* address)
{
    const QString counterPrefix = QStringLiteral("32CV");
    if (text.startsWith(counterPrefix, Qt::CaseInsensitive)) {
        *name = counterPrefix;
        *address = text.mid(counterPrefix.size());
        return;
    }
    int letters = 0;
    while (letters < text.size() && text.at(letters).isLetter())
        ++letters;
    *name = text.left(letters).toUpper();
    *address = text.mid(letters);
}

// Digits only, in the kind's notation: a sign, a space or an exponent is
// not an address (QString::toInt would take "+5").
bool wellFormed(const RegisterKind& kind, const QString& address)
{
    static const QRegularExpression octal(QStringLiteral("^[0-7]+$"));
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    static const QRegularExpression wordDotBit(QStringLiteral("^[0-9]+\\.[0-9]{1,2}$"));
    if (kind.id == K::DBit)
        return wordDotBit.match(address).hasMatch();
    return (kind.numberBase == 8 ? octal : decimal).match(address).hasMatch();
}

const RegisterKind& kindOf(const TypedName& typed, const QString& address)
{
    if (typed.kind == K::D && address.contains(QLatin1Char('.')))
        return registerKind(K::DBit);
    bool isNumber = false;
    const qint64 number = address.toLongLong(&isNumber);
    return registerKind(isNumber && number >= 8000 ? typed.fromEightThousand : typed.kind);
}

} // namespace

bool parseVariableAddress(const QString& text, int registers, VariableAddress* variable,
                          QString* error)
{
    QString name;
    QString address;
    splitNameAndAddress(text, &name, &address);
    const TypedName* typed = findTypedName(name);
    if (!typed) {
        *error = QStringLiteral("\"%1\": no register named \"%2\": the names are %3 (M8000 and D8000 up for the "
                                "special relays and registers, D10.3 for bit 3 of D10)")
                     .arg(text, name, typedNames());
        return false;
    }
    const RegisterKind& kind = kindOf(*typed, address);
    const QString outOfRange = QStringLiteral("\"%1\": expected %2").arg(text, QLatin1String(typed->accepted));
    const std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(error);
    if (!module)
        return false;
    const QString regName = QLatin1String(kind.name);
    const qint32 index = wellFormed(kind, address) ? module->AddrStringToInt(regName, address) : -1;
    if (index < 0 || index >= kind.registers) {
        *error = outOfRange;
        return false;
    }
    VariableAddress parsed;
    parsed.text = text;
    parsed.shownName = kind.id == K::DBit ? QStringLiteral("D") : name;
    parsed.regName = regName;
    parsed.addrText = address;
    parsed.index = index;
    parsed.registers = registers;
    parsed.type = &kind;
    if (qint64(index) + registers > kind.registers) {
        *error = QStringLiteral("\"%1\": %2 registers from %3 run to %4, past the last one, %5")
                     .arg(text)
                     .arg(registers)
                     .arg(parsed.registerText(0), parsed.registerText(registers - 1),
                          parsed.registerText(kind.registers - 1 - index));
        return false;
    }
    qint32 checkedIndex = -1;
    const QString message =
        module->CheckAddrCorrect(regName, address, &checkedIndex, registers, LanguageEnglish, kind.addressType());
    QString reach = portReachError(parsed);
    if (!message.isEmpty() || checkedIndex != index || !reach.isEmpty()) {
        *error = QStringLiteral("\"%1\": %2").arg(text, message.isEmpty() ? reach : message);
        return false;
    }
    *variable = parsed;
    return true;
}

QString VariableAddress::registerText(int offset) const
{
    const qint64 at = qint64(index) + offset;
    if (type && type->id == RegisterKindId::DBit)
        return QStringLiteral("%1%2.%3").arg(shownName).arg(at / 16).arg(at % 16);
    const int base = type ? type->numberBase : 10;
    const qint32 numberOffset = type ? type->numberOffset : 0;
    return shownName + QString::number(at + numberOffset, base).toUpper();
}
