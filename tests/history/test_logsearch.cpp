#include "base/codec.h"
#include "history/logfile.h"
#include "history/logsearch.h"
#include "history/searchfold.h"
#include "history/searchjob.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vorlan;

namespace {

QByteArray sjis(const char *utf8)
{
    return encodeCp932(QString::fromUtf8(utf8));
}

QByteArray crlf(const QList<QByteArray> &lines)
{
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + "\r\n";
    return bytes;
}

struct Collected final : SearchSink
{
    void found(SearchHit &&hit) override
    {
        hits.append(hit);
        if (cancelAfterFirst)
            cancel = true;
    }
    void unreadable(const LogDay &day) override { skipped.append({day.date, day.state}); }

    QList<SearchHit> hits;
    QList<std::pair<QDate, LogDay::State>> skipped;
    bool cancelAfterFirst = false;
    std::atomic_bool cancel{false};
};

// A log folder as users have them: files of this program and of peers of the other platform,
// a line that goes on over several physical lines, broken bytes, a FIFO, a directory and a
// UTF-8 file under day names, a day larger than the search's buffer, and a file of other name.
class LogFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        write("20240101.txt", crlf({
            "*** 2024/01/01 ***",
            sjis("09:00:00 太郎->\tサーバーの再起動は１０時です"),
            sjis("09:01:00[花子]->\t(To:太郎) 了解、ｻｰﾊﾞｰ室で"),
            sjis("待っています"),
            sjis("09:02:00\t次郎さんが参加しました。"),
            sjis("---過去のログ受信 開始 (10.0.0.5より)---"),
            sjis("08:00:00 三郎->\tさーばーは落ちていた"),
            sjis("まだサーバーは復旧しない"),
            sjis("---過去のログ受信 終了 (10.0.0.5より)---"),
        }));
        write("20240102.txt", crlf({"*** 2024/01/02 ***", sjis("10:00:00 太郎->\t壊れた") + "\x83",
                                    sjis("10:00:01 太郎->\t") + "\xff\x81 " + sjis("サーバー")}));
        write("20231231.txt", sjis("*** 2023/12/31 ***\n23:59:00 太郎->\tｻｰﾊﾞｰ")); // LF only, no last one
        ASSERT_EQ(::mkfifo(QFile::encodeName(path("20240103.txt")).constData(), 0600), 0);
        write("20240104.txt", "09:00:00 太郎->\tサーバーの話です。ユーティーエフ八です。\r\n");
        ASSERT_TRUE(QDir(m_dir.path()).mkdir("20240105.txt"));
        write("notes.txt", sjis("サーバー"));

        // A day larger than the buffer: one directed item with many lines, a match right across
        // the buffer's end, and one in its last line.
        QByteArray big = sjis("09:00:00[花子]->\t長い貼り付け") + "\r\n";
        const QByteArray filler = "continued text of the pasted item, line after line\r\n";
        while (big.size() + filler.size() < SearchChunkBytes - 4)
            big += filler;
        big += QByteArray(SearchChunkBytes - 4 - big.size() - 2, 'x') + "\r\n";
        m_acrossOffset = big.size();
        big += sjis("サーバー境界") + "\r\n" + filler + filler;
        m_lastOffset = big.size();
        big += sjis("最後のサーバー") + "\r\n";
        write("20240106.txt", big);
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    void write(const QString &name, const QByteArray &bytes) { test::writeFile(path(name), bytes); }

    SearchRequest request(const char *query, bool kana = true) const
    {
        SearchRequest r;
        r.folder = m_dir.path();
        r.query = QString::fromUtf8(query);
        r.kana = kana;
        return r;
    }

    QTemporaryDir m_dir;
    qint64 m_acrossOffset = 0;
    qint64 m_lastOffset = 0;
};

} // namespace

