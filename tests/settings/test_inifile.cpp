#include "settings/inifile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using vorlan::IniFile;
using vorlan::IniSnapshot;
using vorlan::listWrites;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

mode_t modeOf(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

void setMode(const QString &path, mode_t mode)
{
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

// A settings file in a fresh folder, optionally filled with the given bytes.
class IniFileTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path() const { return m_dir.filePath(QStringLiteral("Vorlan.ini")); }
    IniFile fileWith(const QByteArray &bytes)
    {
        writeFile(path(), bytes);
        return IniFile(path());
    }
    // The file read once, as the program reads it.
    IniSnapshot reads() const { return IniSnapshot(path()); }
    IniSnapshot readsOf(const QByteArray &bytes)
    {
        writeFile(path(), bytes);
        return reads();
    }
    QByteArray onDisk() const { return readFile(path()); }

    QTemporaryDir m_dir;
};

// --- reading -------------------------------------------------------------------------------------

TEST_F(IniFileTest, missing_file_gives_every_default)
{
    const IniSnapshot ini = reads();
    EXPECT_EQ(ini.readText("OPT", "UserName"), QString());
    EXPECT_EQ(ini.readNumber("POSITION", "M1", 1440), 1440);
    EXPECT_EQ(ini.readShort("OPT", "FT", 3), 3);
    EXPECT_TRUE(ini.readList("IP").isEmpty());
    EXPECT_FALSE(QFile::exists(path())) << "reading must not create the file";
}

TEST_F(IniFileTest, section_and_key_names_ignore_case)
{
    const IniSnapshot ini = readsOf("[opt]\r\nKeyword=2\r\nBEEPKEYWORD=1\r\n");
    EXPECT_EQ(ini.readShort("OPT", "KeyWord", 0), 2);
    EXPECT_EQ(ini.readShort("Opt", "BeepKeyWord", 0), 1);
    EXPECT_EQ(ini.readText("oPt", "keyword"), "2");
}

TEST_F(IniFileTest, header_with_trailing_blanks_opens_its_section)
{
    const IniSnapshot ini = readsOf("[OPT]  \t\r\nUserName=taro\r\n  [ICON]\r\nStand=a.ico\r\n");
    EXPECT_EQ(ini.readText("OPT", "UserName"), "taro");
    EXPECT_EQ(ini.readText("ICON", "Stand"), "a.ico");
    EXPECT_EQ(ini.readText("OPT", "Stand"), QString()) << "the next header ends the section";
}

TEST_F(IniFileTest, value_is_everything_after_first_equals_without_surrounding_blanks)
{
    const IniSnapshot ini = readsOf("[OPT]\r\n\t UserName \t=  a = b  c \t\r\nLogDir=\r\n"
                           "MemberFontBold=TRUE\r\nMemberFontItalic=True\r\nQuoted=\"x\"\r\n");
    EXPECT_EQ(ini.readText("OPT", "UserName"), "a = b  c");
    EXPECT_EQ(ini.readText("OPT", "LogDir"), QString());
    // Case and quotes are the caller's business: "TRUE" is not "True".
    EXPECT_EQ(ini.readText("OPT", "MemberFontBold"), "TRUE");
    EXPECT_EQ(ini.readText("OPT", "MemberFontItalic"), "True");
    EXPECT_EQ(ini.readText("OPT", "Quoted"), "\"x\"");
}

TEST_F(IniFileTest, long_value_is_read_whole)
{
    const QString name = QString(200, u'n') + QStringLiteral("さん");
    const IniSnapshot ini = readsOf("[OPT]\r\nUserName=" + QByteArray(200, 'n') + "\x82\xb3\x82\xf1\r\n");
    EXPECT_EQ(ini.readText("OPT", "UserName"), name);
}

TEST_F(IniFileTest, lf_only_lines_and_a_last_line_without_terminator_are_read)
{
    const IniSnapshot ini = readsOf("[OPT]\nFT=7\r\n[IP]\n1=10.0.0.1\n2=10.0.0.2");
    EXPECT_EQ(ini.readShort("OPT", "FT", 3), 7);
    EXPECT_EQ(ini.readList("IP"), QStringList({"10.0.0.1", "10.0.0.2"}));
}

TEST_F(IniFileTest, first_section_and_first_key_win_when_repeated)
{
    const IniSnapshot ini = readsOf("[OPT]\r\nFT=1\r\nFT=2\r\n[OPT]\r\nFT=3\r\nCO=255\r\n");
    EXPECT_EQ(ini.readShort("OPT", "FT", 0), 1);
    EXPECT_EQ(ini.readNumber("OPT", "CO", -1), -1) << "a repeated section is not read";
}

TEST_F(IniFileTest, keys_before_the_first_header_and_comments_are_not_keys)
{
    const IniSnapshot ini = readsOf("FT=9\r\n[OPT]\r\n;FT=8\r\njunk line\r\n");
    EXPECT_EQ(ini.readShort("OPT", "FT", 3), 3);
    EXPECT_EQ(ini.readText("OPT", "junk line"), QString());
}

TEST_F(IniFileTest, japanese_names_and_values_are_decoded_from_code_page_932)
{
    // "ゾ" ends in the byte of "]" and "表" in the byte of "\": neither may cut a name short.
    const IniSnapshot ini = readsOf("[\x90\xdd\x92\xe8]\r\n\x96\xbc\x91\x4f=\x91\xbe\x98\x59\r\n"
                           "[\x83\x5d]\r\nX=\x95\x5c\r\n");
    EXPECT_EQ(ini.readText(QStringLiteral("設定"), QStringLiteral("名前")), QStringLiteral("太郎"));
    EXPECT_EQ(ini.readText(QStringLiteral("ゾ"), "x"), QStringLiteral("表"));
}

// --- numbers -------------------------------------------------------------------------------------

TEST_F(IniFileTest, number_is_the_leading_integer_of_the_value)
{
    const IniSnapshot ini = readsOf("[OPT]\r\nFT=5.9\r\nA=letters\r\nB=\r\nC=-12\r\nD=1440.5\r\nE=12abc\r\n"
                           "F=-\r\nG=2147483647\r\nH=-2147483648\r\nI=2147483648\r\n"
                           "J=99999999999999999999999\r\n");
    EXPECT_EQ(ini.readShort("OPT", "FT", 3), 5);
    EXPECT_EQ(ini.readNumber("OPT", "A", 3), 0);
    EXPECT_EQ(ini.readNumber("OPT", "B", 3), 3) << "an empty value takes the default";
    EXPECT_EQ(ini.readNumber("OPT", "Missing", 3), 3);
    EXPECT_EQ(ini.readNumber("OPT", "C", 3), -12);
    EXPECT_EQ(ini.readNumber("OPT", "D", 0), 1440);
    EXPECT_EQ(ini.readNumber("OPT", "E", 0), 12);
    EXPECT_EQ(ini.readNumber("OPT", "F", 3), 0);
    EXPECT_EQ(ini.readNumber("OPT", "G", 0), 2147483647);
    EXPECT_EQ(ini.readNumber("OPT", "H", 0), -2147483647 - 1);
    EXPECT_EQ(ini.readNumber("OPT", "I", 7), 7) << "beyond 32 bits";
    EXPECT_EQ(ini.readNumber("OPT", "J", 7), 7);
}

TEST_F(IniFileTest, short_outside_16_bits_takes_the_default)
{
    const IniSnapshot ini = readsOf("[OPT]\r\nA=32767\r\nB=32768\r\nC=-32768\r\nD=-32769\r\nE=70000\r\n");
    EXPECT_EQ(ini.readShort("OPT", "A", 3), 32767);
    EXPECT_EQ(ini.readShort("OPT", "B", 3), 3);
    EXPECT_EQ(ini.readShort("OPT", "C", 3), -32768);
    EXPECT_EQ(ini.readShort("OPT", "D", 3), 3);
    EXPECT_EQ(ini.readShort("OPT", "E", 3), 3) << "must not wrap to 4464";
}

// --- lists ---------------------------------------------------------------------------------------

TEST_F(IniFileTest, list_ends_at_the_first_empty_or_missing_key)
{
    const IniSnapshot ini = readsOf("[IP]\r\n1=10.0.0.1\r\n2=host-b\r\n3=\r\n4=10.0.0.4\r\n"
                           "[KEY]\r\n2 =\t beta \r\n 1= alpha\r\n4=delta\r\n");
    EXPECT_EQ(ini.readList("ip"), QStringList({"10.0.0.1", "host-b"}));
    EXPECT_EQ(ini.readList("KEY"), QStringList({"alpha", "beta"})) << "gaps are not skipped";
    EXPECT_TRUE(ini.readList("NONE").isEmpty());
}

TEST_F(IniFileTest, shorter_list_leaves_stale_keys_beyond_the_end_mark)
{
    IniFile ini = fileWith("[IP]\r\n1=a\r\n2=b\r\n3=c\r\n4=d\r\n5=\r\n[KEY]\r\n1=k\r\n");
    ASSERT_TRUE(ini.writeAll(listWrites("IP", {"x", "y"})));
    EXPECT_EQ(onDisk(), QByteArray("[IP]\r\n1=x\r\n2=y\r\n3=\r\n4=d\r\n5=\r\n[KEY]\r\n1=k\r\n"));
    EXPECT_EQ(reads().readList("IP"), QStringList({"x", "y"}));
}

TEST_F(IniFileTest, list_written_into_a_new_file_carries_its_end_mark)
{
    IniFile ini(path());
    ASSERT_TRUE(ini.writeAll(listWrites("KEY", {QStringLiteral("さん"), "urgent"})));
    EXPECT_EQ(onDisk(), QByteArray("[KEY]\r\n1=\x82\xb3\x82\xf1\r\n2=urgent\r\n3=\r\n"));
    EXPECT_EQ(reads().readList("KEY"), QStringList({QStringLiteral("さん"), "urgent"}));

    ASSERT_TRUE(ini.writeAll(listWrites("KEY", {})));
    EXPECT_TRUE(reads().readList("KEY").isEmpty());
}

// --- writing -------------------------------------------------------------------------------------

TEST_F(IniFileTest, missing_file_is_created_with_crlf_lines)
{
    IniFile ini(path());
    ASSERT_TRUE(ini.write("OPT", "LogChk", "0"));
    EXPECT_EQ(onDisk(), QByteArray("[OPT]\r\nLogChk=0\r\n"));
}

TEST_F(IniFileTest, existing_key_keeps_its_spelling_and_only_its_value_changes)
{
    IniFile ini = fileWith("[opt]\r\nKeyWord=0\r\nLogFile=C:\\old.txt\r\n FT = 3 \nA=\r\r\n");
    setMode(path(), 0640);
    ASSERT_TRUE(ini.write("OPT", "Keyword", "2"));
    ASSERT_TRUE(ini.write("OPT", "LogFile", ""));
    ASSERT_TRUE(ini.write("OPT", "ft", "4"));
    ASSERT_TRUE(ini.write("OPT", "a", "b"));
    EXPECT_EQ(onDisk(), QByteArray("[opt]\r\nKeyWord=2\r\nLogFile=\r\n FT = 4\nA=b\r\r\n"));
    EXPECT_EQ(reads().readShort("OPT", "KeyWord", 0), 2);
    EXPECT_EQ(modeOf(path()), mode_t(0640)) << "the replacement keeps the file's permissions";
}

TEST_F(IniFileTest, writing_the_value_a_key_already_holds_leaves_the_file_untouched)
{
    IniFile ini = fileWith("[OPT]\r\nft = 3\r\n[IP]\r\n1=a\r\n2=\r\n");
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &before), 0);
    ASSERT_TRUE(ini.write("OPT", "FT", "3"));
    ASSERT_TRUE(ini.write("OPT", "FT", " 3 "));
    ASSERT_TRUE(ini.writeAll(listWrites("IP", {"a"})));
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_EQ(onDisk(), QByteArray("[OPT]\r\nft = 3\r\n[IP]\r\n1=a\r\n2=\r\n"));
}

