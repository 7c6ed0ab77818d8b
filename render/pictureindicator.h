#pragma once

// The square in the picture's top-left corner that tells framewise's clips apart.
enum class PictureIndicator {
    None,
    First,    // red: the first clip is on screen
    Second,   // blue: the second clip is on screen
};