TEST_F(LogFolderTest, ListsTheDaysNewestFirstAndTellsWhichCannotBeRead)
{
    const QList<LogDay> days = listLogDays(m_dir.path(), true);
    QList<std::pair<QString, LogDay::State>> seen;
    for (const LogDay &day : days)
        seen.append({day.date.toString("yyyyMMdd"), day.state});
    const QList<std::pair<QString, LogDay::State>> expected = {
        {"20240106", LogDay::Readable}, {"20240105", LogDay::NotAFile}, {"20240104", LogDay::NotCp932},
        {"20240103", LogDay::NotAFile}, {"20240102", LogDay::Readable}, {"20240101", LogDay::Readable},
        {"20231231", LogDay::Readable}};
    EXPECT_EQ(seen, expected);
}

// Every line that holds the text, in either width or kana, with the time and name of the item
// it belongs to; the files that cannot be read are named and skipped, the FIFO never opened.
TEST_F(LogFolderTest, SearchFindsEveryLineWithItsItemAndSkipsWhatCannotBeRead)
{
    Collected sink;
    const SearchSummary summary = searchLogs(request("さーばー"), sink, sink.cancel);

    struct Expected
    {
        const char *day, *time, *name, *line;
        int column;
    };
    const Expected expected[] = {
        {"20240106", "09:00:00", "花子", "サーバー境界", 0},
        {"20240106", "09:00:00", "花子", "最後のサーバー", 3},
        {"20240102", "10:00:01", "太郎", "10:00:01 太郎->\t\uf8f3\ufffd サーバー", 17},
        {"20240101", "09:00:00", "太郎", "09:00:00 太郎->\tサーバーの再起動は１０時です", 14},
        {"20240101", "09:01:00", "花子", "09:01:00[花子]->\t(To:太郎) 了解、ｻｰﾊﾞｰ室で", 26},
        {"20240101", "08:00:00", "三郎", "08:00:00 三郎->\tさーばーは落ちていた", 14},
        {"20240101", "08:00:00", "三郎", "まだサーバーは復旧しない", 2},
        {"20231231", "23:59:00", "太郎", "23:59:00 太郎->\tｻｰﾊﾞｰ", 14},
    };
    ASSERT_EQ(sink.hits.size(), std::size(expected));
    for (qsizetype i = 0; i < sink.hits.size(); ++i) {
        const SearchHit &hit = sink.hits[i];
        const Expected &want = expected[i];
        EXPECT_EQ(hit.day.toString("yyyyMMdd"), want.day) << i;
        EXPECT_EQ(hit.time, want.time) << i;
        EXPECT_EQ(hit.name, QString::fromUtf8(want.name)) << i;
        EXPECT_EQ(hit.line, QString::fromUtf8(want.line)) << i;
        EXPECT_EQ(hit.column, want.column) << i;
        EXPECT_EQ(foldForSearch(hit.line.mid(hit.matchStart, hit.matchLength), true), u"さーばー") << i;
    }
    EXPECT_EQ(sink.hits[0].lineOffset, m_acrossOffset);
    EXPECT_EQ(sink.hits[1].lineOffset, m_lastOffset);
    const QList<std::pair<QDate, LogDay::State>> skipped = {
        {QDate(2024, 1, 5), LogDay::NotAFile}, {QDate(2024, 1, 4), LogDay::NotCp932}, {QDate(2024, 1, 3), LogDay::NotAFile}};
    EXPECT_EQ(sink.skipped.size(), 3);
    for (const auto &day : skipped)
        EXPECT_TRUE(sink.skipped.contains(day)) << day.first.toString().toStdString();
    EXPECT_EQ(summary.hits, 8);
    EXPECT_FALSE(summary.cancelled);

    // The day as the window shows it has each match where the hit says.
    const std::atomic_bool keepGoing{false};
    for (const SearchHit &hit : std::as_const(sink.hits)) {
        const DayText day = readDay(path(hit.day.toString("yyyyMMdd") + ".txt"), keepGoing);
        const qsizetype line = day.lineOffsets.indexOf(hit.lineOffset);
        ASSERT_GE(line, 0);
        const QString shown = day.text.split(u'\n')[line];
        EXPECT_EQ(foldForSearch(shown.mid(hit.column, hit.matchLength), true), u"さーばー");
    }
}

