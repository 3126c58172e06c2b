#include "widgets/guidewindow.h"

#include "core/messages.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// "Receiving: text and hexadecimal" -> "receiving-text-and-hexadecimal", as GitHub and
// pandoc name a heading.
QString headingAnchor(const QString &heading)
{
    QString anchor;
    for (const QChar c : heading.trimmed().toLower()) {
        if (c.isLetterOrNumber() || c == u'-' || c == u'_')
            anchor += c;
        else if (c.isSpace())
            anchor += u'-';
    }
    return anchor;
}

} // namespace

GuideWindow::GuideWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(Messages::userGuideTitle());
    resize(820, 640);

    m_browser = new QTextBrowser(this);
    // Links between sections stay here; the guide has no others, and none may start a browser.
    m_browser->setOpenExternalLinks(false);
    m_browser->setOpenLinks(true);

    // Following a link within the Markdown guide reads it anew, and the names go with it.
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this](const QUrl &url) {
        nameHeadings();
        fitPictures();
        if (url.hasFragment())
            m_browser->scrollToAnchor(url.fragment());
    });

    m_findField = new QLineEdit(this);
    m_findField->setClearButtonEnabled(true);
    auto *previous = new QPushButton(Messages::userGuideFindPrevious(), this);
    auto *next = new QPushButton(Messages::userGuideFindNext(), this);
    m_findNote = new QLabel(this);

    auto *findBar = new QHBoxLayout;
    findBar->addWidget(new QLabel(Messages::userGuideFind(), this));
    findBar->addWidget(m_findField, 1);
    findBar->addWidget(previous);
    findBar->addWidget(next);
    findBar->addWidget(m_findNote);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(findBar);
    layout->addWidget(m_browser, 1);

    connect(m_findField, &QLineEdit::returnPressed, this, [this] { find(m_findField->text()); });
    connect(next, &QPushButton::clicked, this, [this] { find(m_findField->text()); });
    connect(previous, &QPushButton::clicked, this, [this] { find(m_findField->text(), true); });
    auto *focusFind = new QShortcut(QKeySequence::Find, this);
    connect(focusFind, &QShortcut::activated, this, [this] {
        m_findField->setFocus();
        m_findField->selectAll();
    });
    auto *findNext = new QShortcut(QKeySequence::FindNext, this);
    connect(findNext, &QShortcut::activated, this, [this] { find(m_findField->text()); });
    auto *findPrevious = new QShortcut(QKeySequence::FindPrevious, this);
    connect(findPrevious, &QShortcut::activated, this, [this] { find(m_findField->text(), true); });
}

bool GuideWindow::load(const QString &path)
{
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable())
        return false;
    // The source's folder resolves the pictures' relative paths, images/ beside the guide.
    const bool markdown = file.suffix().compare(u"md"_s, Qt::CaseInsensitive) == 0;
    m_browser->setSource(QUrl::fromLocalFile(file.absoluteFilePath()),
                         markdown ? QTextDocument::MarkdownResource : QTextDocument::HtmlResource);
    if (m_browser->document()->isEmpty())
        return false;
    nameHeadings();
    fitPictures();
    m_findNote->clear();
    return true;
}

void GuideWindow::nameHeadings()
{
    QTextCursor cursor(m_browser->document());
    for (QTextBlock block = m_browser->document()->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0 || block.text().isEmpty())
            continue;
        cursor.setPosition(block.position());
        cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
        QTextCharFormat named;
        QStringList names = block.begin().fragment().charFormat().anchorNames();
        const QString name = headingAnchor(block.text());
        if (names.contains(name))
            continue;
        names.append(name);
        named.setAnchor(true);
        named.setAnchorNames(names);
        cursor.mergeCharFormat(named);
    }
}

void GuideWindow::fitPictures()
{
    // A screenshot at its own size is wider than the window and drags a sideways scroll bar
    // over every line; scaled to a reading width it still shows every menu item. Its line gets
    // no extra spacing, which the page's line height would add below it as a blank.
    QTextDocument &document = *m_browser->document();
    QTextCursor cursor(&document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            cursor.setPosition(fragment.position());
            QTextBlockFormat single;
            single.setLineHeight(100, QTextBlockFormat::ProportionalHeight);
            cursor.mergeBlockFormat(single);
            QTextImageFormat picture = fragment.charFormat().toImageFormat();
            const QVariant data
                    = document.resource(QTextDocument::ImageResource, QUrl(picture.name()));
            const QImage image = data.typeId() == QMetaType::QByteArray
                                         ? QImage::fromData(data.toByteArray())
                                         : qvariant_cast<QImage>(data);
            if (image.isNull() || image.width() <= MaxPictureWidth)
                continue;
            picture.setWidth(MaxPictureWidth);
            picture.setHeight(qreal(image.height()) * MaxPictureWidth / image.width());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(picture);
        }
    }
}

bool GuideWindow::showSection(const QString &heading)
{
    const QString anchor = headingAnchor(heading);
    for (QTextBlock block = m_browser->document()->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 0)
            continue;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().anchorNames().contains(anchor)) {
                m_browser->scrollToAnchor(anchor);
                return true;
            }
        }
    }
    return false;
}

bool GuideWindow::find(const QString &text, bool backward)
{
    m_findNote->clear();
    if (text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags
            = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (m_browser->find(text, flags))
        return true;
    // Round from the other end, as a reader expects of a find field.
    const QTextCursor kept = m_browser->textCursor();
    m_browser->moveCursor(backward ? QTextCursor::End : QTextCursor::Start);
    if (m_browser->find(text, flags))
        return true;
    m_browser->setTextCursor(kept);
    m_findNote->setText(Messages::userGuideNotFound(text));
    return false;
}
