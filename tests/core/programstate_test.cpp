#include "core/programstate.h"

#include <gtest/gtest.h>

namespace {

using Port = ProgramState::Port;

// The enable rules in one table: the line's items need the open port; the items that start long
// work and the transfers need no job running besides. A port that is opening or being waited for
// is not open.
TEST(ProgramStateTest, EnabledItemsFollowThePortAndTheJob)
{
    struct Case
    {
        Port port;
        bool job;
        bool line; // DTR, RTS, capture
        bool sendFile;
        bool longWork; // load workspace, hex view
        bool transfers;
        bool openMark;
    };
    const Case cases[] = {
            {Port::Closed, false, false, false, true, false, false},
            {Port::Opening, false, false, false, true, false, true},
            {Port::Open, false, true, true, true, true, true},
            {Port::Open, true, true, false, false, false, true},
            {Port::WaitingToReopen, false, false, false, true, false, false},
            {Port::WaitingToReopen, true, false, false, false, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "port " << int(c.port) << " job " << c.job);
        ProgramState state;
        state.setPort(c.port);
        state.setJobRunning(c.job);
        for (int item : {Switches::Dtr, Switches::Rts, Switches::Capture})
            EXPECT_EQ(state.enabled(item), c.line) << item;
        EXPECT_EQ(state.enabled(Switches::SendFile), c.sendFile);
        EXPECT_EQ(state.enabled(Switches::LoadWorkspace), c.longWork);
        EXPECT_EQ(state.enabled(Switches::HexView), c.longWork);
        EXPECT_EQ(state.transfersEnabled(), c.transfers);
        EXPECT_EQ(state.checked(Switches::OpenPort), c.openMark);
        for (int item : {Switches::Settings, Switches::SendCr, Switches::HexMode, Switches::Exit})
            EXPECT_TRUE(state.enabled(item)) << item;
    }
}

TEST(ProgramStateTest, MarksChangeOnceAndTheOpenMarkOnlyWithThePort)
{
    ProgramState state;
    int changes = 0;
    QObject::connect(&state, &ProgramState::changed, [&changes] { ++changes; });
    EXPECT_TRUE(state.checked(Switches::SendCr));
    state.setChecked(Switches::SendCr, true);
    state.setChecked(Switches::HexMode, true);
    state.setChecked(Switches::HexMode, true);
    state.setChecked(Switches::OpenPort, true);
    state.setChecked(Switches::CommandCount, true);
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(state.checked(Switches::HexMode));
    EXPECT_FALSE(state.checked(Switches::OpenPort));
    EXPECT_FALSE(state.checked(-1) || state.enabled(-1) || state.enabled(Switches::CommandCount));
}

} // namespace
