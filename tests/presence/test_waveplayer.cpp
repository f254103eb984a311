#include "presence/waveplayer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using vorlan::WavePlayer;

// The sound module is found where the build puts it, beside the program; a folder without it
// leaves the player silent, and play() then does nothing at all.
TEST(WavePlayer, LoadsTheSoundModuleFromTheFirstFolderThatHoldsIt)
{
    QTemporaryDir empty;
    WavePlayer found(nullptr, {empty.path(), QStringLiteral(VORLAN_SOUND_MODULE_BUILT)});
    EXPECT_TRUE(found.available());

    WavePlayer missing(nullptr, {empty.path()});
    missing.play(QStringLiteral("/nowhere/ring.wav"));
    EXPECT_FALSE(missing.available());
    EXPECT_TRUE(missing.children().isEmpty());
}
