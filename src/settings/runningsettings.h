#pragma once

#include <QString>

namespace vorlan {

struct FontSetting
{
    QString name;
    qint16 size = 0;
    bool italic = false;
    bool bold = false;
};

// The settings the program runs with, read at start-up (the user name lives in the identity).
struct RunningSettings
{
    QString StandIconFile;
    QString MoveIconFile;
    QString PopIconFile;
    QString DeskIconFile;
    QString ReceiveWaveFile;
    QString ImportantWaveFile;
    qint16 NormalSound = 0;
    qint16 KeywordSound = 0;
    qint16 SpecifySound = 0;
    qint16 FlashMinutes = 3;
    qint32 MessageColor = 0;
    qint16 LogEnabled = 0;
    QString LogFolder;
    qint16 NormalAction = 0;
    qint16 KeywordAction = 0;
    qint16 SpecifyAction = 0;
    QString Honorific;
    FontSetting MemberFont;
    FontSetting MessageFont;
    FontSetting SendFont;
    // OPT/Notify: a desktop notification for alerts that blink (peers of the other platform
    // ignore the key).
    qint16 Notify = 1;
    // OPT/AutoAway: minutes without input after which the user is shown away, 0 for never
    // (peers of the other platform ignore the key).
    qint16 AutoAway = 0;
};

} // namespace vorlan
