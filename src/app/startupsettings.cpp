#include "app/startupsettings.h"

#include "app/mainwindow.h"
#include "app/mainwindowlayout.h"
#include "app/twips.h"
#include "base/regularfile.h"
#include "roster/memberlist.h"
#include "settings/inifile.h"
#include "settings/optionrules.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

#include <algorithm>
#include <array>
#include <limits>

// The icons live in a static library: nothing would pull their resource object into the program.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace vorlan {

namespace {

const QString Opt = QStringLiteral("OPT");
const QString Position = QStringLiteral("POSITION");

constexpr char ColumnTwipsProperty[] = "vorlanColumnTwips";
constexpr int DefaultColumnTwips = 1440;

QWidget *control(MainWindow &window, const char *name)
{
    QWidget *widget = window.findChild<QWidget *>(QLatin1String(name));
    Q_ASSERT_X(widget, "control", name);
    return widget;
}

qint16 toShort(qreal value)
{
    return qint16(std::clamp<qint64>(qRound64(value), std::numeric_limits<qint16>::min(),
                                     std::numeric_limits<qint16>::max()));
}

// Section POSITION: every key defaults to what the window shows now, so a missing key leaves
// its control where it is. Absurd numbers are held inside what twips arithmetic can add.
class PositionReader
{
public:
    explicit PositionReader(const IniSnapshot &ini) : m_ini(ini) {}

    int operator()(const char *key, int current) const
    {
        return clampTwips(m_ini.readNumber(Position, QLatin1String(key), current));
    }

    // A width or height: nothing is less than empty.
    int extent(const char *key, int current) const
    {
        return std::max(0, (*this)(key, current));
    }

