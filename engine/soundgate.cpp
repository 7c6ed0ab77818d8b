#include "soundgate.h"

bool SoundGate::opens(int pictures, int audioBlocks, bool inputEnded)
{
    return inputEnded || pictures >= picturesFirst || audioBlocks >= soundMark;
}
