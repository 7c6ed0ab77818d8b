#include "picturecolour.h"

PictureColour PictureColour::forTags(int matrixCode, int rangeCode, bool fullRangeFormat, int height)
{
    PictureColour colour;
    switch (matrixCode) {
    case 1:
        colour.matrix = ColourMatrix::Bt709;
        break;
    case 4:   // FCC, practically BT.601
    case 5:   // BT.470 B/G (PAL)
    case 6:   // SMPTE 170M (NTSC)
        colour.matrix = ColourMatrix::Bt601;
        break;
    case 9:    // BT.2020 non-constant luminance
    case 10:   // constant luminance has no linear matrix; the non-constant one is the near miss
        colour.matrix = ColourMatrix::Bt2020;
        break;
    default:
        colour.matrix = height >= 720 ? ColourMatrix::Bt709 : ColourMatrix::Bt601;
        break;
    }
    colour.fullRange = fullRangeFormat || rangeCode == 2;
    return colour;
}
