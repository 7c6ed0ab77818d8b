#include "log/assertion.h"
#include "log/logcategory.h"
#include "log/terminalrule.h"

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
        // Normal operation (the decoder's delay filling up): the debug output only, text and level kept.
        {QtDebugMsg, QStringLiteral("[ WARN ] TIME - \"decoder\" - \"bad picture packet\"  at ./decoderagent line  42")},
        {QtWarningMsg, QStringLiteral("[ ERROR ] TIME - \"decoder\" - \"broken\"")},
        {QtWarningMsg, QStringLiteral("[ FATAL ] TIME - \"decoder\" - \"no line\"")},
        {QtDebugMsg, created},
        {QtDebugMsg, QStringLiteral("Assertion 'm_Data' failed. File=./dataqueue Line=33")},
    };
    EXPECT_EQ(g_lines, expected);
}

TEST(TerminalRule, WhatAUserMustKnowReachesTheTerminal)
{
    using O = TerminalRule::Origin;
    const struct {
        O origin;
        int level;
        const char *text;
        bool terminal;
    } rows[] = {
        {O::Channel, LOG_WARN, "seek to 4 s failed (Operation not permitted)", true},
        {O::Channel, LOG_WARN, "no sound device: playing to SDL's dummy driver", true},
        {O::Channel, LOG_WARN, "bad free packet", false},
        {O::Channel, LOG_WARN, "error decoding audio", false},
        {O::Channel, LOG_INFO, "EOF", false},
        {O::FFmpeg, LOG_INFO, "Protocol name not provided, cannot determine if input is local or a network protocol", false},
        {O::FFmpeg, LOG_ERROR, "error while decoding MB 3 2", false},
        {O::FFmpeg, LOG_FATAL, "out of memory", true},
    };
    for (const auto &r : rows)
        EXPECT_EQ(TerminalRule::reachesTerminal(r.origin, r.level, QString::fromLatin1(r.text)), r.terminal) << r.text;
}
