// Colour depth and nearest-colour mapping of the terminal window.
#include "frontend/terminal/terminal_colour.h"

#include <cstdio>
#include <cstring>

namespace platform::term {
namespace {

int squaredDistance(int r1, int g1, int b1, int r2, int g2, int b2) {
    return (r1 - r2) * (r1 - r2) + (g1 - g2) * (g1 - g2) + (b1 - b2) * (b1 - b2);
}

// The index (0..5) of the cube level nearest to a component; the lower level on a tie.
int nearestCubeLevel(int component, int* level) {
    static const int levels[6] = {0, 95, 135, 175, 215, 255};
    int best = 0;
    for (int i = 1; i < 6; ++i) {
        int d = component - levels[i];
        int bestD = component - levels[best];
        if (d * d < bestD * bestD) {
            best = i;
        }
    }
    *level = levels[best];
    return best;
}

} // namespace

ColourDepth chooseColourDepth(const char* colorterm, bool hasColours, int terminfoColours,
                              bool rgbFlag) {
    bool trueColour = colorterm != nullptr && (std::strcmp(colorterm, "truecolor") == 0 ||
                                               std::strcmp(colorterm, "24bit") == 0);
    if (trueColour || rgbFlag || terminfoColours >= 0x1000000) {
        return ColourDepth::TrueColour;
    }
    if (!hasColours || terminfoColours < 8) {
        return ColourDepth::Mono;
    }
    return terminfoColours >= 256 ? ColourDepth::Palette256 : ColourDepth::Basic8;
}

int nearestBasic8(COLORREF colour) {
    static const int basic[8][3] = {{0, 0, 0},   {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
                                    {0, 0, 238}, {205, 0, 205}, {0, 205, 205}, {229, 229, 229}};
    int r = GetRValue(colour);
    int g = GetGValue(colour);
    int b = GetBValue(colour);
    int best = 0;
    int bestDistance = squaredDistance(r, g, b, basic[0][0], basic[0][1], basic[0][2]);
    for (int i = 1; i < 8; ++i) {
        int d = squaredDistance(r, g, b, basic[i][0], basic[i][1], basic[i][2]);
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

int nearestXterm256(COLORREF colour) {
    int r = GetRValue(colour);
    int g = GetGValue(colour);
    int b = GetBValue(colour);
    int lr = 0;
    int lg = 0;
    int lb = 0;
    int cube = 16 + 36 * nearestCubeLevel(r, &lr) + 6 * nearestCubeLevel(g, &lg) +
               nearestCubeLevel(b, &lb);
    int cubeDistance = squaredDistance(r, g, b, lr, lg, lb);

    int average = (r + g + b) / 3;
    int step = (average - 8 + 5) / 10;
    step = step < 0 ? 0 : (step > 23 ? 23 : step);
    int grey = 8 + 10 * step;
    int greyDistance = squaredDistance(r, g, b, grey, grey, grey);
    return greyDistance < cubeDistance ? 232 + step : cube;
}

std::string trueColourSgr(COLORREF fg, COLORREF bg) {
    char text[64];
    std::snprintf(text, sizeof text, "\x1b[38;2;%d;%d;%d;48;2;%d;%d;%dm", GetRValue(fg),
                  GetGValue(fg), GetBValue(fg), GetRValue(bg), GetGValue(bg), GetBValue(bg));
    return text;
}

} // namespace platform::term
