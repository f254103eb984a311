#include "app/optionshandover.h"

#include "app/mainwindow.h"
#include "app/startupsettings.h"
#include "away/autoaway.h"
#include "conversation/conversationview.h"
#include "roster/memberlist.h"

#include <QFileInfo>

namespace vorlan {

namespace {

QFont fontOf(const QFont &current, const FontSetting &setting)
{
    QFont font = current;
    if (!setting.name.isEmpty())
        font.setFamily(setting.name);
    if (setting.size > 0)
        font.setPointSize(setting.size);
    font.setItalic(setting.italic);
    font.setBold(setting.bold);
    return font;
}

// The lines already shown take the new font too, each keeping its colour; the view goes back
// to the end with nothing selected.
void applyConversationFont(ConversationView &view, const FontSetting &setting)
{
    view.setFont(fontOf(view.font(), setting));
    view.showEnd();
}

} // namespace

OptionsHost optionsHostFor(MainWindow &window)
{
    OptionsHost host;
    host.settings = &window.settings();
    host.userName = &window.identity().userName;
    host.ini = &window.settingsFile();
    host.log = &window.logWriter();
    host.lstIP = window.lstIP();
    host.lstPopup = window.lstPopup();
    host.pictures = {window.picVorlan, window.picReserve, window.picPop, window.picDesk};
    host.fonts = {window.lvMember()->font(), window.rtfHomeMessage()->font(), window.txtSend()->font()};
    host.programFolder = QFileInfo(window.IniPath()).absolutePath();
    host.autoAwayUnavailable = window.autoAway().unavailable();
    host.imgWork = [](const QString &path) { return loadIconFile(path); };
    host.conversationText = [&window] { return window.rtfHomeMessage()->conversationText(); };
    host.showMessage = [&window](const QString &text) { window.showMessage(text); };
    host.apply = [&window](const OptionsApplied &applied) { applyOptions(window, applied); };
    return host;
}

void applyOptions(MainWindow &window, const OptionsApplied &applied)
{
    window.lstIP() = applied.lstIP;
    window.lstPopup() = applied.lstPopup;
    window.picVorlan = applied.pictures[0];
    window.picReserve = applied.pictures[1];
    window.picPop = applied.pictures[2];
    window.picDesk = applied.pictures[3];
    // The title bar shows the state the user is in.
    const bool away = window.identity().deskFlag == QLatin1String("1");
    window.setWindowIcon(away ? window.picDesk : window.picVorlan);

    const RunningSettings &s = window.settings();
    window.lvMember()->setFont(fontOf(window.lvMember()->font(), s.MemberFont));
    applyConversationFont(*window.rtfHomeMessage(), s.MessageFont);
    window.txtSend()->setFont(fontOf(window.txtSend()->font(), s.SendFont));
    window.autoAway().setMinutes(s.AutoAway);
}

void centreOver(QWidget &dialog, const QWidget &window)
{
    const QRect outer = window.frameGeometry();
    // A dialog not shown yet has no frame: it gets the decorations the window has. A move places
    // its outer frame.
    QSize size = dialog.frameGeometry().size();
    if (!dialog.isVisible()) {
        const QRect client = window.geometry();
        size = dialog.size().grownBy(QMargins(client.left() - outer.left(), client.top() - outer.top(),
                                              outer.right() - client.right(), outer.bottom() - client.bottom()));
    }
    dialog.move(outer.left() + (outer.width() - size.width()) / 2,
                outer.top() + (outer.height() - size.height()) / 2);
}

} // namespace vorlan
