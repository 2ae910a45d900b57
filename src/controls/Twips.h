#pragma once
// Window geometry is laid out in twips: 1/1440 inch, so 15 twips make one pixel at 96 dpi.
// Positions are given to Qt in device-independent pixels and Qt scales them for high DPI.

#include <QRect>
#include <QSize>

constexpr int TwipsPerPixel = 15;

constexpr int TwipsToPx(int twips) {
    // Round to the nearest pixel, halves away from zero.
    return twips >= 0 ? (twips + TwipsPerPixel / 2) / TwipsPerPixel
                      : -((-twips + TwipsPerPixel / 2) / TwipsPerPixel);
}

constexpr QRect TwipsRect(int left, int top, int width, int height) {
    return QRect(TwipsToPx(left), TwipsToPx(top), TwipsToPx(width), TwipsToPx(height));
}

constexpr QSize TwipsSize(int width, int height) {
    return QSize(TwipsToPx(width), TwipsToPx(height));
}
