// A tag's trend as a person opens it: the gateway with its history store,
// Debian's headless chromium on /?trend=LINE/TAG, the changes the PLC made
// drawn from the history API and the live feed. Qt 6 only, as the page.

#ifdef TAVRIN_GATEWAY_HTTP

#include "headless_browser.h"
#include "press_gateway.h"

namespace {

class TrendEndToEnd : public PressGateway {};

TEST_F(TrendEndToEnd, ATrendDrawsWhatThePlcHeldAndGrowsLive)
{
    startGateway(QStringLiteral("history: {path: %1}\n").arg(dir.filePath(QStringLiteral("history.db"))));
    const auto gatewaySpeed = [&] {
        const QJsonArray tags = QJsonDocument::fromJson(httpRequest(httpPort, "GET", "/api/tags").body).array();
        for (const QJsonValue& tag : tags)
            if (tag.toObject().value(QStringLiteral("tag")).toString() == QLatin1String("speed"))
                return tag.toObject().value(QStringLiteral("value"));
        return QJsonValue();
    };
    // Changes the store keeps before the page opens, each read on its own.
    for (const int speed : {10, 20, 30}) {
        press.plc.setValue(QStringLiteral("D"), 100, speed);
        ASSERT_TRUE(waitUntil([&] { return gatewaySpeed() == QJsonValue(speed); }, 20000)) << speed;
    }
    HeadlessBrowser browser;
    QString error;
    ASSERT_TRUE(browser.open(QStringLiteral("http://127.0.0.1:%1/?trend=press1/speed").arg(httpPort), &error))
        << error.toStdString();
    const QString points = QStringLiteral("Number(document.getElementById('trend').dataset.points || 0) >= 3");
    EXPECT_EQ(browser.waitFor(points, QJsonValue(true)), QJsonValue(true)) << gateway.log().toStdString();
    EXPECT_EQ(browser.evaluate(QStringLiteral("document.getElementById('trend-name').textContent")),
              QJsonValue(QStringLiteral("press1/speed")));
    EXPECT_EQ(browser.evaluate(QStringLiteral("document.querySelector('#trend-chart path.line') !== null")), QJsonValue(true));
    // The axis reaches down to the lowest value the PLC held.
    const QJsonValue low = browser.evaluate(QStringLiteral("document.querySelectorAll('#trend-chart text')[1].textContent"));
    EXPECT_EQ(low, QJsonValue(QStringLiteral("10")));

    // A change now reaches the open trend without a reload.
    const QString count = QStringLiteral("Number(document.getElementById('trend').dataset.points)");
    const double before = browser.evaluate(count).toDouble();
    press.plc.setValue(QStringLiteral("D"), 100, 5);
    EXPECT_EQ(browser.waitFor(QStringLiteral("%1 > %2").arg(count).arg(before), QJsonValue(true)), QJsonValue(true));
    EXPECT_EQ(browser.waitFor(QStringLiteral("document.querySelectorAll('#trend-chart text')[1].textContent"),
                              QJsonValue(QStringLiteral("5"))),
              QJsonValue(QStringLiteral("5")));
}

} // namespace

#endif
