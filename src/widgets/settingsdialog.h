#pragma once

#include <QDialog>

class Dialogs;
class QComboBox;
class QLabel;
class QPushButton;
class SettingsStore;

// The modal dialog in which the user picks the six port settings and stores them; they take
// effect at the next start, so storing leaves the port alone.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    SettingsDialog(SettingsStore &store, Dialogs &dialogs, QWidget *parent = nullptr);

    // Fills the lists and selects what the store holds now.
    void loadStored();
    // "应用": stores all six values and asks for a restart; the dialog stays open.
    void apply();
    // "取消": closes without storing.
    void cancel();

    // The fixed entries of each list, the port list included, in display order.
    static QStringList portEntries();
    static QStringList baudEntries();
    static QStringList databitEntries();
    static QStringList parityEntries();
    static QStringList stopbitEntries();
    static QStringList flowEntries();

Q_SIGNALS:
    // The six values went to the store (or as many as it took); the port name shown from it
    // may have changed.
    void stored();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QLabel *addLabel(const QString &name, const QString &caption, int left, int top);
    QComboBox *addCombo(const QString &name, int left, int top);
    QPushButton *addButton(const QString &name, const QString &caption, int left, int top);
    // The closed list shows the chosen entry's tip too.
    void showPortTarget(int index);
    static void fillAndSelect(QComboBox *combo, const QStringList &entries, const QString &value);

    SettingsStore &m_store;
    Dialogs &m_dialogs;
    QComboBox *m_portCombo = nullptr;
    QComboBox *m_baudCombo = nullptr;
    QComboBox *m_dataBitsCombo = nullptr;
    QComboBox *m_parityCombo = nullptr;
    QComboBox *m_stopBitsCombo = nullptr;
    QComboBox *m_flowCombo = nullptr;
    QPushButton *m_applyButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};
