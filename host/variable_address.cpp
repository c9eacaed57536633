#include "variable_address.h"

#include "module_instance.h"
#include "port_reach.h"

#include <QStringList>
#include <QVector>

namespace {

constexpr qint32 LanguageEnglish = 1;

// Splits "D100" into "D" and "100", "32CV200" into "32CV" and "200". Letters
// are taken in either case (d100 is D100): the module's names are upper case.
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

// The PLC's own spellings: M8000 is the module's SM8000, D8000 its SD8000,
// and a D address with a point is a bit of a data register (D_bit).
QString moduleRegisterName(const QString& name, const QString& address)
{
    if (name == QLatin1String("D") && address.contains(QLatin1Char('.')))
        return QStringLiteral("D_bit");
    bool isNumber = false;
    const int number = address.toInt(&isNumber);
    if (isNumber && number >= 8000) {
        if (name == QLatin1String("M"))
            return QStringLiteral("SM");
        if (name == QLatin1String("D"))
            return QStringLiteral("SD");
    }
    return name;
}

} // namespace

bool parseVariableAddress(const QString& text, int registers, VariableAddress* variable,
                          QString* error)
{
    QString name;
    QString address;
    splitNameAndAddress(text, &name, &address);
    const QString regName = moduleRegisterName(name, address);
    const RegisterKind* type = findRegisterKind(regName);
    const std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(error);
    if (!module)
        return false;
    // Names outside the table are checked as words, so that the module
    // answers "no such register" rather than "address type mismatch".
    const qint32 addressType = type ? type->addressType() : 1;
    qint32 index = -1;
    const QString message =
        module->CheckAddrCorrect(regName, address, &index, registers, LanguageEnglish, addressType);
    if (!message.isEmpty() || !type) {
        const QString reason = message.isEmpty() ? QStringLiteral("no such register") : message;
        *error = QStringLiteral("\"%1\": %2").arg(text, reason);
        return false;
    }
    VariableAddress parsed;
    parsed.text = text;
    parsed.regName = regName;
    parsed.addrText = address;
    parsed.index = module->AddrStringToInt(regName, address);
    parsed.registers = registers;
    parsed.type = type;
    const QString reach = portReachError(parsed);
    if (!reach.isEmpty()) {
        *error = QStringLiteral("\"%1\": %2").arg(text, reach);
        return false;
    }
    *variable = parsed;
    return true;
}

QString VariableAddress::registerText(int offset) const
{
    const QString shownName =
        type && type->id == RegisterKindId::DBit ? QStringLiteral("D") : regName;
    QString error;
    const std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(&error);
    if (!type || !module)
        return shownName + addrText;
    QStringList texts;
    QVector<qint32> numbers;
    const qint32 start = index + type->numberOffset;
    module->AddrMutilCopy(regName, start, 1, offset, texts, numbers, LanguageEnglish);
    return shownName + (texts.isEmpty() ? QString() : texts.first());
}