// A CR before the LF belongs to the line end, however many there are, and a bare CR at the end
// of the file is half a line end that a later write completes.
TEST_F(IniFileTest, carriage_returns_before_the_line_feed_belong_to_the_line_end)
{
    struct Case
    {
        QByteArray before;
        const char *section;
        const char *key;
        QByteArray after;
    };
    const Case cases[] = {
        {"[OPT]\r\nFT=3\r", "OPT", "CO", "[OPT]\r\nFT=3\r\nCO=9\r\n"},
        {"[OPT]\r\nFT=3\r", "IP", "1", "[OPT]\r\nFT=3\r\n[IP]\r\n1=9\r\n"},
        {"[OPT]\r\nFT=3\r\r\n", "OPT", "CO", "[OPT]\r\nFT=3\r\r\nCO=9\r\n"},
        {"[OPT]\r\r\nFT=3\r\r\n", "OPT", "FT", "[OPT]\r\r\nFT=9\r\r\n"},
    };
    for (const Case &c : cases) {
        IniFile ini = fileWith(c.before);
        EXPECT_EQ(reads().readShort("OPT", "FT", 0), 3) << c.before.toStdString();
        ASSERT_TRUE(ini.write(c.section, c.key, "9"));
        EXPECT_EQ(onDisk(), c.after) << c.before.toStdString();
    }

    const IniSnapshot ini = readsOf("[OPT]\r\r\nMemberFontBold=True\r\r\nMiss=\xe3\r\r\nUserName=a \r \r\r\n");
    EXPECT_EQ(ini.readText("OPT", "MemberFontBold"), "True");
    EXPECT_EQ(ini.readText("OPT", "UserName"), "a");
}

