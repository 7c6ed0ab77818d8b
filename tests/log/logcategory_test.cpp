#include "log/assertion.h"
#include "log/logcategory.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>

#include <thread>
#include <vector>

namespace {

struct Captured {
    QtMsgType type;
    QString line;
};

std::vector<Captured> *g_captured = nullptr;

void captureHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (g_captured) {
        QString line = message;
        line.replace(QRegularExpression(QStringLiteral("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d")), QStringLiteral("TIME"));
        g_captured->push_back({type, line});
    }
}

// Installs a message handler for the life of a test and collects every line, time replaced.
class LogCapture {
public:
    LogCapture()
    {
        g_captured = &m_Lines;
        m_Previous = qInstallMessageHandler(captureHandler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_Previous);
        g_captured = nullptr;
    }
    const std::vector<Captured> &lines() const { return m_Lines; }

private:
    std::vector<Captured> m_Lines;
    QtMessageHandler m_Previous = nullptr;
};

} // namespace

TEST(LogCategory, FirstMessageCreatesAtWarnAndIsFilteredBelowIt)
{
    LogCapture capture;
    LogCategory channel("Decoder");
    channel.log(LOG_INFO, "video opened width :320 height:240", "./decoderagent", 120);
    channel.log(LOG_DEBUG, "EMPTY VIDEO QUEUE", "./videoagent", 7);
    channel.log(LOG_WARN, "bad picture packet", "./decoderagent", 42);
    channel.log(LOG_ERROR, QStringLiteral("broken"), nullptr, 5);
    channel.log(LOG_FATAL, "no line", "./x", -1);

    ASSERT_EQ(capture.lines().size(), 4u);
    EXPECT_EQ(capture.lines()[0].type, QtDebugMsg);
    EXPECT_EQ(capture.lines()[0].line, QStringLiteral("[INFO] TIME - \"decoder\"  - Created at level  WARN"));
    EXPECT_EQ(capture.lines()[1].type, QtWarningMsg);
    EXPECT_EQ(capture.lines()[1].line,
              QStringLiteral("[ WARN ] TIME - \"decoder\" - \"bad picture packet\"  at ./decoderagent line  42"));
    // A null path or a line of -1 leaves the location out.
    EXPECT_EQ(capture.lines()[2].line, QStringLiteral("[ ERROR ] TIME - \"decoder\" - \"broken\""));
    EXPECT_EQ(capture.lines()[3].line, QStringLiteral("[ FATAL ] TIME - \"decoder\" - \"no line\""));
}

TEST(LogCategory, ChannelsWithTheSameNameEachAnnounceThemselves)
{
    LogCapture capture;
    LogCategory first("decoder");
    LogCategory second("decoder");
    first.log(LOG_DEBUG, "a", nullptr, -1);
    second.log(LOG_DEBUG, "b", nullptr, -1);
    first.log(LOG_DEBUG, "c", nullptr, -1);
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_TRUE(capture.lines()[0].line.contains(QStringLiteral("Created at level")));
    EXPECT_TRUE(capture.lines()[1].line.contains(QStringLiteral("Created at level")));
}

TEST(LogCategory, LevelNames)
{
    const std::pair<int, const char *> table[] = {
        {0, "NONE"}, {1, "DEBUG"}, {2, "INFO"}, {3, "WARN"}, {4, "ERROR"}, {5, "FATAL"}, {7, "[UNKOWN]"}, {-1, "[UNKOWN]"},
    };
    for (const auto &[level, name] : table)
        EXPECT_STREQ(LogCategory::levelName(level), name) << level;
}

TEST(LogCategory, LinesFromManyThreadsNeverInterleave)
{
    LogCapture capture;
    LogCategory channel("decoder");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&channel, t] {
            for (int i = 0; i < 200; ++i)
                channel.log(LOG_WARN, QStringLiteral("thread %1 line %2").arg(t).arg(i), "./decoderagent", i);
        });
    }
    for (auto &thread : threads)
        thread.join();
    ASSERT_EQ(capture.lines().size(), 1u + 4u * 200u);
    const QRegularExpression whole(
        QStringLiteral("^\\[ WARN \\] TIME - \"decoder\" - \"thread \\d line \\d+\"  at ./decoderagent line  \\d+$"));
    for (size_t i = 1; i < capture.lines().size(); ++i)
        ASSERT_TRUE(whole.match(capture.lines()[i].line).hasMatch()) << capture.lines()[i].line.toStdString();
}

TEST(AssertionReport, WritesThePrintfLineAndCarriesOn)
{
    LogCapture capture;
    int after = 0;
    CHECK_ASSERT(1 + 1 == 2);
    reportAssertion("m_Data", "./dataqueue", 33);
    after = 1;
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].type, QtDebugMsg);
    EXPECT_EQ(capture.lines()[0].line, QStringLiteral("Assertion 'm_Data' failed. File=./dataqueue Line=33"));
    EXPECT_EQ(after, 1);
}
