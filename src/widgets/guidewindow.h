#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QTextBrowser;

// The user guide in a window of the program, so that it can be read where no browser is
// installed: the formatted guide or its Markdown source, with its pictures, its links between
// sections and a find field.
class GuideWindow : public QWidget
{
    Q_OBJECT

public:
    explicit GuideWindow(QWidget *parent = nullptr);

    // Shows the guide at path (.html, or .md as Markdown); false when it cannot be read.
    bool load(const QString &path);
    // Selects the next (or previous) place that holds text, going round at the end; false and
    // a note beside the field when there is none.
    bool find(const QString &text, bool backward = false);
    // Scrolls the section with this heading to the top; false when the guide has none.
    bool showSection(const QString &heading);

    QTextBrowser &browser() { return *m_browser; }
    QLineEdit &findField() { return *m_findField; }

private:
    // Markdown headings carry no anchors, yet the guide links to them by the names GitHub
    // gives them; both forms get those names so that every link between sections works.
    void nameHeadings();
    void fitPictures();

    static constexpr int MaxPictureWidth = 640;

    QTextBrowser *m_browser = nullptr;
    QLineEdit *m_findField = nullptr;
    QLabel *m_findNote = nullptr;
};