TEST_F(IniFileTest, new_key_goes_after_the_last_key_of_its_section)
{
    IniFile ini = fileWith("[OPT]\r\nFT=3\r\n; end of options\r\n\r\n[IP]\r\n1=a\r\n");
    ASSERT_TRUE(ini.write("opt", "Miss", "san"));
    EXPECT_EQ(onDisk(),
              QByteArray("[OPT]\r\nFT=3\r\nMiss=san\r\n; end of options\r\n\r\n[IP]\r\n1=a\r\n"));

    IniFile bare = fileWith("[WAVE]\r\n[OPT]\nFT=3");
    ASSERT_TRUE(bare.write("WAVE", "Move", "a.wav"));
    ASSERT_TRUE(bare.write("OPT", "CO", "255"));
    EXPECT_EQ(onDisk(), QByteArray("[WAVE]\r\nMove=a.wav\r\n[OPT]\nFT=3\r\nCO=255\r\n"));
}

TEST_F(IniFileTest, missing_section_is_added_at_the_end)
{
    IniFile ini = fileWith("; settings\r\n[OPT]\r\nFT=3\r\n");
    ASSERT_TRUE(ini.write("POSITION", "X", "1200"));
    EXPECT_EQ(onDisk(), QByteArray("; settings\r\n[OPT]\r\nFT=3\r\n[POSITION]\r\nX=1200\r\n"));

    IniFile unterminated = fileWith("[OPT]\r\nFT=3");
    ASSERT_TRUE(unterminated.write("IP", "1", "h"));
    EXPECT_EQ(onDisk(), QByteArray("[OPT]\r\nFT=3\r\n[IP]\r\n1=h\r\n"));
}

