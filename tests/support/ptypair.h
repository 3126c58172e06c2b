#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <memory>

// A pseudo-terminal pair standing in for a serial cable: the program opens the slave as its
// port, the test plays the far end on the master. Waiting calls keep the Qt event loop running,
// so that a port object living on the same thread goes on reading and writing meanwhile.
class QProcess;
class QSocketNotifier;

class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    // Why opening failed, when !isValid().
    QString error() const { return m_error; }

    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Writes all bytes, waiting (with events running) while the line is full; false on an error
    // or when nothing could be written for timeoutMs.
    bool writeMaster(QByteArrayView bytes, int timeoutMs = 10000);
    // What has arrived: waits up to waitMs for the first byte, then gathers until the line has
    // been quiet for quietMs.
    QByteArray readMaster(int waitMs, int quietMs = 50);
    // Exactly n bytes, or fewer if timeoutMs passes first.
    QByteArray readMasterExactly(qsizetype n, int timeoutMs);
    // Starts a program as the far end of the line (lrzsz's rb, sb): what reaches the master goes
    // to its standard input, what it writes goes out of the master, through pipes. Given the
    // master itself, it would set and at its end flush the line's own terminal settings, which
    // the master shares with the program's side. masterIsOurs() ends the relay.
    bool startOnMaster(QProcess &process, const QString &program, const QStringList &arguments);
    void masterIsOurs();
    // Hangs up the line, as if the cable or adapter were pulled.
    void closeMaster();
    // Hangs up the slave side that the pair itself holds (the program's own handle stays).
    void closeSlave();
    // What the system does when the last handle of a real port closes: it forgets the
    // exclusive mode a holder set. A pseudo-terminal keeps that mode while its master lives,
    // so a holder killed before it could clear it would bar everyone but root for good.
    bool forgetExclusiveMode();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
    std::unique_ptr<QSocketNotifier> m_relay;
};

// A private configuration home for one test: the program is handed a temporary folder for the
// object's life (the previous one comes back afterwards), so that port links made here are found
// by the program's real number-to-device lookup. The process environment is left alone; a
// helper process gets the folder in its own.
class TempConfigHome
{
public:
    TempConfigHome();
    ~TempConfigHome();
    TempConfigHome(const TempConfigHome &) = delete;
    TempConfigHome &operator=(const TempConfigHome &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    // The folder where COMn links live (created on demand).
    QString portsDir() const;
    // Makes portsDir()/COMnumber a symbolic link to target; false if that fails.
    bool linkPort(int number, const QString &target);
    // The set-up of a test on a pseudo-terminal: this home and the pair are valid and the pair's
    // far end is COMnumber; else why not.
    ::testing::AssertionResult linkPty(int number, const PtyPair &pty);

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
