// When the sound may start after an open, a seek or a restart.
#include "engine/soundgate.h"

#include <gtest/gtest.h>

TEST(SoundGate, OpensOnPicturesAFullSoundQueueOrTheEnd)
{
    const struct {
        int pictures, audioBlocks;
        bool ended, opens;
    } rows[] = {
        {0, 0, false, false},   {3, 30, false, false}, {4, 0, false, true},
        {0, 31, false, true},   {0, 0, true, true},
    };
    for (const auto &row : rows)
        EXPECT_EQ(SoundGate::opens(row.pictures, row.audioBlocks, row.ended), row.opens)
            << row.pictures << " pictures, " << row.audioBlocks << " blocks, ended " << row.ended;
    SoundGate gate;
    gate.close();
    gate.update(3, 0, false);
    EXPECT_FALSE(gate.isOpen());
    gate.update(4, 0, false);
    gate.update(0, 0, false);   // never closes by itself
    EXPECT_TRUE(gate.isOpen());
}