TEST_F(IniFileTest, repeated_section_gets_the_write_in_its_first_occurrence)
{
    IniFile ini = fileWith("[OPT]\r\nFT=1\r\n[X]\r\n[OPT]\r\nFT=2\r\n");
    ASSERT_TRUE(ini.write("OPT", "FT", "5"));
    ASSERT_TRUE(ini.write("OPT", "CO", "9"));
    EXPECT_EQ(onDisk(), QByteArray("[OPT]\r\nFT=5\r\nCO=9\r\n[X]\r\n[OPT]\r\nFT=2\r\n"));
}

TEST_F(IniFileTest, every_untouched_line_is_kept_byte_for_byte)
{
    // Odd spacing, LF-only ends, comments, unknown sections and bytes that are not valid code
    // page 932 must all survive: re-encoding them would change them.
    const QByteArray before = "leading junk\n"
                              "[Custom]\r\n  odd = spacing\t\r\n;comment=1\r\n"
                              "[OPT]\nFT = 3 \nbad=\x80\xff\x82\r\n"
                              "[\x90\xdd\x92\xe8]\r\n\x96\xbc\x91\x4f=\x91\xbe\x98\x59\r\n";
    IniFile ini = fileWith(before);
    ASSERT_TRUE(ini.write("OPT", "ft", "4"));
    ASSERT_TRUE(ini.write("Custom", "New", "v"));
    const QByteArray after = "leading junk\n"
                             "[Custom]\r\n  odd = spacing\t\r\nNew=v\r\n;comment=1\r\n"
                             "[OPT]\nFT = 4\nbad=\x80\xff\x82\r\n"
                             "[\x90\xdd\x92\xe8]\r\n\x96\xbc\x91\x4f=\x91\xbe\x98\x59\r\n";
    EXPECT_EQ(onDisk(), after);
}

