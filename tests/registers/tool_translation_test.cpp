// The address tools' messages go through QObject::tr: a translator that the
// host installs replaces them, in the QObject context without disambiguation.

#include "registers/address_multi_copy.h"
#include "registers/address_validation.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>

namespace {

// Brackets every QObject-context text it is asked for; leaves others alone,
// so a lookup in the wrong context shows up as an untranslated message.
class BracketingTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int) const override
    {
        const bool plainTr = disambiguation == nullptr || *disambiguation == '\0';
        if (qstrcmp(context, "QObject") != 0 || !plainTr)
            return QString();
        return QLatin1Char('[') + QString::fromUtf8(sourceText) + QLatin1Char(']');
    }
    bool isEmpty() const override { return false; }
};

class ToolTranslation : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QCoreApplication::installTranslator(&translator)); }
    void TearDown() override { QCoreApplication::removeTranslator(&translator); }
    BracketingTranslator translator;
};

QString check(const char* regName, const char* text, qint32 language, qint32 addressType)
{
    qint32 index = 0;
    return checkAddress(QString::fromLatin1(regName), QString::fromLatin1(text), &index, 1, language,
                        addressType);
}

QString copyPastEnd(qint32 language)
{
    QStringList texts;
    QVector<qint32> numbers;
    return copyAddresses(QStringLiteral("X"), 250, 2, 10, texts, numbers, language);
}

TEST_F(ToolTranslation, ReplacesTheAddressCheckMessages)
{
    EXPECT_EQ(check("Q", "5", 1, 1), QStringLiteral("[Didn't have this register!]"));
    EXPECT_EQ(check("D", "", 0, 1), QString::fromUtf8("[寄存器地址不能为空!]"));
    EXPECT_EQ(check("X", "400", 0, 0), QString::fromUtf8("[地址格式:ooo, 范围:0~377]"));
    EXPECT_EQ(check("X", "377", 1, 0), QString()); // success stays empty
    EXPECT_EQ(check("Q", "5", 2, 1), QString());   // so does an unknown language
}

TEST_F(ToolTranslation, ReplacesTheCopyQuestion)
{
    EXPECT_EQ(copyPastEnd(0), QString::fromUtf8("[复制已超出地址最大限制, 是否继续复制?]"));
    EXPECT_EQ(copyPastEnd(1),
              QStringLiteral("[Copy has exceeded the maximum limit of the address, and whether to "
                             "continue copying?]"));
    EXPECT_EQ(copyPastEnd(2), QString());
}

TEST(ToolTranslationRemoved, SourceTextsComeBackOnceTheTranslatorIsGone)
{
    {
        BracketingTranslator translator;
        ASSERT_TRUE(QCoreApplication::installTranslator(&translator));
        ASSERT_EQ(check("Q", "5", 1, 1), QStringLiteral("[Didn't have this register!]"));
        QCoreApplication::removeTranslator(&translator);
    }
    EXPECT_EQ(check("Q", "5", 1, 1), QStringLiteral("Didn't have this register!"));
    EXPECT_EQ(copyPastEnd(1).left(5), QStringLiteral("Copy "));
}

} // namespace
