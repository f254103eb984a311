#include "app/commandline.h"

#include <array>
#include <string_view>

namespace vorlan {

namespace {

constexpr char Usage[] =
    "Usage: vorlan [PORT]\n"
    "Vorlan - 簡易チャットシステム: a serverless chat for one local network.\n"
    "\n"
    "  PORT       the UDP port all peers share, 1 to 65535 (default 8888;\n"
    "             empty, 0 or not a number also give 8888)\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, -reverse, ...) are passed to Qt;\n"
    "any other option is refused.\n"
    "\n"
    "Settings are kept in Vorlan.ini beside the program when that folder can be\n"
    "written, otherwise in ~/.config/Vorlan/Vorlan.ini.\n";

// The options Qt takes from the command line (the application, its widgets and the platform
// plugins), as Qt spells them with one dash; it also takes them with two.
constexpr std::array<std::string_view, 16> QtOptionsWithValue = {
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
    "-qwindowtitle", "-qwindowicon", "-geometry", "-title", "-icon", "-session", "-style",
    "-stylesheet", "-display", "-name", "-visual"};
constexpr std::array<std::string_view, 5> QtFlags = {"-reverse", "-widgetcount", "-testability",
                                                     "-nograb", "-dograb"};
constexpr std::array<std::string_view, 3> QtOptionsWithJoinedValue = {"-style=", "-stylesheet=",
                                                                      "-qmljsdebugger="};

template <std::size_t N>
bool listed(const std::array<std::string_view, N> &names, const QString &option)
{
    for (const std::string_view name : names) {
        if (option == QLatin1String(name.data(), qsizetype(name.size())))
            return true;
    }
    return false;
}

bool hasJoinedValue(const QString &option)
{
    for (const std::string_view prefix : QtOptionsWithJoinedValue) {
        if (option.startsWith(QLatin1String(prefix.data(), qsizetype(prefix.size()))))
            return true;
    }
    return false;
}

} // namespace

const char *usageText()
{
    return Usage;
}

bool isOption(const QString &argument)
{
    if (!argument.startsWith(u'-'))
        return false;
    return argument.size() == 1 || !(argument[1].isDigit() || argument[1] == u'.');
}

CommandLineRequest readCommandLine(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return CommandLineRequest::Help;
        if (argument == QLatin1String("--version"))
            return CommandLineRequest::Version;
        if (!isOption(argument))
            continue;
        const QString option = argument.startsWith(QLatin1String("--")) ? argument.mid(1) : argument;
        if (listed(QtOptionsWithValue, option))
            ++i; // its value, whatever it looks like
        else if (!listed(QtFlags, option) && !hasJoinedValue(option))
            return CommandLineRequest::Refused;
    }
    return CommandLineRequest::Run;
}

} // namespace vorlan