TEST_F(IniFileTest, japanese_values_are_stored_as_shift_jis_and_read_back)
{
    IniFile ini(path());
    ASSERT_TRUE(ini.write("OPT", "Miss", QStringLiteral("さん")));
    ASSERT_TRUE(ini.write("OPT", "LogDir", QStringLiteral("/home/taro/表ソ")));
    ASSERT_TRUE(ini.write(QStringLiteral("設定"), QStringLiteral("名前"), QStringLiteral("太郎")));
    EXPECT_EQ(onDisk(), QByteArray("[OPT]\r\nMiss=\x82\xb3\x82\xf1\r\n"
                                   "LogDir=/home/taro/\x95\x5c\x83\x5c\r\n"
                                   "[\x90\xdd\x92\xe8]\r\n\x96\xbc\x91\x4f=\x91\xbe\x98\x59\r\n"));
    EXPECT_EQ(reads().readText("OPT", "Miss"), QStringLiteral("さん"));
    EXPECT_EQ(reads().readText("OPT", "LogDir"), QStringLiteral("/home/taro/表ソ"));
    EXPECT_EQ(reads().readText(QStringLiteral("設定"), QStringLiteral("名前")), QStringLiteral("太郎"));
}

TEST_F(IniFileTest, value_with_line_breaks_cannot_split_its_line)
{
    IniFile ini = fileWith("[OPT]\r\nUserName=a\r\nFT=3\r\n");
    ASSERT_TRUE(ini.write("OPT", "UserName", "x\r\n[EVIL]\r\nFT=9"));
    EXPECT_EQ(reads().readShort("OPT", "FT", 0), 3);
    EXPECT_FALSE(reads().readText("OPT", "UserName").isEmpty());
    EXPECT_EQ(onDisk().count('\n'), 3);
}

