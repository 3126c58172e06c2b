#include "widgets/qtdialogs.h"

#include "core/appinfo.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCompleter>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace {

QList<QMessageBox::StandardButton> buttonsFor(Dialogs::Style style)
{
    if (style == Dialogs::YesNo)
        return {QMessageBox::Yes, QMessageBox::No};
    return {QMessageBox::Ok};
}

QMessageBox::Icon iconFor(Dialogs::Style style)
{
    switch (style) {
    case Dialogs::Warning:
        return QMessageBox::Warning;
    case Dialogs::Information:
        return QMessageBox::Information;
    case Dialogs::Plain:
    case Dialogs::YesNo:
        break;
    }
    return QMessageBox::NoIcon;
}

Dialogs::Answer answerFor(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok:
        return Dialogs::Ok;
    case QMessageBox::Yes:
        return Dialogs::Yes;
    case QMessageBox::No:
        return Dialogs::No;
    default:
        return Dialogs::Cancel;
    }
}

// Texts are written with CR LF line ends; a lone CR would show as a box in a Qt label.
QString displayText(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

QStringList patternsOf(const QString &patternList)
{
    QStringList patterns;
    const QStringList parts = patternList.split(u';', Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty())
            continue;
        // "*.*" means every file on the desktop the filters were written for; here it would
        // hide every file without a dot.
        const QStringList variants
                = pattern == u"*.*"_s ? QStringList{u"*"_s}
                                      : QStringList{pattern, pattern.toLower(), pattern.toUpper()};
        for (const QString &variant : variants) {
            if (!patterns.contains(variant))
                patterns.append(variant);
        }
    }
    return patterns;
}

// Icons and type names from a file's name and kind alone. Qt's own provider reads a file's
// first bytes to tell its type, also on the window's thread, and a read of /proc/kmsg (or of
// any file that answers only when something happens) does not return: typing /proc/ into a
// file dialog froze the program for good, and each read took the kernel's messages away
// from the system log.
class NameOnlyFileIcons : public QFileIconProvider
{
public:
    using QFileIconProvider::icon;

    QIcon icon(const QFileInfo &info) const override
    {
        if (info.isRoot())
            return icon(Drive);
        return icon(info.isDir() ? Folder : File);
    }

    QString type(const QFileInfo &info) const override
    {
        if (!info.isFile())
            return QFileIconProvider::type(info);
        const QMimeType mime
                = QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }
};

} // namespace

QtDialogs::QtDialogs(QWidget *parent)
    : m_parent(parent)
{}

QtDialogs::~QtDialogs() = default;

Dialogs::Answer QtDialogs::message(const QString &text, Style style, const QString &title)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title.isEmpty() ? AppInfo::title() : title);
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(text));
    box.setIcon(iconFor(style));

    const QList<QMessageBox::StandardButton> buttons = buttonsFor(style);
    for (QMessageBox::StandardButton button : buttons)
        box.addButton(button);
    box.setDefaultButton(buttons.first());

    box.exec();
    // Closing the box without a button counts as its escape button, or Cancel.
    QAbstractButton *clicked = box.clickedButton();
    if (!clicked)
        return Cancel;
    return answerFor(box.standardButton(clicked));
}

QString QtDialogs::inputBox(const QString &prompt, const QString &defaultAnswer)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(AppInfo::title());
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(displayText(prompt));
    dialog.setTextValue(defaultAnswer);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.textValue();
}

std::optional<QString> QtDialogs::openFile(const QString &filter)
{
    return runFileDialog(filter, Mode::Open);
}

std::optional<QString> QtDialogs::saveFile(const QString &filter)
{
    return runFileDialog(filter, Mode::Save);
}

std::optional<QString> QtDialogs::chooseFolder()
{
    // Typing a folder's path and Enter chooses it, as in the file modes.
    return runFileDialog(QString(), Mode::Folder);
}

QStringList QtDialogs::qtNameFilters(const QString &filter)
{
    QStringList filters;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString description = parts.at(i).trimmed();
        // A trailing bar leaves an empty piece behind it, which is no filter.
        if (description.isEmpty() && i + 1 >= parts.size())
            continue;
        // A description without its pattern offers every file rather than none.
        QStringList patterns = patternsOf(parts.value(i + 1));
        if (patterns.isEmpty())
            patterns = {u"*"_s};
        filters.append(description + u" ("_s + patterns.join(u' ') + u')');
    }
    if (filters.isEmpty())
        filters.append(u"*"_s);
    return filters;
}

QString QtDialogs::defaultSuffix(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    const QStringList patterns = parts.value(1).split(u';', Qt::SkipEmptyParts);
    if (patterns.size() != 1)
        return QString();
    const QString pattern = patterns.first().trimmed();
    if (!pattern.startsWith(u"*."_s))
        return QString();
    const QString suffix = pattern.mid(2);
    if (suffix.isEmpty() || suffix.contains(u'*') || suffix.contains(u'?') || suffix.contains(u'['))
        return QString();
    return suffix;
}

bool QtDialogs::installQtTranslations(QCoreApplication &app)
{
    // Dates, sizes and file types in the file dialog follow the locale, not the catalogues.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool complete = true;
    for (const QString &catalog : {u"qtbase_zh_CN"_s, u"qtserialport_zh_CN"_s}) {
        auto *translator = new QTranslator(&app);
        if (translator->load(catalog, folder)) {
            QCoreApplication::installTranslator(translator);
        } else {
            delete translator;
            complete = false;
        }
    }
    return complete;
}

std::optional<QString> QtDialogs::runFileDialog(const QString &filter, Mode mode)
{
    const bool save = mode == Mode::Save;
    if (!m_fileIcons)
        m_fileIcons = std::make_unique<NameOnlyFileIcons>();
    // A new dialog each time: a kept one kept its name completer, whose list stayed on screen
    // after Enter and took every key, the next shortcut's included.
    QPointer<QFileDialog> dialog = new QFileDialog(m_parent);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setIconProvider(m_fileIcons.get());
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (mode == Mode::Folder) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog->setNameFilters(qtNameFilters(filter));
    }
    dialog->setDefaultSuffix(save ? defaultSuffix(filter) : QString());
    // The last file's name is offered as text, not as a selection: the new dialog reads its
    // folder after it opens, and a selection made then would overwrite what the user typed.
    auto *nameEdit = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
    if (mode == Mode::Folder) {
        if (!m_lastFolder.isEmpty())
            dialog->setDirectory(m_lastFolder);
    } else if (!m_lastFile.isEmpty()) {
        const QFileInfo last(m_lastFile);
        dialog->setDirectory(last.absolutePath());
        if (nameEdit)
            nameEdit->setText(last.fileName());
    }

    const bool accepted = dialog->exec() == QDialog::Accepted;
    // The parent may have gone while the dialog ran (the program was told to end).
    if (!dialog)
        return std::nullopt;
    const QStringList files = dialog->selectedFiles();
    // The completer's list is a window of its own: gone before the caller goes on.
    if (nameEdit && nameEdit->completer() && nameEdit->completer()->popup())
        nameEdit->completer()->popup()->hide();
    delete dialog.data();

    if (!accepted || files.isEmpty() || files.first().isEmpty())
        return std::nullopt;
    if (mode == Mode::Folder) {
        m_lastFolder = files.first();
        return m_lastFolder;
    }
    m_lastFile = files.first();
    return m_lastFile;
}
