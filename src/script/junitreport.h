#pragma once

#include "core/result.h"

#include <QByteArray>
#include <QString>

class ScriptJob;

// A script's checks as JUnit XML, which GitLab and Jenkins read: one test case per check, the
// failing check's words in its failure element, and a script that did not run to its end as one
// more case with an error element carrying the result line.
QByteArray junitReport(const ScriptJob &job, double seconds);
Result writeJunitReport(const QString &path, const ScriptJob &job, double seconds);
