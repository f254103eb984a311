#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>

class QWidget;

namespace vorlan {

// What a file picker of the options dialog asks for.
struct FilePickRequest
{
    QString title;         // "Select Icon file name", ...
    QString filter;        // "アイコン ファイル (*.ico)", ...
    QString defaultSuffix; // "ico", ...
    QString startFolder;   // used when preset is empty
    QString preset;        // the file the dialog starts on
};

// The system dialogs the options dialog opens. Each returns the chosen value, or nothing when
// the user cancelled.
class OptionPickers
{
public:
    virtual ~OptionPickers() = default;
    virtual std::optional<QString> pickFile(QWidget *parent, const FilePickRequest &request) = 0;
    virtual std::optional<QFont> pickFont(QWidget *parent, const QFont &initial) = 0;
    virtual std::optional<QColor> pickColor(QWidget *parent, const QColor &initial) = 0;
    virtual std::optional<QString> pickFolder(QWidget *parent, const QString &start) = 0;
};

// Qt's file, font, colour and folder dialogs.
class QtOptionPickers final : public OptionPickers
{
public:
    std::optional<QString> pickFile(QWidget *parent, const FilePickRequest &request) override;
    std::optional<QFont> pickFont(QWidget *parent, const QFont &initial) override;
    std::optional<QColor> pickColor(QWidget *parent, const QColor &initial) override;
    std::optional<QString> pickFolder(QWidget *parent, const QString &start) override;
};

} // namespace vorlan
