#include "settings/settingslocation.h"

#include "support/childprocess.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace vorlan {
namespace {

class SettingsLocation : public ::testing::Test
{
protected:
    QString programDir() const { return m_root.filePath(QStringLiteral("bin")); }
    QString configDir() const { return m_root.filePath(QStringLiteral("home/.config/Vorlan")); }
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(programDir())); }

    // Runs the choice in a child whose view of the program folder is a read-only mount, the way
    // an installed copy sees /usr/bin; a permission bit would not stop root, and CI runs as root.
    // With fileWritable, the existing Vorlan.ini is mounted read-write over the read-only folder.
    // Gives the child's status (0, or CouldNotSetUp where this process may not make mounts) and
    // the path it chose.
    std::pair<int, QString> chooseOnReadOnlyProgramDir(bool fileWritable = false)
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return {-1, {}};
        const int status = test::exitStatusInChild([&] {
            ::close(pipeFds[0]);
            const QByteArray dir = QFile::encodeName(programDir());
            if (::unshare(CLONE_NEWNS) != 0
                || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount(dir.constData(), dir.constData(), nullptr, MS_BIND, nullptr) != 0
                || ::mount(nullptr, dir.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                           nullptr) != 0)
                return test::CouldNotSetUp;
            const QByteArray file = dir + "/Vorlan.ini";
            // A bind mount starts with its source's flags: make it writable again.
            if (fileWritable
                && (::mount(file.constData(), file.constData(), nullptr, MS_BIND, nullptr) != 0
                    || ::mount(nullptr, file.constData(), nullptr, MS_BIND | MS_REMOUNT, nullptr) != 0))
                return test::CouldNotSetUp;
            const QByteArray chosen = settingsFilePath(programDir(), configDir()).toUtf8();
            const ssize_t written = ::write(pipeFds[1], chosen.constData(), size_t(chosen.size()));
            return written == chosen.size() ? 0 : 1;
        });
        ::close(pipeFds[1]);
        QByteArray chosen;
        char buffer[4096];
        for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            chosen.append(buffer, got);
        ::close(pipeFds[0]);
        return {status, QString::fromUtf8(chosen)};
    }

    QTemporaryDir m_root;
};

// Writable program folders: beside the program unless it is an installed prefix's bin.
TEST_F(SettingsLocation, AWritableProgramFolderKeepsTheFileBesideTheProgramUnlessInstalled)
{
    const QString desktopEntry = QStringLiteral("share/applications/org.vorlan.Vorlan.desktop");
    struct Row
    {
        const char *what;
        QString program;     // below the root
        QString menuEntry;   // below the root; empty: none
        bool existingFile;   // a Vorlan.ini beside the program already
        bool beside;
    };
    const Row rows[] = {
        {"a build or portable folder", QStringLiteral("build"), {}, false, true},
        {"a bin folder of no installation", QStringLiteral("bin"), {}, false, true},
        {"an installed prefix", QStringLiteral("bin"), desktopEntry, false, false},
        {"an installed prefix, file from before", QStringLiteral("bin"), desktopEntry, true, true},
        {"another program's menu entry", QStringLiteral("bin"),
         QStringLiteral("share/applications/org.other.Other.desktop"), false, true},
        {"the menu entry, program not in bin", QStringLiteral("libexec"), desktopEntry, false, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir root;
        const QString program = root.filePath(row.program);
        const QString config = root.filePath(QStringLiteral("home/.config/Vorlan"));
        ASSERT_TRUE(QDir().mkpath(program));
        if (!row.menuEntry.isEmpty()) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(root.filePath(row.menuEntry)).path()));
            test::writeFile(root.filePath(row.menuEntry), "[Desktop Entry]\n");
        }
        if (row.existingFile)
            test::writeFile(program + "/Vorlan.ini", "[OPT]\r\nUserName=a\r\n");

        const QString chosen = settingsFilePath(program, config);
        EXPECT_EQ(chosen.toStdString(),
                  ((row.beside ? program : config) + "/Vorlan.ini").toStdString());
        EXPECT_EQ(QDir(config).exists(), !row.beside) << "nothing is made in an unused folder";
        EXPECT_EQ(QDir(program).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  row.existingFile ? QStringList{QStringLiteral("Vorlan.ini")} : QStringList())
            << "the write probe leaves nothing behind";
    }
}

TEST_F(SettingsLocation, AReadOnlyProgramFolderMovesTheFileToTheUsersConfiguration)
{
    const auto [status, chosen] = chooseOnReadOnlyProgramDir();
    VORLAN_SKIP_IF_CHILD_COULD_NOT_SET_UP(status, "needs a private mount namespace (root)");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(chosen.toStdString(), (configDir() + "/Vorlan.ini").toStdString());
    EXPECT_TRUE(QDir(configDir()).exists()) << "the folder is made, so the first save succeeds";
}

TEST_F(SettingsLocation, AWritableFileInAReadOnlyFolderStaysInUse)
{
    // A file the user may write keeps serving even where no new file could be made beside it.
    test::writeFile(programDir() + "/Vorlan.ini", "[OPT]\r\nUserName=a\r\n");
    const auto [status, chosen] = chooseOnReadOnlyProgramDir(true);
    VORLAN_SKIP_IF_CHILD_COULD_NOT_SET_UP(status, "needs a private mount namespace (root)");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(chosen.toStdString(), (programDir() + "/Vorlan.ini").toStdString());
}

} // namespace
} // namespace vorlan
