#include "conversation/logwriter.h"

#include "base/clock.h"
#include "support/childprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using vorlan::LogWriter;

namespace {

class FakeClock final : public vorlan::Clock
{
public:
    QDateTime now() const override { return m_now; }
    void set(int year, int month, int day, int hour, int minute, int second)
    {
        m_now = QDateTime(QDate(year, month, day), QTime(hour, minute, second));
    }

private:
    QDateTime m_now;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

class LogWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_clock.set(2024, 3, 15, 9, 30, 0);
    }

    QString folder() const { return m_dir.path(); }
    QString logOf(const QString &logDate) const { return folder() + "/" + logDate + ".txt"; }

    QTemporaryDir m_dir;
    FakeClock m_clock;
    LogWriter m_log{m_clock};
};

// --- file names and the day header ----------------------------------------------------------------

TEST_F(LogWriterTest, file_is_named_after_the_day_in_the_folder)
{
    EXPECT_EQ(LogWriter::fileName("/home/taro/log", "20240315"), "/home/taro/log/20240315.txt");
    EXPECT_EQ(LogWriter::fileName("", "20240315"), "/20240315.txt");
}

TEST_F(LogWriterTest, open_writes_the_day_header_of_the_clocks_date)
{
    m_clock.set(2024, 1, 5, 0, 0, 0);
    ASSERT_TRUE(m_log.open(folder()));
    EXPECT_TRUE(m_log.isOpen());
    EXPECT_EQ(m_log.LogDate(), "20240105");
    EXPECT_EQ(m_log.folder(), folder());
    EXPECT_EQ(readFile(logOf("20240105")), QByteArray("*** 2024/01/05 ***\r\n"));
}

TEST_F(LogWriterTest, two_openings_on_one_day_append_two_headers_to_one_file)
{
    ASSERT_TRUE(m_log.open(folder()));
    ASSERT_TRUE(m_log.WriteLog({"09:30:00 taro->\thello"}));
    m_log.close();
    EXPECT_FALSE(m_log.isOpen());

    LogWriter second(m_clock);
    ASSERT_TRUE(second.open(folder()));
    ASSERT_TRUE(second.WriteLog({"09:31:00 hanako->\thi"}));
    second.close();

    EXPECT_EQ(readFile(logOf("20240315")), QByteArray("*** 2024/03/15 ***\r\n"
                                                      "09:30:00 taro->\thello\r\n"
                                                      "*** 2024/03/15 ***\r\n"
                                                      "09:31:00 hanako->\thi\r\n"));
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files), QStringList({"20240315.txt"}));
}

// --- the day check --------------------------------------------------------------------------------

TEST_F(LogWriterTest, first_line_after_midnight_opens_the_new_days_file)
{
    m_clock.set(2023, 12, 31, 23, 59, 58);
    ASSERT_TRUE(m_log.open(folder()));
    ASSERT_TRUE(m_log.WriteLog({"23:59:58 taro->\tlast"}));

    m_clock.set(2024, 1, 1, 0, 0, 3);
    ASSERT_TRUE(m_log.WriteLog({"00:00:03 taro->\tfirst"}));
    EXPECT_TRUE(m_log.isOpen());
    EXPECT_EQ(m_log.LogDate(), "20240101");

    EXPECT_EQ(readFile(logOf("20231231")),
              QByteArray("*** 2023/12/31 ***\r\n23:59:58 taro->\tlast\r\n"));
    EXPECT_EQ(readFile(logOf("20240101")),
              QByteArray("*** 2024/01/01 ***\r\n00:00:03 taro->\tfirst\r\n"));
}