    bool has(const char *key) const
    {
        return !m_ini.readText(Position, QLatin1String(key)).isEmpty();
    }

private:
    const IniSnapshot &m_ini;
};

// A state icon from its ICON key; when the file gives no picture the box keeps what it
// holds and the running path is emptied.
bool loadStateIcon(const IniSnapshot &ini, const char *key, QIcon &box, QString &runningPath)
{
    const QString path = ini.readText(QStringLiteral("ICON"), QLatin1String(key));
    const std::optional<QIcon> icon = loadIconFile(path);
    if (!icon) {
        runningPath.clear();
        return false;
    }
    box = *icon;
    runningPath = path;
    return true;
}

// X, Y, W and H are the outer frame, as the desktop peers' files hold them.
void applyWindowGeometry(MainWindow &window, const PositionReader &read)
{
    MainWindowLayout &layout = window.windowLayout();
    const QRect frame = layout.frameTwips();
    // Without a stored position the window manager places the window, as on any first start;
    // without a stored size the client area keeps its design size, whatever the frame adds.
    layout.restoreFrame(QRect(read("X", frame.x()), read("Y", frame.y()), read("W", frame.width()),
                              read("H", frame.height())),
                        read.has("X") || read.has("Y"), read.has("W") || read.has("H"));
}

void applyControlGeometry(MainWindow &window, const PositionReader &read)
{
    QWidget *lvMember = control(window, "lvMember");
    QRect g = twipsGeometry(lvMember);
    setTwipsGeometry(lvMember, QRect(g.x(), read("LY", g.y()), read.extent("LW", g.width()),
                                     read.extent("LH", g.height())));

    QWidget *splitter = control(window, "imgResize2");
    g = twipsGeometry(splitter);
    setTwipsGeometry(splitter, QRect(g.x(), read("2Y", g.y()), read.extent("2W", g.width()), g.height()));

    // The button row runs from comExit leftwards; EL and DL fix the step between neighbours.
    const std::array<QWidget *, 7> row = {
        control(window, "comExit"), control(window, "comDesk"),   control(window, "comFree"),
        control(window, "comReload"), control(window, "comLog"), control(window, "comInfo"),
        control(window, "comOption")};
    std::array<int, 7> left{};
    g = twipsGeometry(row[0]);
    const int top = read("EY", g.y());
    left[0] = read("EL", g.x());
    left[1] = read("DL", twipsGeometry(row[1]).x());
    for (size_t i = 2; i < row.size(); ++i)
        left[i] = clampTwips(2 * qint64(left[i - 1]) - left[i - 2]);
    for (size_t i = 0; i < row.size(); ++i) {
        g = twipsGeometry(row[i]);
        setTwipsGeometry(row[i], QRect(left[i], top, g.width(), g.height()));
    }

    QWidget *view = control(window, "rtfHomeMessage");
    g = twipsGeometry(view);
    setTwipsGeometry(view, QRect(g.x(), read("HY", g.y()), read.extent("HW", g.width()),
                                 read.extent("HH", g.height())));

    QWidget *send = control(window, "txtSend");
    g = twipsGeometry(send);
    setTwipsGeometry(send, QRect(g.x(), read("SY", g.y()), read.extent("SW", g.width()), g.height()));

    QWidget *credit = control(window, "lblCopyright");
    g = twipsGeometry(credit);
    setTwipsGeometry(credit, QRect(g.x(), read("CY", g.y()), read.extent("CW", g.width()), g.height()));

    // The column widths do not default to the design: a file without them gives 1440 each.
    MemberList &list = *window.lvMember();
    for (int column = 0; column < MemberList::ColumnCount; ++column) {
        const QByteArray key = "M" + QByteArray::number(column + 1);
        setColumnTwips(list, column, read.extent(key.constData(), DefaultColumnTwips));
    }
}

// Logging used to go to one file named by LogFile; it now goes to a folder, which the
// user has to choose again.
void migrateOldLogSetting(MainWindow &window, IniSnapshot &read)
{
    IniFile &ini = window.settingsFile();
    RunningSettings &settings = window.settings();
    const QString logFile = read.readText(Opt, QStringLiteral("LogFile"));
    if (settings.LogEnabled != 1 || logFile.isEmpty())
        return;
    window.showMessage(QStringLiteral("ログの記録先をファイルからディレクトリに変更しました.\r\n"
                                      "改めて「オプション」にてログを記録するフォルダを指定してください."));
    settings.LogEnabled = 0;
    settings.LogFolder.clear();
    ini.write(Opt, QStringLiteral("LogChk"), QStringLiteral("0"));
    ini.write(Opt, QStringLiteral("LogFile"), QString());
    read = ini.snapshot();
}

// The log folder, and today's log when logging is on.
void openLog(MainWindow &window, IniSnapshot &read)
{
    IniFile &ini = window.settingsFile();
    RunningSettings &settings = window.settings();
    settings.LogFolder = read.readText(Opt, QStringLiteral("LogDir"));
    if (settings.LogFolder.isEmpty()) {
        settings.LogEnabled = 0;
        // Also what creates the settings file on the very first start.
        ini.write(Opt, QStringLiteral("LogChk"), QStringLiteral("0"));
        read = ini.snapshot();
    }
    if (settings.LogEnabled != 1)
        return;
    if (!window.logWriter().open(settings.LogFolder)) {
        // LogChk stays as stored: the next start tries the folder again.
        window.showMessage(QStringLiteral("ログを保存できません。設定したログファイル名を見直してください。"));
        settings.LogEnabled = 0;
    }
}

// The font of one control: what the file names is applied, then the running setting records the
// font the control actually got.
void applyFont(const IniSnapshot &ini, QWidget *target, const QString &prefix, FontSetting &running)
{
    QFont font = target->font();
    const QString name = ini.readText(Opt, prefix + QStringLiteral("Name"));
    if (!name.isEmpty())
        font.setFamily(name);
    const qint16 size = ini.readShort(Opt, prefix + QStringLiteral("Size"), 0);
    // 0 keeps the design size; a negative size is no size at all and keeps it too.
    if (size > 0)
        font.setPointSize(size);
    font.setItalic(ini.readText(Opt, prefix + QStringLiteral("Italic")) == QLatin1String("True"));
    font.setBold(ini.readText(Opt, prefix + QStringLiteral("Bold")) == QLatin1String("True"));
    target->setFont(font);

    const QFont applied = target->font();
    const QFontInfo actual = target->fontInfo();
    running.name = actual.family();
    running.size = toShort(applied.pointSizeF() > 0 ? applied.pointSizeF() : actual.pointSizeF());
    running.italic = applied.italic();
    running.bold = applied.bold();
}

QString iconResource(StateIcon which, int size)
{
    static const char *const names[] = {"standing", "received", "important", "away"};
    return QStringLiteral(":/icons/%1-%2.png").arg(QLatin1String(names[int(which)])).arg(size);
}

} // namespace

