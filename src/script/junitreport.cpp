#include "script/junitreport.h"

#include "core/messages.h"
#include "script/scriptjob.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamWriter>

using namespace Qt::StringLiterals;

QByteArray junitReport(const ScriptJob &job, double seconds)
{
    const QString suite = QFileInfo(job.path()).fileName();
    int failures = 0;
    for (const ScriptCheck &check : job.checks())
        failures += check.passed ? 0 : 1;
    const bool error = job.ending() != ScriptJob::Ending::Completed;
    const qsizetype tests = job.checks().size() + (error ? 1 : 0);

    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(u"testsuites"_s);
    w.writeAttribute(u"tests"_s, QString::number(tests));
    w.writeAttribute(u"failures"_s, QString::number(failures));
    w.writeAttribute(u"errors"_s, QString::number(error ? 1 : 0));
    w.writeStartElement(u"testsuite"_s);
    w.writeAttribute(u"name"_s, suite);
    w.writeAttribute(u"tests"_s, QString::number(tests));
    w.writeAttribute(u"failures"_s, QString::number(failures));
    w.writeAttribute(u"errors"_s, QString::number(error ? 1 : 0));
    w.writeAttribute(u"time"_s, QString::number(seconds, 'f', 3));
    for (const ScriptCheck &check : job.checks()) {
        w.writeStartElement(u"testcase"_s);
        w.writeAttribute(u"classname"_s, suite);
        w.writeAttribute(u"name"_s, check.name);
        w.writeAttribute(u"file"_s, job.path());
        w.writeAttribute(u"line"_s, QString::number(check.line));
        if (!check.passed) {
            const QString text = Messages::scriptCheckFailed(check.name, check.line);
            w.writeStartElement(u"failure"_s);
            w.writeAttribute(u"message"_s, text);
            w.writeCharacters(text);
            w.writeEndElement();
        }
        w.writeEndElement();
    }
    if (error) {
        w.writeStartElement(u"testcase"_s);
        w.writeAttribute(u"classname"_s, suite);
        w.writeAttribute(u"name"_s, suite);
        w.writeStartElement(u"error"_s);
        w.writeAttribute(u"message"_s, job.summary());
        w.writeCharacters(job.summary());
        w.writeEndElement();
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}

Result writeJunitReport(const QString &path, const ScriptJob &job, double seconds)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Result::failure(Messages::scriptJunitFailed(path, file.errorString()));
    file.write(junitReport(job, seconds));
    if (!file.commit())
        return Result::failure(Messages::scriptJunitFailed(path, file.errorString()));
    return Result::success();
}