TEST_F(LogWriterTest, a_new_folder_takes_effect_at_the_next_day)
{
    const QString other = folder() + "/other";
    ASSERT_TRUE(QDir().mkdir(other));
    ASSERT_TRUE(m_log.open(folder()));
    m_log.setFolder(other);
    ASSERT_TRUE(m_log.WriteLog({"same day"}));
    m_clock.set(2024, 3, 16, 8, 0, 0);
    ASSERT_TRUE(m_log.WriteLog({"next day"}));

    EXPECT_EQ(readFile(logOf("20240315")), QByteArray("*** 2024/03/15 ***\r\nsame day\r\n"));
    EXPECT_FALSE(QFile::exists(logOf("20240316")));
    EXPECT_EQ(readFile(other + "/20240316.txt"), QByteArray("*** 2024/03/16 ***\r\nnext day\r\n"));
}

// --- what is written ------------------------------------------------------------------------------

TEST_F(LogWriterTest, past_log_items_are_written_as_given_in_code_page_932)
{
    ASSERT_TRUE(m_log.open(folder()));
    ASSERT_TRUE(m_log.WriteLog({QStringLiteral("---過去のログ受信 開始 (10.0.0.2より)---"),
                                QStringLiteral("09:00:00 taro->\tone\r\n09:01:00\t太郎が参加しました。"),
                                QStringLiteral("---過去のログ受信 終了 (10.0.0.2より)---")}));

    const QByteArray expected =
        "*** 2024/03/15 ***\r\n"
        "---\x89\xdf\x8b\x8e\x82\xcc\x83\x8d\x83\x4f\x8e\xf3\x90\x4d \x8a\x4a\x8e\x6e"
        " (10.0.0.2\x82\xe6\x82\xe8)---\r\n"
        "09:00:00 taro->\tone\r\n"
        "09:01:00\t\x91\xbe\x98\x59\x82\xaa\x8e\x51\x89\xc1\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42\r\n"
        "---\x89\xdf\x8b\x8e\x82\xcc\x83\x8d\x83\x4f\x8e\xf3\x90\x4d \x8f\x49\x97\xb9"
        " (10.0.0.2\x82\xe6\x82\xe8)---\r\n";
    EXPECT_EQ(readFile(logOf("20240315")), expected);
}

TEST_F(LogWriterTest, each_line_is_on_disk_before_write_log_returns)
{
    ASSERT_TRUE(m_log.open(folder()));
    EXPECT_EQ(readFile(logOf("20240315")), QByteArray("*** 2024/03/15 ***\r\n"));
    ASSERT_TRUE(m_log.WriteLog({"09:30:00 taro->\tnow"}));
    EXPECT_EQ(readFile(logOf("20240315")),
              QByteArray("*** 2024/03/15 ***\r\n09:30:00 taro->\tnow\r\n"));
    EXPECT_TRUE(m_log.isOpen());
}

// --- failures -------------------------------------------------------------------------------------

TEST_F(LogWriterTest, open_in_a_missing_folder_fails_without_creating_it)
{
    const QString missing = folder() + "/absent";
    EXPECT_FALSE(m_log.open(missing));
    EXPECT_FALSE(m_log.isOpen());
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_FALSE(m_log.WriteLog({"nothing"}));
}

TEST_F(LogWriterTest, failed_open_closes_the_file_that_was_open)
{
    ASSERT_TRUE(m_log.open(folder()));
    EXPECT_FALSE(m_log.open(folder() + "/absent"));
    EXPECT_FALSE(m_log.isOpen());
    EXPECT_FALSE(m_log.WriteLog({"lost"}));
    EXPECT_EQ(readFile(logOf("20240315")), QByteArray("*** 2024/03/15 ***\r\n"));
}

