#pragma once

#include "app/mainwindow.h"
#include "support/testsupport.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace vorlan::test {

// A temporary folder holding Vorlan.ini, and main windows built on it that are never started: no
// socket. They read the fake clock, and what their message boxes would say is kept.
class SettingsFolderTest : public ::testing::Test
{
protected:
    void SetUp() override;

    QString path(const QString &name) const;
    QString iniPath() const;
    // Writes the settings file as it is stored: code page 932.
    void writeIni(const QString &text) const;
    std::unique_ptr<MainWindow> newWindow();

    QTemporaryDir m_dir;
    FakeClock m_clock;
    QStringList m_messages;
};

} // namespace vorlan::test
