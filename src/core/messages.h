#pragma once

#include <QString>
#include <QStringList>

// Every message the program words itself, beyond the fixed texts of its menus and prompts, so that
// they read alike: what failed, where (port, device, file), why, and what the user can do.
namespace Messages {

// Who may open a device that refused us, as the system has it.
struct DeniedDevice
{
    // The device file, and its own name, "ttyS0", which a udev rule matches.
    QString path;
    QString name;
    QString owner;
    QString group;
    // The permission bits, 0600 for root:root crw-------.
    uint mode = 0;
    bool userIsOwner = false;
    // The group database lists the user in the device's group (or it is the user's own group).
    bool userInGroup = false;
    // This process has the group: false after joining it without logging in again.
    bool processHasGroup = false;
};

// --- The port -------------------------------------------------------------------------------
QString portNumberInvalid(int number);
QString lineSettingsRefused(const QString &text, const QString &why);
QString speedInvalid(const QString &speed);
QString parityInvalid(const QString &parity);
QString dataBitsFour();
QString dataBitsInvalid(const QString &bits);
QString stopBitsOneAndHalf();
QString stopBitsInvalid(const QString &bits);
QString lineSettingsRefusedByDevice(const QString &where, const QString &text, const QString &why);
QString handshakingInvalid(int code);
QString handshakingRefusedByDevice(const QString &where, int code, const QString &why);
QString settingNotRestored(const QString &why, const QString &restoreWhy);
QString portAlreadyOpen(const QString &where);
QString portNotOpen(const QString &name);
QString noStandardDevice(const QString &name, const QString &linkCommand);
QString linkTargetMissing(const QString &name, const QString &link, const QString &target,
                          const QString &linkCommand);
QString deviceMissing(const QString &name, const QString &path, const QString &linkCommand);
QString permissionDenied(const QString &where, const DeniedDevice &device);
QString deviceBusy(const QString &where);
QString notASerialDevice(const QString &where);
QString openFailed(const QString &where, const QString &why);
QString sendFailed(const QString &where, const QString &why);
QString portLostHungUp(const QString &where);
QString portLostWriteFailed(const QString &where, const QString &why);
QString portLostOther(const QString &where, const QString &why);
QString networkOpenFailed(const QString &name, const QString &link, const QString &cause);
QString networkPortLost(const QString &name, const QString &cause);
// --- The network link (where is the server's address) ----------------------------------------
QString serverRefusedComPort(const QString &where);
QString serverRefusedSettings(const QString &where, const QString &refused);
// One setting the server set otherwise than asked, for serverRefusedSettings; joined by "；".
QString serverSetSpeed(const QString &asked, const QString &set);
QString serverSetDataBits(const QString &asked, const QString &set);
QString serverSetParity(const QString &asked, const QString &set);
QString serverSetStopBits(const QString &asked, const QString &set);
QString serverSetHandshaking(const QString &asked, const QString &set);
QString settingsSeparator();
QString handshakingNoneName();
QString serverNotRfc2217(const QString &where, qint64 limitBytes);
QString hostLookupTimedOut(const QString &where, const QString &seconds, const QString &host);
QString comPortNotAnswered(const QString &where, const QString &seconds);
QString settingsNotConfirmed(const QString &where, const QString &seconds);
QString connectTimedOut(const QString &where, const QString &seconds);
QString serverHungUpAtOnce(const QString &where);
QString serverRefusedWithWords(const QString &where, const QString &words);
QString connectionRefused(const QString &where);
QString hostNotFound(const QString &where, const QString &host);
QString serverClosedConnection(const QString &where);
QString serverStoppedAnswering(const QString &where);
QString connectFailed(const QString &where, const QString &why);
QString connectionBroken(const QString &where, const QString &why);
QString networkWriteFailed(const QString &where, const QString &why);
QString networkLinkDown();
QString subnegotiationCut(const QString &where, qint64 limitBytes);
// Notice lines in the terminal while a lost port is waited for, and when it is back.
QString waitingForPort(const QString &lostMessage);
QString portBack(const QString &where);

// --- Files ----------------------------------------------------------------------------------
QString captureOpenFailed(const QString &path, const QString &why);
QString captureNotOpen();
QString captureWriteFailed(const QString &path, const QString &why);
QString workspaceLoadFailed(const QString &path, const QString &why);
QString workspaceSaveFailed(const QString &path, const QString &why);
QString workspaceTooLarge(qint64 size, qint64 limit);
QString workspaceGrewPastLimit(qint64 limit);
QString workspaceCutOffEmpty();
QString workspaceLoadedWithNotes(const QString &path, const QStringList &notes);
QString workspaceCutOffNote();
QString workspaceLinesDroppedNote(qint64 lines, qint64 shownLines, qint64 limit, bool lastLineCut);
QString notRichText();
QString rtfNestedTooDeep(int depth);
QString fileOpenFailed(const QString &path, const QString &why);
QString notARegularFile(const QString &path);
QString sendStoppedByClose(qint64 sent, qint64 total);
// After a line typed while a file or a transfer goes out, which sent it nowhere.
QString typedLineRefused();
QString sendReadFailed(const QString &path, qint64 sent, const QString &why);
QString plotExportFailed(const QString &path, const QString &why);
QString plotImageNotWritten();

// --- XMODEM and YMODEM ----------------------------------------------------------------------
// protocol is "XMODEM" or "YMODEM"; name is a file's name as the user knows it.
QString transferWaiting(const QString &protocol, const QString &name, int seconds);
QString transferReceiveWaiting(const QString &folder);
QString transferSent(const QString &protocol, const QString &name, qint64 bytes, double seconds);
QString transferReceived(const QString &name, qint64 bytes, double seconds);
QString transferSendFailed(const QString &protocol, const QString &name, qint64 acked,
                           const QString &why);
QString transferReceiveFailed(const QString &why);
// Said after a failed receive that kept what had arrived.
QString transferPartKept(const QString &partPath, qint64 bytes);
QString transferReceiveBatchEnd(int files);
QString transferNoStart(int seconds);
QString transferNoAnswer(int retries);
QString transferBlockRefused(qint64 block, int retries);
QString transferCancelledByPeer();
QString transferStopped();
QString transferPortClosed();
QString transferReadFailed(const QString &path, const QString &why);
QString transferWriteFailed(const QString &path, const QString &why);
QString transferSenderSilent(int retries);
QString transferBadBlocks(qint64 block, int retries);
QString transferOutOfSequence(int expected, int got);
QString transferNameRefused(const QString &name);
QString transferShorterThanAnnounced(qint64 got, qint64 announced);
QString transferNoProperAnswer(int retries, qint64 noiseBytes);
QString transferSenderNoise(int retries, qint64 noiseBytes);
// A size for people: exact bytes while that is readable, with a binary unit beside it.
QString byteSize(qint64 bytes);

// --- The send panel (panelmessages.cpp) -----------------------------------------------------
QString panelEntryEmpty();
// A panel send with the port closed, after the count annotation, as for a typed line.
QString panelPortClosed();
QString panelFileRefused(const QString &path, const QString &why);
QString panelFileSaveFailed(const QString &path, const QString &why);
QString panelFileKeptAside(const QString &copy);
QString panelFileTooLarge(qint64 size, qint64 limit);
QString panelFileNotUtf8();
QString panelFileNotJson(qint64 offset, const QString &why);
QString panelFileVersion(const QString &version);
QString panelTooManyEntries(qint64 count, qint64 limit);
QString panelFieldWrong(const QString &field);
QString panelEntryRefused(qint64 number, const QString &why);
QString panelEntryNotSendable(const QString &name, const QString &why);
QString panelNothingChecked();
QString panelLineBusy();
QString panelSequencePortClosed();
QString panelBreakDone(int ms);
QString panelBreakFailed(const QString &why);
QString breakNotOnSocket(const QString &where);
QString breakNotSupported(const QString &where);
QString breakAlreadyHeld();
// --- ZMODEM ---------------------------------------------------------------------------------
QString zmodemReceiveWaiting(const QString &folder);
QString zmodemAutoReceive(const QString &folder);
QString zmodemAutoSend();
QString zmodemSendWaiting(int files, qint64 bytes);
QString zmodemFileReceived(const QString &name, qint64 bytes, qint64 resumedAt, double seconds);
QString zmodemFileSent(const QString &name, qint64 bytes, qint64 resumedAt);
QString zmodemFileSkipped(const QString &name);
QString zmodemReceiveDone(int files, qint64 bytes, double seconds, int recoveries);
QString zmodemSendDone(int files, qint64 bytes, double seconds, int recoveries);
QString zmodemReceiveFailed(const QString &why);
QString zmodemSendFailed(const QString &why, int files, qint64 bytes);
QString zmodemEndedInFile();
QString zmodemEndlessHeaders(int count);
QString zmodemBadPosition(qint64 pos, qint64 size);
QString zmodemFileShrank();
QString zmodemAutoCancelled();

// --- The program ----------------------------------------------------------------------------
QString signalWatchFailed(const QString &call, const QString &why);

// --- The settings file ----------------------------------------------------------------------
QString settingsSaveFailed(const QString &path, const QString &why);
QString settingsFolderInPlace();
QString settingsNotAFile();
QString settingsFileReadOnly();
QString settingsFolderMissing(const QString &folder);
QString settingsFolderReadOnly(const QString &folder);
QString settingsWriteFailed();

// --- The command line and the user guide ----------------------------------------------------
QString commandLineDescription();
QString commandLineSettingsOption();
QString commandLinePortOption();
QString commandLineOpenOption();
QString commandLineHelpOption();
QString commandLineVersionOption();
QString commandLineRefused(const QString &program, const QString &why);
QString commandLineUnexpected(const QString &arguments);
QString commandLineSettingsEmpty();
QString commandLinePortInvalid(const QString &given);
QString noDisplay(const QString &program, const QString &why);
QString displayNotSet();
QString displayUnreachable(const QString &display);
QString displayNotSetFor(const QString &platform, const QString &variable);
QString userGuideMissing(const QString &installed, const QString &source);
QString userGuideUnreadable(const QString &path);
QString userGuideTitle();
QString userGuideFind();
QString userGuideFindNext();
QString userGuideFindPrevious();
QString userGuideNotFound(const QString &text);
// --- Scripts (name: the script's file name) ---------------------------------------------------
// The checks' verdict, e.g. "脚本 boot.lua：12 项检查通过，1 项失败（第 40 行 “版本号”）".
QString scriptChecks(const QString &name, int passed, int failed, int firstFailLine,
                     const QString &firstFailName);
QString scriptFinished(const QString &name);
QString scriptError(const QString &name, int line, const QString &text);
QString scriptStopped(const QString &name);
QString scriptPortClosed(const QString &name);
QString scriptMemoryExceeded(const QString &name, int mebibytes);
// The checks so far, after a script that did not run to its end.
QString scriptChecksSoFar(int passed, int failed);
QString scriptCannotRead(const QString &path, const QString &why);
QString scriptNotUtf8(const QString &path);
QString scriptPortNotOpen();
QString scriptWaitsOnlyInMain(const QString &function);
QString scriptChecksumUnknown(const QString &kind);
QString scriptPatternInvalid(const QString &pattern, const QString &why);
QString scriptReceiveOverflow(int mebibytes);
QString scriptCheckPassed(const QString &name);
QString scriptCheckFailed(const QString &name, int line);
QString scriptExitRefused();
QString scriptTransfersUnavailable();
QString scriptBusy();
QString scriptFileFilter();
// A message of Lua itself ("attempt to call a nil value ...") said in Chinese, with the original
// kept for the exact detail.
QString scriptLuaMessage(const QString &text);
QString commandLineScriptOption();
QString commandLineJunitOption();
QString commandLineJunitWithoutScript();
QString commandLineScriptEmpty();
QString scriptJunitFailed(const QString &path, const QString &why);
QString scriptHeadlessStart(const QString &name, const QString &port);

} // namespace Messages
