#include "app/commandline.h"

#include "core/appinfo.h"
#include "core/messages.h"
#include "widgets/qtdialogs.h"
#include "widgets/settingsdialog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// "com3" and "COM03" mean the dialog's COM3; anything the dialog does not list is refused.
QString dialogPortName(const QString &given)
{
    const QString upper = given.trimmed().toUpper();
    if (!upper.startsWith(u"COM"_s))
        return QString();
    bool ok = false;
    const int number = upper.mid(3).toInt(&ok);
    const QString name = u"COM"_s + QString::number(number);
    return ok && SettingsDialog::portEntries().contains(name) ? name : QString();
}

} // namespace

ParsedCommandLine parseCommandLine(int argc, char *argv[])
{
    // Only QtCore: no display is opened, and the parser's own texts come out in Chinese.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(AppInfo::version());
    QtDialogs::installQtTranslations(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(Messages::commandLineDescription());
    const QCommandLineOption help({u"h"_s, u"help"_s}, Messages::commandLineHelpOption());
    const QCommandLineOption version({u"v"_s, u"version"_s}, Messages::commandLineVersionOption());
    const QCommandLineOption settings(u"settings"_s, Messages::commandLineSettingsOption(),
                                      u"FILE"_s);
    const QCommandLineOption port(u"port"_s, Messages::commandLinePortOption(), u"COMn"_s);
    const QCommandLineOption open(u"open"_s, Messages::commandLineOpenOption());
    const QCommandLineOption script(u"script"_s, Messages::commandLineScriptOption(), u"FILE"_s);
    const QCommandLineOption junit(u"junit"_s, Messages::commandLineJunitOption(), u"REPORT.xml"_s);
    parser.addOptions({settings, port, open, script, junit, help, version});

    ParsedCommandLine parsed;
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const auto refuse = [&](const QString &why) {
        print(stderr, Messages::commandLineRefused(program, why));
        parsed.exitStatus = 2;
        return parsed;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return parsed;
    }
    if (parser.isSet(version)) {
        print(stdout, program + u' ' + AppInfo::version() + u'\n');
        return parsed;
    }
    const bool scripted = parser.isSet(script);
    if (!scripted && parser.isSet(junit))
        return refuse(Messages::commandLineJunitWithoutScript());
    if (!scripted && !parser.positionalArguments().isEmpty())
        return refuse(Messages::commandLineUnexpected(parser.positionalArguments().join(u' ')));

    CommandLine line;
    if (parser.isSet(settings)) {
        const QString file = parser.value(settings);
        if (file.isEmpty())
            return refuse(Messages::commandLineSettingsEmpty());
        line.settingsFile = QFileInfo(file).absoluteFilePath();
    }
    if (parser.isSet(port)) {
        line.port = dialogPortName(parser.value(port));
        if (line.port.isEmpty())
            return refuse(Messages::commandLinePortInvalid(parser.value(port)));
    }
    line.open = parser.isSet(open);
    if (scripted) {
        if (parser.value(script).isEmpty())
            return refuse(Messages::commandLineScriptEmpty());
        line.scriptFile = QFileInfo(parser.value(script)).absoluteFilePath();
        if (parser.isSet(junit))
            line.junitFile = QFileInfo(parser.value(junit)).absoluteFilePath();
        line.scriptArguments = parser.positionalArguments();
    }
    parsed.run = line;
    return parsed;
}