QIcon builtInIcon(StateIcon which)
{
    static const bool registered = (initIconResources(), true);
    Q_UNUSED(registered);
    QIcon icon;
    // Read as PNG only: a reader allowed to detect the format loads every image-format plugin
    // on the system (and their libraries) to ask each, a good part of the start-up time.
    for (const int size : {16, 32}) {
        QImageReader reader(iconResource(which, size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

std::optional<QIcon> loadIconFile(const QString &path)
{
    if (!isRegularFile(path))
        return std::nullopt;
    QImageReader reader(path);
    // An ICO file holds several sizes; keep them all so each use picks the one that fits.
    QIcon icon;
    QImage image;
    do {
        if (!reader.read(&image) || image.isNull())
            break;
        icon.addPixmap(QPixmap::fromImage(image));
    } while (reader.jumpToNextImage());
    if (icon.isNull())
        return std::nullopt;
    return icon;
}

int columnTwips(const MemberList &list, int column)
{
    const QHeaderView *header = list.header();
    const qreal dpi = list.logicalDpiY();
    const int pixels = header->sectionSize(column);
    const QVariantList stored = header->property(ColumnTwipsProperty).toList();
    if (column < stored.size() && stored[column].isValid()) {
        const int twips = stored[column].toInt();
        // The stretched last column's width follows the window: what was read is what is kept.
        if (header->stretchLastSection() && column == header->count() - 1)
            return twips;
        // The user may have dragged the column since; then its pixels are the truth.
        if (std::max(0, twipsToPixels(twips, dpi)) == pixels)
            return twips;
    }
    return pixelsToTwips(pixels, dpi);
}

void setColumnTwips(MemberList &list, int column, int twips)
{
    QHeaderView *header = list.header();
    QVariantList stored = header->property(ColumnTwipsProperty).toList();
    while (stored.size() <= column)
        stored.append(QVariant());
    stored[column] = twips;
    header->setProperty(ColumnTwipsProperty, stored);
    // The stretched last column never gets narrower than the size it is given: give it the least.
    const bool stretched = header->stretchLastSection() && column == header->count() - 1;
    header->resizeSection(column, stretched ? header->minimumSectionSize()
                                            : std::max(0, twipsToPixels(twips, list.logicalDpiY())));
}

void applyStartupSettings(MainWindow &window)
{
    // The file is read once for the whole phase; the few writes below read it again.
    IniSnapshot ini = window.settingsFile().snapshot();
    RunningSettings &settings = window.settings();

    // The state icons. The boxes start with the built-in artwork; a usable ICON file
    // replaces it. An away icon that cannot be loaded follows the standing icon.
    window.picVorlan = builtInIcon(StateIcon::Standing);
    window.picReserve = builtInIcon(StateIcon::ReceivedMessage);
    window.picPop = builtInIcon(StateIcon::ImportantMessage);
    window.picDesk = builtInIcon(StateIcon::Away);
    loadStateIcon(ini, "Stand", window.picVorlan, settings.StandIconFile);
    loadStateIcon(ini, "Move", window.picReserve, settings.MoveIconFile);
    loadStateIcon(ini, "Pop", window.picPop, settings.PopIconFile);
    if (!loadStateIcon(ini, "Desk", window.picDesk, settings.DeskIconFile)) {
        window.picDesk = window.picVorlan;
        settings.DeskIconFile = settings.StandIconFile;
    }

    // The title bar shows the standing icon.
    window.setWindowIcon(window.picVorlan);

    // Sounds. Whether the wave files exist is found out when they are played.
    settings.ReceiveWaveFile = ini.readText(QStringLiteral("WAVE"), QStringLiteral("Move"));
    settings.ImportantWaveFile = ini.readText(QStringLiteral("WAVE"), QStringLiteral("Pop"));
    settings.NormalSound = ini.readShort(Opt, QStringLiteral("BeepNormal"), 0);
    settings.KeywordSound = ini.readShort(Opt, QStringLiteral("BeepKeyWord"), 0);
    settings.SpecifySound = ini.readShort(Opt, QStringLiteral("BeepSpecify"), 0);

    // Geometry. The window first (its resize rules move the panes), then the controls.
    const PositionReader position(ini);
    applyWindowGeometry(window, position);
    applyControlGeometry(window, position);
    window.windowLayout().bringOntoScreen();

    settings.FlashMinutes = ini.readShort(Opt, QStringLiteral("FT"), 3);
    settings.Notify = ini.readShort(Opt, QStringLiteral("Notify"), 1);
    settings.AutoAway = autoAwayMinutes(ini.readNumber(Opt, QStringLiteral("AutoAway"), 0));
    settings.MessageColor = ini.readNumber(Opt, QStringLiteral("CO"), 0);
    window.identity().userName = fitUserName(ini.readText(Opt, QStringLiteral("UserName")));
    settings.LogEnabled = ini.readShort(Opt, QStringLiteral("LogChk"), 0);

    // Logging. A log that cannot be opened only switches logging off; the rest of the
    // settings still apply.
    migrateOldLogSetting(window, ini);
    openLog(window, ini);

    // Peer addresses, alert actions, keywords, honorific.
    window.lstIP().append(ini.readList(QStringLiteral("IP")));
    settings.NormalAction = ini.readShort(Opt, QStringLiteral("Normal"), 0);
    settings.KeywordAction = ini.readShort(Opt, QStringLiteral("KeyWord"), 0);
    settings.SpecifyAction = ini.readShort(Opt, QStringLiteral("Specify"), 0);
    window.lstPopup().append(ini.readList(QStringLiteral("KEY")));
    settings.Honorific = ini.readText(Opt, QStringLiteral("Miss"));

    // Fonts.
    applyFont(ini, control(window, "lvMember"), QStringLiteral("MemberFont"), settings.MemberFont);
    applyFont(ini, control(window, "rtfHomeMessage"), QStringLiteral("MessageFont"), settings.MessageFont);
    applyFont(ini, control(window, "txtSend"), QStringLiteral("SendFont"), settings.SendFont);
}

QList<QPair<QString, QString>> positionEntries(MainWindow &window)
{
    QList<QPair<QString, QString>> entries;
    const auto add = [&entries](const char *key, int twips) {
        entries.append({QLatin1String(key), QString::number(twips)});
    };
    const QRect frame = window.outerFrameTwips();
    add("X", frame.x());
    add("Y", frame.y());
    add("W", frame.width());
    add("H", frame.height());

    const QRect list = twipsGeometry(control(window, "lvMember"));
    add("LY", list.y());
    add("LW", list.width());
    add("LH", list.height());
    const QRect splitter = twipsGeometry(control(window, "imgResize2"));
    add("2Y", splitter.y());
    add("2W", splitter.width());
    const QRect exit = twipsGeometry(control(window, "comExit"));
    add("EY", exit.y());
    add("EL", exit.x());
    const QRect desk = twipsGeometry(control(window, "comDesk"));
    add("DY", desk.y());
    add("DL", desk.x());
    const QRect view = twipsGeometry(control(window, "rtfHomeMessage"));
    add("HY", view.y());
    add("HW", view.width());
    add("HH", view.height());
    const QRect send = twipsGeometry(control(window, "txtSend"));
    add("SY", send.y());
    add("SW", send.width());
    const QRect credit = twipsGeometry(control(window, "lblCopyright"));
    add("CY", credit.y());
    add("CW", credit.width());

    const MemberList &members = *window.lvMember();
    for (int column = 0; column < MemberList::ColumnCount; ++column) {
        const QByteArray key = "M" + QByteArray::number(column + 1);
        add(key.constData(), columnTwips(members, column));
    }
    return entries;
}

void saveWindowGeometry(MainWindow &window)
{
    // A Wayland window is placed by the compositor and never learns where: the position stored
    // before (by a session on X11, say) stays as it was.
    const bool placedByCompositor = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    // The 26 keys in their order, written with one rewrite of the file.
    QList<IniWrite> writes;
    for (const auto &[key, value] : positionEntries(window)) {
        if (placedByCompositor && (key == QLatin1String("X") || key == QLatin1String("Y")))
            continue;
        writes.append({Position, key, value});
    }
    window.settingsFile().writeAll(writes);
}

} // namespace vorlan
