#include "log/assertion.h"
#include "log/logcategory.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <vector>

namespace {

// Every line written while it lives, with its type, the time of day replaced by TIME.
std::vector<std::pair<QtMsgType, QString>> g_lines;

void capture(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    static const QRegularExpression time(QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d"));
    g_lines.push_back({type, QString(message).replace(time, QStringLiteral("TIME"))});
}

} // namespace

TEST(LogCategory, EachChannelAnnouncesItselfOnceAndFiltersBelowWarnAndAssertionsReportAndCarryOn)
{
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    LogCategory channel("Decoder"), sameName("decoder");
    channel.log(LOG_INFO, "video opened width :320 height:240", "./decoderagent", 120);
    channel.log(LOG_DEBUG, "EMPTY VIDEO QUEUE", "./videoagent", 7);
    channel.log(LOG_WARN, "bad picture packet", "./decoderagent", 42);
    channel.log(LOG_ERROR, QStringLiteral("broken"), nullptr, 5);   // no path: no location
    channel.log(LOG_FATAL, "no line", "./x", -1);                   // no line: no location
    sameName.log(LOG_DEBUG, "b", nullptr, -1);
    CHECK_ASSERT(1 + 1 == 2);
    reportAssertion("m_Data", "./dataqueue", 33);
    qInstallMessageHandler(previous);
    // A level outside the table must not index past it.
    EXPECT_STREQ(LogCategory::levelName(7), "[UNKOWN]");
    EXPECT_STREQ(LogCategory::levelName(-1), "[UNKOWN]");

    const QString created = QStringLiteral("[INFO] TIME - \"decoder\"  - Created at level  WARN");
    const std::vector<std::pair<QtMsgType, QString>> expected = {
        {QtDebugMsg, created},
        {QtWarningMsg, QStringLiteral("[ WARN ] TIME - \"decoder\" - \"bad picture packet\"  at ./decoderagent line  42")},
        {QtWarningMsg, QStringLiteral("[ ERROR ] TIME - \"decoder\" - \"broken\"")},
        {QtWarningMsg, QStringLiteral("[ FATAL ] TIME - \"decoder\" - \"no line\"")},
        {QtDebugMsg, created},
        {QtDebugMsg, QStringLiteral("Assertion 'm_Data' failed. File=./dataqueue Line=33")},
    };
    EXPECT_EQ(g_lines, expected);
}
