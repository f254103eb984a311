#pragma once

#include <QStringList>

namespace vorlan {

struct RunningSettings;

enum class AlertClass { Normal, KeyWord, Specify };
enum class AlertAction { None, ReceivedIcon, ImportantIcon, PopUp };
enum class AlertSound { None, Beeps, ReceiveWave, ImportantWave };

// What an incoming line asks of the user's attention, by the settings of its class.
struct AlertPlan
{
    AlertClass alertClass = AlertClass::Normal;
    AlertAction action = AlertAction::None;
    AlertSound sound = AlertSound::None;

    bool operator==(const AlertPlan &) const = default;
};

// A directed line (101) is addressed to the user whatever it says; any other line is a keyword
// line when one of the keywords occurs in it exactly as written.
AlertClass classifyAlert(QStringView code, const QString &payload, const QStringList &keywords);

AlertPlan planAlert(QStringView code, const QString &payload, const QStringList &keywords,
                    const RunningSettings &settings);

} // namespace vorlan