// What happens to the file's name is seen from the next turn of the event loop on.
TEST_F(LogWriterTest, write_after_the_files_name_was_lost_fails_and_closes_other_changes_do_not)
{
    struct Case
    {
        const char *what;
        std::function<bool(const QString &folder, const QString &file)> change;
        bool keepsWriting;
    };
    const Case cases[] = {
        {"folder removed", [](const QString &f, const QString &) { return QDir(f).removeRecursively(); }, false},
        {"file deleted", [](const QString &, const QString &n) { return QFile::remove(n); }, false},
        {"file renamed away", [](const QString &f, const QString &n) { return QFile::rename(n, f + "/old.txt"); }, false},
        {"file replaced", [](const QString &f, const QString &n) {
             QFile other(f + "/other.txt");
             return other.open(QIODevice::WriteOnly) && other.write("x") == 1
                    && ::rename(QFile::encodeName(other.fileName()).constData(),
                                QFile::encodeName(n).constData()) == 0;
         }, false},
        {"permissions changed", [](const QString &, const QString &n) {
             return QFile::setPermissions(n, QFile::ReadOwner | QFile::WriteOwner);
         }, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString sub = folder() + "/" + c.what;
        ASSERT_TRUE(QDir().mkdir(sub));
        ASSERT_TRUE(m_log.open(sub));
        ASSERT_TRUE(m_log.WriteLog({"09:30:00 taro->\tbefore"}));
        ASSERT_TRUE(c.change(sub, LogWriter::fileName(sub, "20240315")));
        QCoreApplication::processEvents();

        EXPECT_EQ(m_log.WriteLog({"09:30:01 taro->\tafter"}), c.keepsWriting);
        EXPECT_EQ(m_log.isOpen(), c.keepsWriting);
        if (c.keepsWriting) {
            EXPECT_EQ(readFile(LogWriter::fileName(sub, "20240315")),
                      "*** 2024/03/15 ***\r\n09:30:00 taro->\tbefore\r\n09:30:01 taro->\tafter\r\n");
        }
    }
    EXPECT_FALSE(QFileInfo::exists(folder() + "/folder removed")) << "the folder must not be recreated";
}

TEST_F(LogWriterTest, day_change_into_a_removed_folder_fails_and_closes)
{
    const QString sub = folder() + "/log";
    ASSERT_TRUE(QDir().mkdir(sub));
    ASSERT_TRUE(m_log.open(sub));
    ASSERT_TRUE(m_log.WriteLog({"before"}));
    ASSERT_TRUE(QDir(sub).removeRecursively());

    m_clock.set(2024, 3, 16, 0, 0, 1);
    EXPECT_FALSE(m_log.WriteLog({"after"}));
    EXPECT_FALSE(m_log.isOpen());
    EXPECT_FALSE(QFileInfo::exists(sub));
}

// --- a full disk --------------------------------------------------------------------------------

enum FullDiskOutcome {
    Kept = 0,
    NoOpen,
    NeverFull,
    HalfLineLeft,
    NoTinyDisk = vorlan::test::CouldNotSetUp
};

// Runs in a child process: mounts a two-page file system over folder in a mount namespace of
// its own (gone with the child), then logs until the disk is full.
int logOntoAFullDisk(const QString &folder, LogWriter &log)
{
    const QByteArray where = QFile::encodeName(folder);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tmpfs", where.constData(), "tmpfs", 0, "size=8k") != 0)
        return NoTinyDisk;
    if (!log.open(folder))
        return NoOpen;
    QByteArray expected = "*** 2024/03/15 ***\r\n";
    const QString line(1000, u'x');
    for (int i = 0;; ++i) {
        if (i == 20)
            return NeverFull;
        if (!log.WriteLog({line}))
            break;
        expected += line.toLatin1() + "\r\n";
    }
    return readFile(folder + "/20240315.txt") == expected ? Kept : HalfLineLeft;
}

TEST_F(LogWriterTest, write_cut_short_by_a_full_disk_leaves_no_half_line)
{
    const int outcome =
        vorlan::test::exitStatusInChild([this] { return logOntoAFullDisk(folder(), m_log); });
    VORLAN_SKIP_IF_CHILD_COULD_NOT_SET_UP(outcome, "mounting a small file system needs root");
    EXPECT_EQ(outcome, Kept) << "1 no open, 2 never full, 3 half a line left";
}

} // namespace
