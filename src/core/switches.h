#pragma once

// The program's switches: port open, DTR, RTS, capture on, send CR, hex mode, loop send, and the
// enabled state of the tools items. Their marks live in the tools menu, which the user sees, so
// the menu stays their one source; the features below the window read and set them through this
// interface and never see a widget.
class Switches
{
public:
    // The tools items, numbered by their place in the menu (separators included).
    enum Item {
        Settings = 0,
        OpenPort = 1,
        Dtr = 2,
        Rts = 3,
        SendFile = 4,
        Capture = 5,
        SendCr = 6,
        HexMode = 7,
        LoopSend = 8,
        LoadWorkspace = 10,
        SaveWorkspace = 11,
        ClearWorkspace = 12,
        HexView = 14,
        Exit = 16,
        CommandCount = 17,
    };

    virtual ~Switches() = default;

    virtual bool checked(int item) const = 0;
    virtual void setChecked(int item, bool on) = 0;
    virtual bool enabled(int item) const = 0;
    virtual void setEnabled(int item, bool on) = 0;
};
