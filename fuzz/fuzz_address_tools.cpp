// Address tools: arbitrary register names, address texts and numbers
// through the configuration editor's conversion, check and multi-copy.
//
// Input: register name, address text, count, language, address type, then
// start, copy count and step for the multi-copy.
//
// Checks: an accepted address is of the right kind and inside its type's
// range; the two multi-copy outputs have one entry per copy; every copy
// that was not clamped converts back to its own number, and every clamped
// copy carries the type's highest address and its limit.

#include "fuzz_input.h"
#include "registers/address_conversion.h"
#include "registers/address_multi_copy.h"
#include "registers/address_validation.h"
#include "registers/register_types.h"

#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const QString name = registerName(in);
    const QString text = in.text();
    const qint32 count = in.number();
    const qint32 language = in.pick(3);
    const qint32 kindChoice = in.pick(3) - 1; // -1..2, mostly 0 and 1
    const qint32 addressType = kindChoice + in.pick(2);
    const RegisterTypeInfo* info = findRegisterType(name);

    addressTextToIndex(name, text);

    qint32 index = 0x5A5A5A5A;
    const QString message = checkAddress(name, text, &index, count, language, addressType);
    if (message.isEmpty() && (language == 0 || language == 1)) {
        FUZZ_CHECK(info != nullptr);
        FUZZ_CHECK(static_cast<qint32>(info->addressKind) == addressType);
        FUZZ_CHECK(!text.isEmpty() && !text.contains(QLatin1Char(' ')));
        FUZZ_CHECK(index == addressTextToIndex(name, text));
        FUZZ_CHECK(index >= 0 && qint64(index) + count <= info->registerCount);
    }
    checkAddress(name, text, nullptr, count, language, addressType); // no place for the index

    const qint32 start = in.number();
    // Up to 4096 copies, or the edge values themselves (2^31 - 1 among
    // them, which meets the module's bound on copies): a run stays fast.
    qint32 copies = in.number();
    if (copies > 4096 && copies != std::numeric_limits<qint32>::max())
        copies %= 4097;
    const qint32 step = in.number();
    QStringList texts{QStringLiteral("stale")};
    QVector<qint32> numbers{-7};
    const QString question = copyAddresses(name, start, copies, step, texts, numbers, language);
    FUZZ_CHECK(texts.size() == numbers.size());
    if (!info || copies <= 0) {
        FUZZ_CHECK(texts.isEmpty() && question.isEmpty());
        return 0;
    }
    FUZZ_CHECK(!texts.isEmpty() && texts.size() <= copies);
    const qint32 limit = addressNumberLimit(*info);
    bool clamped = false;
    for (int k = 0; k < texts.size(); ++k) {
        if (numbers[k] == limit && texts[k] == QLatin1String(info->highestText)) {
            clamped = true;
            continue;
        }
        FUZZ_CHECK(numbers[k] < limit);
        // Copies inside the range convert back (negative ones print as
        // unsigned numbers and need not).
        if (numbers[k] >= info->numberOffset)
            FUZZ_CHECK(addressTextToIndex(name, texts[k]) == numbers[k] - info->numberOffset);
    }
    if (language == 0 || language == 1)
        FUZZ_CHECK(question.isEmpty() != clamped);
    else
        FUZZ_CHECK(question.isEmpty());
    return 0;
}
