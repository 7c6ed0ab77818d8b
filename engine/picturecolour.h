#pragma once

// Which YCbCr-to-RGB matrix and which value range a picture's samples use. The decoder reads the
// stream's tags; the renderer's shader converts with the result, so a wrong choice shows as wrong
// colours on screen (a BT.709 picture converted as BT.601 turns greens yellow and reds orange).
//
// Untagged pictures follow what players do: BT.601 below 720 lines (standard definition), BT.709
// from 720 lines up. Limited range (luma 16-235, chroma 16-240) unless the stream says full or
// the decoder's format is a full-range one (the JPEG-style formats).
//
// A value type: a pure function of its inputs, any thread.
enum class ColourMatrix { Bt601, Bt709, Bt2020 };

struct PictureColour {
    // The tag codes are those of ITU-T H.273 (FFmpeg's AVColorSpace and AVColorRange use the same
    // numbers): matrixCode 1 BT.709, 4/5/6 BT.601 kinds, 9/10 BT.2020, anything else untagged;
    // rangeCode 2 full, anything else limited. fullRangeFormat: the pixel format itself is full
    // range whatever the tag says. height: picture lines, for untagged pictures.
    static PictureColour forTags(int matrixCode, int rangeCode, bool fullRangeFormat, int height);

    ColourMatrix matrix = ColourMatrix::Bt601;
    bool fullRange = false;

    bool operator==(const PictureColour &other) const
    {
        return matrix == other.matrix && fullRange == other.fullRange;
    }
};
