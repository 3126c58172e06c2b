// What a panel entry puts on the line, and the panel's file as an import meets it: a file from
// elsewhere is refused whole, with a message, whatever its size, encoding or contents.

#include "core/sendpanelfile.h"
#include "support/qtprinters.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

SendEntry entry(SendEntry::Format format, const QString &content, ChecksumKind checksum,
                SendEntry::Ending ending)
{
    SendEntry e;
    e.content = content;
    e.format = format;
    e.checksum = checksum;
    e.ending = ending;
    return e;
}

QByteArray oneEntryFile(const QByteArray &fields)
{
    return R"({"version": 1, "entries": [{"content": "01", )" + fields + "}]}";
}

} // namespace

TEST(SendEntryTest, FrameIsDataThenChecksumThenEnding)
{
    using F = SendEntry::Format;
    using E = SendEntry::Ending;
    struct Case
    {
        const char *what;
        SendEntry entry;
        QByteArray bytes;
        int count;
        QString shown;
    } cases[] = {
            {"Modbus CRC goes before nothing",
             entry(F::Hex, u"01 03 00 0A 00 02"_s, ChecksumKind::Modbus, E::None),
             QByteArray::fromHex("0103000A0002E409"), 8, u"01 03 00 0A 00 02 E4 09"_s},
            {"the checksum covers the data, not the ending",
             entry(F::Hex, u"0x01,0x02"_s, ChecksumKind::Sum8, E::CrLf),
             QByteArray::fromHex("0102030D0A"), 5, u"01 02 03 0D 0A"_s},
            {"text converts as a typed line: escapes and code page 936",
             entry(F::Text, u"中<13>"_s, ChecksumKind::None, E::Lf), "\xD6\xD0\r\n"_ba, 3,
             u"中<13>"_s},
            {"Modbus ASCII frame gets its LRC as two digits before CR LF",
             entry(F::Text, u":010300000002"_s, ChecksumKind::Lrc, E::CrLf),
             ":010300000002FA\r\n"_ba, 17, u":010300000002"_s},
            {"an empty text with an ending is a bare line end",
             entry(F::Text, QString(), ChecksumKind::None, E::Cr), "\r"_ba, 1, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const EntryFrame frame = entryFrame(c.entry);
        EXPECT_TRUE(frame.ok()) << frame.error.toStdString();
        EXPECT_EQ(frame.bytes, c.bytes);
        EXPECT_EQ(frame.count, c.count);
        EXPECT_EQ(frame.shown, c.shown);
    }
    const EntryFrame wrong = entryFrame(entry(F::Hex, u"01 0G"_s, ChecksumKind::Modbus, E::None));
    EXPECT_FALSE(wrong.ok());
    EXPECT_TRUE(wrong.bytes.isEmpty()) << "a faulty entry must put nothing on the line";
    EXPECT_FALSE(entryFrame(entry(F::Hex, u" "_s, ChecksumKind::None, E::None)).ok());
}

TEST(SendPanelFileTest, EveryFieldSurvivesTheRoundTrip)
{
    SendEntry odd = entry(SendEntry::Format::Hex, u"0x01,0x03 \"\\ 中"_s, ChecksumKind::Crc32,
                          SendEntry::Ending::CrLf);
    odd.name = u"读取 \"状态\""_s;
    odd.delayMs = MaxEntryDelayMs;
    odd.checked = false;
    const QList<SendEntry> entries{odd, SendEntry()};
    const auto back = SendPanelFile::fromJson(SendPanelFile::toJson(entries));
    ASSERT_TRUE(back.ok()) << back.message().toStdString();
    EXPECT_EQ(*back, entries);
}

TEST(SendPanelFileTest, TheLargestPanelTheEditorsAllowSavesAndLoadsBack)
{
    // Were the cap below it, the panel would be written, refused at the next start and lost.
    SendEntry widest;
    widest.name = QString(SendPanelFile::MaxNameChars, u'名');
    widest.content = QString(SendPanelFile::MaxContentChars, u'中');
    const QList<SendEntry> entries(SendPanelFile::MaxEntries, widest);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"full.panel.json"_s);
    const Result saved = SendPanelFile::save(path, entries);
    ASSERT_TRUE(saved.ok()) << saved.message().toStdString();
    const auto loaded = SendPanelFile::load(path);
    ASSERT_TRUE(loaded.ok()) << loaded.message().toStdString();
    EXPECT_EQ((*loaded).size(), SendPanelFile::MaxEntries);

    // Beyond what the editors allow, saving refuses and leaves the saved file as it was.
    SendEntry odd;
    odd.content = QString(SendPanelFile::MaxFileBytes / 6 + 1, QChar(1));
    EXPECT_FALSE(SendPanelFile::save(path, {odd}).ok());
    EXPECT_TRUE(SendPanelFile::load(path).ok());
}