TEST_F(IniFileTest, successful_write_leaves_no_temporary_file_behind)
{
    IniFile ini = fileWith("[OPT]\r\nFT=3\r\n");
    ASSERT_TRUE(ini.write("OPT", "FT", "4"));
    ASSERT_TRUE(ini.writeAll(listWrites("IP", {"a"})));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"Vorlan.ini"}));
}

// --- failed writes -------------------------------------------------------------------------------

TEST_F(IniFileTest, write_where_the_folder_is_missing_or_a_file_fails_and_changes_nothing)
{
    const QString folder = m_dir.filePath("absent");
    IniFile nowhere(folder + "/Vorlan.ini");
    EXPECT_FALSE(nowhere.write("OPT", "LogChk", "0"));
    EXPECT_FALSE(nowhere.writeAll(listWrites("IP", {"a"})));
    EXPECT_FALSE(QFileInfo::exists(folder));

    const QString notAFolder = m_dir.filePath("plain");
    writeFile(notAFolder, "content\r\n");
    IniFile ini(notAFolder + "/Vorlan.ini");
    EXPECT_FALSE(ini.write("OPT", "LogChk", "0"));
    EXPECT_EQ(readFile(notAFolder), QByteArray("content\r\n"));
}

// Runs body with the permission bits deciding, as they do for a user: root's power over them is
// given up for the while (the saved user id brings it back).
template<class Body>
auto unprivileged(Body body)
{
    const bool root = ::geteuid() == 0;
    if (root) {
        EXPECT_EQ(::setegid(65534), 0);
        EXPECT_EQ(::seteuid(65534), 0);
    }
    const auto result = body();
    if (root) {
        EXPECT_EQ(::seteuid(0), 0);
        EXPECT_EQ(::setegid(0), 0);
    }
    return result;
}

TEST_F(IniFileTest, fifo_folder_or_oversized_file_gives_defaults_and_is_left_alone)
{
    const QByteArray settings = "[OPT]\r\nFT=5\r\n[IP]\r\n1=a\r\n";
    const QString fifo = m_dir.filePath("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0); // opening it would block
    const QString folder = m_dir.filePath("folder.ini");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString large = m_dir.filePath("large.ini");
    writeFile(large, settings + QByteArray(1024 * 1024, ';'));

    for (const QString &path : {fifo, folder, large}) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray before = QFileInfo(path).isFile() ? readFile(path) : QByteArray();
        EXPECT_EQ(IniSnapshot(path).readShort("OPT", "FT", 3), 3);
        EXPECT_TRUE(IniSnapshot(path).readList("IP").isEmpty());
        IniFile ini(path);
        EXPECT_FALSE(ini.write("OPT", "FT", "4"));
        EXPECT_FALSE(ini.writeAll(listWrites("IP", {"b"})));
        if (QFileInfo(path).isFile()) {
            EXPECT_EQ(readFile(path), before);
        }
    }
    EXPECT_FALSE(QFileInfo(fifo).isFile());
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(IniFileTest, read_only_folder_writes_a_writable_file_in_place_and_leaves_a_read_only_one)
{
    struct Case
    {
        mode_t mode;
        bool written;
        QByteArray after;
    };
    for (const Case &c : {Case{0666, true, "[OPT]\r\nFT=4\r\n"}, Case{0444, false, "[OPT]\r\nFT=3\r\n"}}) {
        IniFile ini = fileWith("[OPT]\r\nFT=3\r\n");
        setMode(path(), c.mode);
        setMode(m_dir.path(), 0555);
        const bool written = unprivileged([&] { return ini.write("OPT", "FT", "4"); });
        setMode(m_dir.path(), 0700);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(onDisk(), c.after);
        EXPECT_EQ(modeOf(path()), c.mode);
        setMode(path(), 0600);
    }
}

} // namespace

