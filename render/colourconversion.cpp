#include "colourconversion.h"

ColourConversion ColourConversion::forColour(const PictureColour &colour)
{
    // Luma weights of red and blue; green takes the rest.
    double kr = 0.299, kb = 0.114;
    if (colour.matrix == ColourMatrix::Bt709)
        kr = 0.2126, kb = 0.0722;
    else if (colour.matrix == ColourMatrix::Bt2020)
        kr = 0.2627, kb = 0.0593;
    const double kg = 1.0 - kr - kb;

    const double lumaScale = colour.fullRange ? 1.0 : 255.0 / 219.0;
    const double chromaScale = colour.fullRange ? 1.0 : 255.0 / 224.0;
    const double crToR = 2.0 * (1.0 - kr);
    const double cbToB = 2.0 * (1.0 - kb);
    const double cbToG = -cbToB * kb / kg;
    const double crToG = -crToR * kr / kg;

    ColourConversion c;
    c.matrix = {float(lumaScale), float(lumaScale), float(lumaScale),
                0.0f, float(cbToG * chromaScale), float(cbToB * chromaScale),
                float(crToR * chromaScale), float(crToG * chromaScale), 0.0f};
    c.offset = {colour.fullRange ? 0.0f : float(16.0 / 255.0), float(128.0 / 255.0), float(128.0 / 255.0)};
    return c;
}
