#pragma once

#include <QString>
#include <QStringList>

namespace vorlan {

// The rules the options dialog's fields follow while the user edits them, kept free of widgets.

// Blanks (U+0020) removed at both ends, as the desktop peers trim names and addresses; other
// white space, the ideographic space included, is part of the text.
QString trimSpaces(const QString &text);

// The number a field's text stands for: blanks, an optional sign and the digits up to the first
// other character; text without a leading number is 0. Clamped to the 32-bit range.
qint32 leadingNumber(QStringView text);

// txtFlash after any change: a value below 0 or above 10 becomes "10"; everything else, the
// empty text included, stays as it is.
QString flashFieldText(const QString &text);
// FlashMinutes from the field's text (empty gives 0).
qint16 flashMinutesFromText(const QString &text);

// comAddIp: appends the trimmed text unless it is empty or already listed (exact, case
// significant). Returns whether the list changed.
bool addAddress(QStringList &list, const QString &typed);

// txtPopup from the keyword list: every keyword followed by CR LF.
QString keywordTextFromList(const QStringList &keywords);
// The keyword list from txtPopup: one final CR LF dropped, then one keyword per line; blank
// lines give empty keywords, an empty text none.
QStringList keywordsFromText(QString text);

// The sound of a receive-action row from its three boxes, the last checked box in the order
// Beep, 受信Wave, 重要Wave winning: 0 none, 1 beep, 2 receive wave, 3 important wave.
qint16 soundFromBoxes(bool beep, bool receiveWave, bool importantWave);
// The option button a stored action selects: 0, 1 or 2; anything else shows as 0.
int actionButton(qint16 action);

// The user name goes into the header of every message, where "," separates the fields: a
// comma in it would shift every receiver's reading of this member. Peers also read back at
// most 126 bytes of it.
constexpr int UserNameTypedLength = 10;
constexpr int UserNameMaxBytes = 126;
// The stored name as the field shows it: commas removed, cut to 126 bytes of code page 932.
QString userNameFieldText(const QString &stored);
// Whether txtUserName takes an edit giving this text: no comma, at most 126 bytes.
bool userNameAcceptable(const QString &text);
// The most characters the field takes: 10, or the stored name's length when that is longer,
// so that opening the dialog never cuts a name.
int userNameMaxLength(const QString &fieldText);

// OPT/AutoAway as the program runs with it: 0 (never) to 120 minutes; a stored value outside
// that range is taken as the nearest end.
constexpr int AutoAwayMaxMinutes = 120;
qint16 autoAwayMinutes(qint32 stored);

// "True" or "False", as the settings file holds flags.
QString flagText(bool value);

} // namespace vorlan
