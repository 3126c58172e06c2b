#include "widgets/qtdialogs.h"

#include "core/appinfo.h"
#include "support/testapp.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Acts on the modal window the next call opens, once it is up.
template<typename Window>
void whenShown(const std::function<void(Window *)> &act)
{
    QTimer::singleShot(0, qApp, [act] {
        QWidget *modal = QApplication::activeModalWidget();
        auto *window = qobject_cast<Window *>(modal);
        if (!window) {
            ADD_FAILURE() << "no modal window of the expected kind";
            // Whatever is up must not keep the test waiting for ever.
            if (modal)
                modal->close();
            return;
        }
        act(window);
    });
}

// Types a name into the file dialog's name field and presses its accept button. The field has
// the focus, as it has for a person typing there: the dialog then drops the file it offered.
void typeFileName(QFileDialog *dialog, const QString &name)
{
    auto *edit = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
    ASSERT_NE(edit, nullptr);
    QApplication::setActiveWindow(dialog);
    edit->setFocus();
    edit->setText(name);
    static_cast<QDialog *>(dialog)->accept();
}

TEST(QtDialogsTest, MessageStylesGiveTheirButtonsIconsAndAnswers)
{
    ensureApp();
    struct Case
    {
        Dialogs::Style style;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton press;
        Dialogs::Answer answer;
    };
    const Case cases[] = {
            {Dialogs::Plain, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, Dialogs::Ok},
            {Dialogs::YesNo, QMessageBox::NoIcon, QMessageBox::Yes | QMessageBox::No,
             QMessageBox::Yes, Dialogs::Yes},
            {Dialogs::YesNo, QMessageBox::NoIcon, QMessageBox::Yes | QMessageBox::No,
             QMessageBox::No, Dialogs::No},
            {Dialogs::Warning, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, Dialogs::Ok},
            {Dialogs::Information, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok,
             Dialogs::Ok},
    };
    QtDialogs dialogs(nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.style);
        whenShown<QMessageBox>([&](QMessageBox *box) {
            EXPECT_EQ(box->windowTitle(), AppInfo::title());
            EXPECT_EQ(box->icon(), c.icon);
            EXPECT_EQ(box->standardButtons(), c.buttons);
            box->button(c.press)->click();
        });
        EXPECT_EQ(dialogs.message(u"text"_s, c.style), c.answer);
    }
}

TEST(QtDialogsTest, MessageShowsItsTextPlainWithLineBreaksAndItsOwnTitle)
{
    ensureApp();
    QtDialogs dialogs(nullptr);
    whenShown<QMessageBox>([](QMessageBox *box) {
        EXPECT_EQ(box->windowTitle(), u"串口调试终端"_s);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->text(), u"<13> first\nsecond\n\n"_s);
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(dialogs.message(u"<13> first\r\nsecond\r\n\r\n"_s, Dialogs::Information,
                              u"串口调试终端"_s),
              Dialogs::Ok);
}

TEST(QtDialogsTest, InputBoxGivesTheTextOrEmptyWhenCancelled)
{
    ensureApp();
    QtDialogs dialogs(nullptr);
    whenShown<QInputDialog>([](QInputDialog *input) {
        EXPECT_EQ(input->windowTitle(), AppInfo::title());
        EXPECT_EQ(input->labelText(), u"间隔"_s);
        EXPECT_EQ(input->textValue(), u"500"_s);
        input->setTextValue(u"250"_s);
        input->accept();
    });
    EXPECT_EQ(dialogs.inputBox(u"间隔"_s, u"500"_s), u"250"_s);

    whenShown<QInputDialog>([](QInputDialog *input) {
        input->setTextValue(u"typed but cancelled"_s);
        input->reject();
    });
    EXPECT_EQ(dialogs.inputBox(u"间隔"_s, u"500"_s), QString());
}

TEST(QtDialogsTest, FiltersBecomeQtFiltersThatShowEveryMatchingFile)
{
    struct Case
    {
        const char *why;
        QString filter;
        QStringList qt;
        QString suffix;
    };
    const Case cases[] = {
            {"*.* must not hide files without a dot", u"全部文件|*.*"_s, {u"全部文件 (*)"_s}, {}},
            {"both letter cases on a case-sensitive disk",
             u"富文本文件|*.RTF"_s,
             {u"富文本文件 (*.RTF *.rtf)"_s},
             u"RTF"_s},
            {"several patterns and pairs",
             u"Text|*.txt;*.LOG|All|*.*"_s,
             {u"Text (*.txt *.TXT *.LOG *.log)"_s, u"All (*)"_s},
             {}},
            {"no filter at all", QString(), {u"*"_s}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(QtDialogs::qtNameFilters(c.filter), c.qt);
        EXPECT_EQ(QtDialogs::defaultSuffix(c.filter), c.suffix);
    }
}

TEST(QtDialogsTest, FileDialogOffersTheLastChosenFileAgain)
{
    ensureApp();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString existing = dir.filePath(u"sent.bin"_s);
    {
        QFile file(existing);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QtDialogs dialogs(nullptr);

    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        typeFileName(dialog, existing);
    });
    EXPECT_EQ(dialogs.openFile(u"全部文件|*.*"_s), existing);

    // The save dialog starts on the file chosen last.
    const QString capture = dir.filePath(u"capture.RTF"_s);
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->selectedFiles().value(0), existing);
        EXPECT_EQ(dialog->nameFilters(), QStringList{u"富文本文件 (*.RTF *.rtf)"_s});
        // Typed without its extension, which the filter supplies.
        typeFileName(dialog, dir.filePath(u"capture"_s));
    });
    EXPECT_EQ(dialogs.saveFile(u"富文本文件|*.RTF"_s), capture);

    whenShown<QFileDialog>([](QFileDialog *dialog) { dialog->reject(); });
    EXPECT_EQ(dialogs.openFile(u"全部文件|*.*"_s), std::nullopt);
}

} // namespace
