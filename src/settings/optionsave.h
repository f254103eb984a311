#pragma once

#include "settings/inifile.h"
#include "settings/runningsettings.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace vorlan {

// Everything the options dialog hands back on "Ok", taken from its controls.
struct OptionValues
{
    bool logEnabled = false;
    QString logFolder;         // txtLogFileName as typed
    QString flashText;         // txtFlash as typed
    QString userName;          // txtUserName, untrimmed
    QString honorific;         // txtMiss, untrimmed
    qint32 messageColor = 0;   // lblMessageColor
    QStringList addresses;     // the dialog's lstIP
    std::array<qint16, 3> actions{};  // normal, keyword, specify
    std::array<qint16, 3> sounds{};   // normal, keyword, specify
    QString receiveWave;       // txtMoveWavename
    QString importantWave;     // txtPopWavename
    QString keywordText;       // txtPopup, lines ended by CR LF
    std::array<QString, 4> iconFiles; // stand, move, pop, desk, as typed
    // The fonts come from the running settings, where the font pickers put them.
    std::array<FontSetting, 3> fonts; // member, message, send
    bool notify = true;        // chkNotify
    qint16 autoAway = 0;       // spnAutoAway, minutes
};

// Every write of "Ok", in the order peers' programs write them: the log keys, FT, the names,
// the colour, the address list with its end mark, actions and sounds, the wave files, the
// keyword list with its end mark, the icons and the twelve font keys; then Notify and AutoAway,
// which only this program reads, last, so that the others' keys keep their order.
QList<IniWrite> optionWrites(const OptionValues &values);

// The running settings (and the user's name) as "Ok" leaves them.
void applyToRunning(const OptionValues &values, RunningSettings &settings, QString &userName);

} // namespace vorlan