TEST(SendPanelFileTest, HostileContentsAreRefusedWholeWithAReason)
{
    QByteArray manyEntries = R"({"version":1,"entries":[)";
    for (int i = 0; i <= SendPanelFile::MaxEntries; ++i)
        manyEntries += QByteArray(i ? "," : "") + R"({"content":""})";
    manyEntries += "]}";
    struct Case
    {
        const char *what;
        QByteArray bytes;
        const char16_t *reason;
    } cases[] = {
            {"not UTF-8 (GBK)", "{\"version\":1,\"entries\":[{\"content\":\"\xD6\xD0\"}]}",
             u"UTF-8"},
            {"not JSON", "[1, 2", u"JSON"},
            {"a list at the top", "[]", u"version"},
            {"another program's file", R"({"version": 2, "entries": []})", u"版本"},
            {"entries not a list", R"({"version": 1, "entries": {}})", u"entries"},
            {"too many entries", manyEntries, u"上限"},
            {"unknown format", oneEntryFile(R"("format": "octal")"), u"format"},
            {"unknown checksum", oneEntryFile(R"("checksum": "md5")"), u"checksum"},
            {"negative delay", oneEntryFile(R"("delay": -1)"), u"delay"},
            {"fractional delay", oneEntryFile(R"("delay": 1.5)"), u"delay"},
            {"delay past an hour", oneEntryFile(R"("delay": 1e300)"), u"delay"},
            {"name with a line break", oneEntryFile(R"("name": "a\nb")"), u"name"},
            {"checked as a string", oneEntryFile(R"("checked": "yes")"), u"checked"},
            {"content not a string", R"({"version":1,"entries":[{"content":1}]})", u"content"},
            {"content past its bound",
             R"({"version":1,"entries":[{"content":")"
                     + QByteArray(SendPanelFile::MaxContentChars + 1, 'a') + "\"}]}",
             u"content"},
            {"nesting beyond reason", QByteArray(100000, '['), u"JSON"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto loaded = SendPanelFile::fromJson(c.bytes);
        ASSERT_FALSE(loaded.ok());
        EXPECT_TRUE(loaded.message().contains(QString::fromUtf16(c.reason)))
                << loaded.message().toStdString();
    }
}

TEST(SendPanelFileTest, OversizedFileAndFifoAreRefusedWithoutReadingThem)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString big = dir.filePath(u"big.panel.json"_s);
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Sparse: the size is what a stat says, without writing megabytes.
    ASSERT_TRUE(file.resize(SendPanelFile::MaxFileBytes + 1));
    file.close();
    const auto tooBig = SendPanelFile::load(big);
    ASSERT_FALSE(tooBig.ok());
    EXPECT_TRUE(tooBig.message().contains(u"上限"_s)) << tooBig.message().toStdString();

    // Opening a FIFO for reading would wait for a writer forever.
    const QString fifo = dir.filePath(u"fifo.panel.json"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(SendPanelFile::load(fifo).ok());
    EXPECT_FALSE(SendPanelFile::save(fifo, {SendEntry()}).ok()) << "saving must not block on it";
}

TEST(SendPanelFileTest, FilesAreNamedAfterTheSettingsFile)
{
    EXPECT_EQ(SendPanelFile::panelPath(u"/home/u/.config/velmir-rs232/lab.ini"_s),
              u"/home/u/.config/velmir-rs232/lab.panel.json"_s);
    EXPECT_EQ(SendPanelFile::historyPath(u"/tmp/second.ini"_s), u"/tmp/second.history.json"_s);
}
