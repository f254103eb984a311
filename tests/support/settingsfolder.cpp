#include "support/settingsfolder.h"

#include "base/codec.h"

namespace vorlan::test {

void SettingsFolderTest::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
}

QString SettingsFolderTest::path(const QString &name) const
{
    return m_dir.filePath(name);
}

QString SettingsFolderTest::iniPath() const
{
    return path(QStringLiteral("Vorlan.ini"));
}

void SettingsFolderTest::writeIni(const QString &text) const
{
    writeFile(iniPath(), encodeCp932(text));
}

std::unique_ptr<MainWindow> SettingsFolderTest::newWindow()
{
    MainWindowOptions options;
    options.iniPath = iniPath();
    options.clock = &m_clock;
    auto window = std::make_unique<MainWindow>(options);
    window->setMessagePresenter([this](const QString &text, QMessageBox::Icon) { m_messages.append(text); });
    return window;
}

} // namespace vorlan::test