TEST_F(IniFileTest, a_burst_of_writes_leaves_the_file_as_the_same_writes_one_by_one)
{
    const QByteArray start = "; kept\r\n[opt]\r\nKeyWord=1\r\n[IP]\r\n1=a\r\n2=b\r\n3=c";
    const QList<vorlan::IniWrite> writes = {
        {"OPT", "Keyword", "2"}, {"IP", "1", "x"}, {"IP", "2", ""}, {"WAVE", "Move", "m.wav"},
        {"OPT", "FT", "10"},     {"OPT", "FT", "5"},
    };
    IniFile single = fileWith(start);
    for (const vorlan::IniWrite &w : writes)
        ASSERT_TRUE(single.write(w.section, w.key, w.value));
    const QByteArray oneByOne = onDisk();

    IniFile burst = fileWith(start);
    ASSERT_TRUE(burst.writeAll(writes));
    EXPECT_EQ(onDisk(), oneByOne);
    EXPECT_EQ(onDisk(), QByteArray("; kept\r\n[opt]\r\nKeyWord=2\r\nFT=5\r\n[IP]\r\n1=x\r\n2=\r\n3=c\r\n"
                                   "[WAVE]\r\nMove=m.wav\r\n"));
}

namespace {

// What a file gives for one key: its text, and the text as a number and as a 16-bit number with
// 7 as the default.
struct Read
{
    QString section;
    QString key;
    QString text;
    qint32 number;
    qint16 shortNumber;
};

// A file with the shapes the rules care about: repeated and differently cased sections and keys,
// blanks, comments, lines that only look like headers, a "]" as the second byte of a Japanese
// character, CR-only ends, no line end at the end. With what it gives for the keys and lists
// that hold something; every other key of the reads below reads as empty, every other list as
// no items.
struct TrickyFile
{
    QByteArray bytes;
    QList<Read> reads;
    QList<std::pair<QString, QStringList>> lists;
};

const QList<TrickyFile> &trickyFiles()
{
    static const QList<TrickyFile> files = {
        {"", {}, {}},
        {"1=before any header\r\n[IP]\r\n1=a\r\n2=b\r\n3=\r\n4=stale",
         {{"IP", "1", "a", 0, 0}},
         {{"IP", {"a", "b"}}, {"ip", {"a", "b"}}}},
        {"[ip]\r\n2=second\r\nv=[not a header]\r\n1=first\r\n ; 3=comment\r\n[Ip]\r\n3=other section",
         {{"IP", "1", "first", 0, 0}},
         {{"IP", {"first", "second"}}, {"ip", {"first", "second"}}}},
        {"  [ OPT ] \r\nFT = 10 \r\nft=20\r\nCO=-5x\r\n[IP\r\n1=still opt\r\n[KEY]\r\n1=k\n2=l\r\r\n",
         {{"OPT", "FT", "10", 10, 10}, {"opt", "ft", "10", 10, 10}, {" OPT ", "CO", "-5x", -5, -5},
          {"OPT", "1", "still opt", 0, 0}, {"KEY", "2", "l", 0, 0}},
         {{"KEY", {"k", "l"}}, {"OPT", {"still opt"}}}},
        {"[OPT]\r\nUserName=" + QByteArray("\x83\x5d\x83\x5d") + "\r\nMiss=\x82\xb3\x82\xf1\r\n"
         "[\x95\x5c]\r\n1=x\r\n[KEY]\r\n1=\x83\x5d\r\n2=\r\n",
         {{"OPT", "UserName", QStringLiteral("ゾゾ"), 0, 0}, {"OPT", "Miss", QStringLiteral("さん"), 0, 0},
          {QStringLiteral("表"), "1", "x", 0, 0}},
         {{"KEY", {QStringLiteral("ゾ")}}}},
        {"[POSITION]\r\nX=99999\r\nY=-70000\r\nW=40000\r\n[OPT]\r\nBeepNormal=1\r\n[OPT]\r\nFT=3",
         {{"POSITION", "X", "99999", 99999, 7}, {"POSITION", "Y", "-70000", -70000, 7},
          {"POSITION", "W", "40000", 40000, 7}, {"OPT", "BeepNormal", "1", 1, 1}},
         {}},
    };
    return files;
}

} // namespace

