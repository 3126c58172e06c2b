#pragma once

// The program's switches: port open, DTR, RTS, capture on, send CR, hex mode, loop send, and the
// enabled state of the tools items. Their marks live in the tools menu, which the user sees, so
// the menu stays their one source; the features below the window read and set them through this
// interface and never see a widget.
class Switches
{
public:
    // The tools items in menu order; the separators between them are not items.
    enum Item {
        Settings,
        OpenPort,
        Dtr,
        Rts,
        SendFile,
        Capture,
        SendCr,
        HexMode,
        LoopSend,
        LoadWorkspace,
        SaveWorkspace,
        ClearWorkspace,
        HexView,
        Exit,
        CommandCount,
    };

    virtual ~Switches() = default;

    virtual bool checked(int item) const = 0;
    virtual void setChecked(int item, bool on) = 0;
    virtual bool enabled(int item) const = 0;
    virtual void setEnabled(int item, bool on) = 0;
};
