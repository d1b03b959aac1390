#pragma once
// The Color correction page's preview: loads the picture named in the page's
// PrivateDevMode (or the built-in photograph), corrects it with the settings
// the page's controls show, and draws it inside a frame: 192 x 192 at 96 DPI,
// and above 96 DPI 192 x DPI / 96 device pixels square, shown 1:1.
#ifndef UNICODE
#error "UNICODE must be defined before any Windows header"
#endif
#include <windows.h>

#include "uiplugin/settings/private_devmode.h"

// The page's operation that reads its controls into a settings block (and
// refreshes its read-outs); called once per paint that has a picture.
struct ReadControlsFn {
    void (*read)(void *context, HWND page, qx::CorrectionSettings *settings) = nullptr;
    void *context = nullptr;
};

// The page's scratch block and its size: a cut-out larger than 192 x 192
// needs qx::PreviewScratchBytes(side) bytes; with fewer the preview is
// prepared at 192 and stretched, as on a 96-DPI screen.
struct PreviewScratch {
    void *block = nullptr;
    size_t bytes = 0;
};

// The page's WM_PAINT: begins and ends the paint itself. `privateDevMode` is
// the page's 576-byte block (any alignment); its previewImagePath is cleared
// (all 520 bytes) when the picture cannot be used, and kept, unopened, when
// it lies on the network and was not picked in `page` (picture_open.h).
// `previewScratch` is the page's block, needed for pictures larger than the
// preview. The DPI is the page window's own.
void RenderPreview(HWND page, void *privateDevMode, PreviewScratch previewScratch, ReadControlsFn readControls);
// The same with a 147,456-byte scratch block (or none).
void RenderPreview(HWND page, void *privateDevMode, void *previewScratch, ReadControlsFn readControls);

// Everything RenderPreview does between BeginPaint and EndPaint, on any DC
// (tests hand in a memory DC), with the module that holds bitmaps 141 to 145.
void DrawPreview(HDC paintDc, HWND page, void *privateDevMode, PreviewScratch previewScratch,
                 ReadControlsFn readControls, HINSTANCE module);
// The same with a 147,456-byte scratch block, which serves a 192 preview.
void DrawPreview(HDC paintDc, HWND page, void *privateDevMode, void *previewScratch, ReadControlsFn readControls,
                 HINSTANCE module);

// Asks for a repaint of the picture area only, without erasing it.
void InvalidatePreview(HWND page);

// The page is laid out in dialog units, which grow with the screen's DPI;
// the preview's pixels grow with them. 96 DPI is the size everything was
// drawn for.
constexpr int kBaseDpi = 96;
constexpr int kMaxDpi = 960;
constexpr int kPreviewOrigin = 5;  // the picture's top-left corner at 96 DPI

// A DC's vertical DPI, kBaseDpi when it is not above it (or is absurd).
int DpiOf(HDC dc);
// The same for a window: its own DPI (GetDpiForWindow, where the system has
// it), else the system's through a DC of the window.
int WindowDpi(HWND window);
// `pixels` at 96 DPI in pixels at `dpi`.
int ScaleToDpi(int pixels, int dpi);
// The rectangle the picture is stretched into, in the page's client
// coordinates; the frame is drawn one pixel outside it. At 96 DPI (5, 5)
// to (197, 197).
RECT PreviewArea(int dpi);