TEST_F(LogFolderTest, ADayReadsAsItsLinesWithTheirHeadsAndNothingIsWritten)
{
    QMap<QString, std::pair<QByteArray, QDateTime>> before;
    for (const QFileInfo &file : QDir(m_dir.path()).entryInfoList(QDir::Files))
        before[file.fileName()] = {test::readFile(file.filePath()), file.lastModified()};

    const std::atomic_bool keepGoing{false};
    const DayText day = readDay(path("20240101.txt"), keepGoing);
    EXPECT_EQ(day.state, LogDay::Readable);
    EXPECT_EQ(day.text.split(u'\n').size(), 9);
    EXPECT_TRUE(day.text.startsWith(QStringLiteral("*** 2024/01/01 ***\n09:00:00 太郎->\tサーバー")));
    EXPECT_FALSE(day.text.contains(u'\r'));
    // Heads in the head colour: chat, directed and notice lines and a past log's own lines.
    EXPECT_EQ(day.headLengths, QList<int>({0, 14, 15, 0, 9, 0, 14, 0, 0}));
    EXPECT_EQ(readDay(path("20240103.txt"), keepGoing).state, LogDay::NotAFile);
    EXPECT_EQ(readDay(path("20240104.txt"), keepGoing).state, LogDay::NotCp932);
    Collected sink;
    searchLogs(request("サーバー"), sink, sink.cancel);
    listLogDays(m_dir.path(), true);

    for (const QFileInfo &file : QDir(m_dir.path()).entryInfoList(QDir::Files)) {
        EXPECT_EQ(test::readFile(file.filePath()), before[file.fileName()].first) << file.fileName().toStdString();
        EXPECT_EQ(file.lastModified(), before[file.fileName()].second) << file.fileName().toStdString();
    }
}

TEST_F(LogFolderTest, ARangeOfDaysAndTheMostHitsBoundTheSearch)
{
    SearchRequest r = request("サーバー");
    r.from = QDate(2024, 1, 1);
    r.to = QDate(2024, 1, 2);
    Collected ranged;
    searchLogs(r, ranged, ranged.cancel);
    EXPECT_EQ(ranged.hits.size(), 5);
    EXPECT_TRUE(std::all_of(ranged.hits.begin(), ranged.hits.end(),
                            [](const SearchHit &hit) { return hit.day >= QDate(2024, 1, 1) && hit.day <= QDate(2024, 1, 2); }));

    r = request("サーバー");
    r.maxHits = 3;
    Collected few;
    EXPECT_TRUE(searchLogs(r, few, few.cancel).truncated);
    EXPECT_EQ(few.hits.size(), 3);
}

TEST_F(LogFolderTest, ACancelledSearchStopsAtOnce)
{
    Collected sink;
    sink.cancelAfterFirst = true;
    const SearchSummary summary = searchLogs(request("サーバー"), sink, sink.cancel);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_EQ(sink.hits.size(), 1);

    // Off the caller's thread: a cancel reports at once, and nothing of that search comes after.
    SearchJob job;
    QList<QList<SearchHit>> hits;
    QList<SearchSummary> finished;
    QObject::connect(&job, &SearchJob::hitsFound, [&](const QList<SearchHit> &batch) { hits.append(batch); });
    QObject::connect(&job, &SearchJob::finished, [&](const SearchSummary &done) { finished.append(done); });
    job.start(request("サーバー"));
    job.cancel();
    ASSERT_EQ(finished.size(), 1);
    EXPECT_TRUE(finished[0].cancelled);
    EXPECT_FALSE(job.isRunning());
    test::waitFor([] { return false; }, 200);
    EXPECT_EQ(hits.size(), 0);
    EXPECT_EQ(finished.size(), 1);

    // Run to its end, the same search delivers all it found.
    job.start(request("サーバー"));
    ASSERT_TRUE(test::waitFor([&] { return finished.size() == 2; }));
    qsizetype delivered = 0;
    for (const QList<SearchHit> &batch : std::as_const(hits))
        delivered += batch.size();
    EXPECT_EQ(delivered, 8);
    EXPECT_FALSE(finished[1].cancelled);
}
