#include "presence/alertplan.h"

#include "protocol/message.h"
#include "settings/runningsettings.h"

namespace vorlan {

namespace {

// The stored values are what the options dialog writes; a hand-edited file may hold others,
// which ask for nothing.
AlertAction actionFor(qint16 value)
{
    switch (value) {
    case 0: return AlertAction::ReceivedIcon;
    case 1: return AlertAction::ImportantIcon;
    case 2: return AlertAction::PopUp;
    default: return AlertAction::None;
    }
}

AlertSound soundFor(qint16 value)
{
    switch (value) {
    case 1: return AlertSound::Beeps;
    case 2: return AlertSound::ReceiveWave;
    case 3: return AlertSound::ImportantWave;
    default: return AlertSound::None;
    }
}

} // namespace

AlertClass classifyAlert(QStringView code, const QString &payload, const QStringList &keywords)
{
    if (code == Code::DirectedChat)
        return AlertClass::Specify;
    for (const QString &keyword : keywords) {
        // An empty keyword is found in every line, the empty one included.
        if (keyword.isEmpty() || payload.contains(keyword, Qt::CaseSensitive))
            return AlertClass::KeyWord;
    }
    return AlertClass::Normal;
}

AlertPlan planAlert(QStringView code, const QString &payload, const QStringList &keywords,
                    const RunningSettings &settings)
{
    AlertPlan plan;
    plan.alertClass = classifyAlert(code, payload, keywords);
    switch (plan.alertClass) {
    case AlertClass::Normal:
        plan.action = actionFor(settings.NormalAction);
        plan.sound = soundFor(settings.NormalSound);
        break;
    case AlertClass::KeyWord:
        plan.action = actionFor(settings.KeywordAction);
        plan.sound = soundFor(settings.KeywordSound);
        break;
    case AlertClass::Specify:
        plan.action = actionFor(settings.SpecifyAction);
        plan.sound = soundFor(settings.SpecifySound);
        break;
    }
    return plan;
}

} // namespace vorlan
