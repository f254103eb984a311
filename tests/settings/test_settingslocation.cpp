#include "settings/settingslocation.h"

#include "support/childprocess.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
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

TEST_F(SettingsLocation, AWritableProgramFolderKeepsTheFileBesideTheProgram)
{
    EXPECT_EQ(settingsFilePath(programDir(), configDir()).toStdString(),
              (programDir() + "/Vorlan.ini").toStdString());
    EXPECT_FALSE(QDir(configDir()).exists()) << "nothing is created in the user's folder";
    EXPECT_EQ(QDir(programDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList()) << "the write probe leaves nothing behind";
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