TEST_F(IniFileTest, tricky_files_read_by_the_rules)
{
    const QList<std::pair<QString, QString>> keys = {
        {"OPT", "FT"}, {"opt", "ft"}, {" OPT ", "CO"}, {"OPT", "UserName"}, {"OPT", "Miss"},
        {"OPT", "BeepNormal"}, {"IP", "1"}, {"ip", "3"}, {"POSITION", "X"}, {"POSITION", "Y"},
        {"POSITION", "W"}, {QStringLiteral("表"), "1"}, {"KEY", "2"}, {"NONE", "1"}, {"OPT", "1"},
    };
    for (const TrickyFile &file : trickyFiles()) {
        SCOPED_TRACE(file.bytes.toStdString());
        const IniSnapshot ini = readsOf(file.bytes);
        for (const auto &[section, key] : keys) {
            Read expected = {section, key, QString(), 7, 7};
            for (const Read &read : file.reads) {
                if (read.section == section && read.key == key)
                    expected = read;
            }
            SCOPED_TRACE(section.toStdString() + "/" + key.toStdString());
            EXPECT_EQ(ini.readText(section, key), expected.text);
            EXPECT_EQ(ini.readNumber(section, key, 7), expected.number);
            EXPECT_EQ(ini.readShort(section, key, 7), expected.shortNumber);
        }
        for (const char *section : {"IP", "ip", "KEY", "OPT", "NONE"}) {
            QStringList expected;
            for (const auto &[name, items] : file.lists) {
                if (name == QLatin1String(section))
                    expected = items;
            }
            EXPECT_EQ(ini.readList(section), expected) << section;
        }
    }
    // A missing file reads as empty, and what is written later does not change a snapshot.
    QFile::remove(path());
    const IniSnapshot none = IniFile(path()).snapshot();
    ASSERT_TRUE(IniFile(path()).write("OPT", "FT", "9"));
    EXPECT_EQ(none.readNumber("OPT", "FT", 3), 3);
    EXPECT_EQ(IniFile(path()).snapshot().readNumber("OPT", "FT", 3), 9);
}

// Writes to one section in a row go in one pass over it; what they leave must not tell.
TEST_F(IniFileTest, bursts_into_one_section_leave_the_file_as_the_same_writes_one_by_one)
{
    const QList<QList<vorlan::IniWrite>> bursts = {
        listWrites("ip", {}),
        listWrites("ip", {"a"}),
        listWrites("ip", {"x", "b", QStringLiteral("新"), "d", "e"}),
        {{"ip", "1", "p"}, {"IP", "1", "q"}, {"Ip", "9", "r"}, {"ip", "9", "s"}, {"ip", "9", "s"}},
        // Keys whose lines read back under another name, or as no key at all.
        {{"ip", "a=b", "1"}, {"ip", "a", "2"}, {"ip", "[x]", "3"}, {"ip", ";c", "4"}, {"ip", "1", "5"}},
        {{QStringLiteral("😀"), "k", "v"}, {QStringLiteral("😀"), "k", "w"}},
    };
    for (const TrickyFile &file : trickyFiles()) {
        for (const QList<vorlan::IniWrite> &burst : bursts) {
            SCOPED_TRACE(file.bytes.toStdString() + " / " + burst.first().key.toStdString());
            IniFile single = fileWith(file.bytes);
            for (const vorlan::IniWrite &w : burst)
                ASSERT_TRUE(single.write(w.section, w.key, w.value));
            const QByteArray oneByOne = onDisk();

            IniFile all = fileWith(file.bytes);
            ASSERT_TRUE(all.writeAll(burst));
            EXPECT_EQ(onDisk(), oneByOne);
        }
    }
}
