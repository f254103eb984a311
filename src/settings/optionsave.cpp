#include "settings/optionsave.h"

#include "settings/optionrules.h"

namespace vorlan {

namespace {

const QString Opt = QStringLiteral("OPT");

void appendFont(QList<IniWrite> &writes, const QString &prefix, const FontSetting &font)
{
    writes.append({Opt, prefix + QStringLiteral("Name"), font.name});
    writes.append({Opt, prefix + QStringLiteral("Size"), QString::number(font.size)});
    writes.append({Opt, prefix + QStringLiteral("Italic"), flagText(font.italic)});
    writes.append({Opt, prefix + QStringLiteral("Bold"), flagText(font.bold)});
}

} // namespace

QList<IniWrite> optionWrites(const OptionValues &v)
{
    QList<IniWrite> writes;
    writes.append({Opt, QStringLiteral("LogChk"), v.logEnabled ? QStringLiteral("1") : QStringLiteral("0")});
    writes.append({Opt, QStringLiteral("LogDir"), v.logFolder});
    writes.append({Opt, QStringLiteral("FT"), v.flashText});
    writes.append({Opt, QStringLiteral("UserName"), trimSpaces(v.userName)});
    writes.append({Opt, QStringLiteral("Miss"), trimSpaces(v.honorific)});
    writes.append({Opt, QStringLiteral("CO"), QString::number(v.messageColor)});
    writes.append(listWrites(QStringLiteral("IP"), v.addresses));

    static const char *const actionKeys[] = {"Normal", "Keyword", "Specify"};
    for (size_t row = 0; row < 3; ++row)
        writes.append({Opt, QLatin1String(actionKeys[row]), QString::number(v.actions[row])});
    for (size_t row = 0; row < 3; ++row)
        writes.append({Opt, QStringLiteral("Beep") + QLatin1String(actionKeys[row]),
                       QString::number(v.sounds[row])});

    writes.append({QStringLiteral("WAVE"), QStringLiteral("Move"), v.receiveWave});
    writes.append({QStringLiteral("WAVE"), QStringLiteral("Pop"), v.importantWave});
    writes.append(listWrites(QStringLiteral("KEY"), keywordsFromText(v.keywordText)));

    static const char *const iconKeys[] = {"Stand", "Move", "Pop", "Desk"};
    for (size_t i = 0; i < 4; ++i)
        writes.append({QStringLiteral("ICON"), QLatin1String(iconKeys[i]), v.iconFiles[i]});

    appendFont(writes, QStringLiteral("MemberFont"), v.fonts[0]);
    appendFont(writes, QStringLiteral("MessageFont"), v.fonts[1]);
    appendFont(writes, QStringLiteral("SendFont"), v.fonts[2]);
    writes.append({Opt, QStringLiteral("Notify"), v.notify ? QStringLiteral("1") : QStringLiteral("0")});
    writes.append({Opt, QStringLiteral("AutoAway"), QString::number(autoAwayMinutes(v.autoAway))});
    return writes;
}

void applyToRunning(const OptionValues &v, RunningSettings &s, QString &userName)
{
    s.LogEnabled = v.logEnabled ? 1 : 0;
    s.LogFolder = v.logFolder;
    s.FlashMinutes = flashMinutesFromText(v.flashText);
    userName = trimSpaces(v.userName);
    s.Honorific = trimSpaces(v.honorific);
    s.MessageColor = v.messageColor;
    s.NormalAction = v.actions[0];
    s.KeywordAction = v.actions[1];
    s.SpecifyAction = v.actions[2];
    s.NormalSound = v.sounds[0];
    s.KeywordSound = v.sounds[1];
    s.SpecifySound = v.sounds[2];
    s.ReceiveWaveFile = v.receiveWave;
    s.ImportantWaveFile = v.importantWave;
    s.StandIconFile = v.iconFiles[0];
    s.MoveIconFile = v.iconFiles[1];
    s.PopIconFile = v.iconFiles[2];
    s.DeskIconFile = v.iconFiles[3];
    s.Notify = v.notify ? 1 : 0;
    s.AutoAway = autoAwayMinutes(v.autoAway);
}

} // namespace vorlan
