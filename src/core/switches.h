#pragma once

// The program's switches as the features below the window see them: the marks of port open, DTR,
// RTS, capture on, send CR, hex mode and loop send, and whether a tools item is enabled.
// ProgramState holds them; the tools menu only shows them.
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
};
