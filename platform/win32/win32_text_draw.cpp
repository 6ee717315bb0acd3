// win32_text_draw.cpp - fonts, and text drawn by GDI into 32-bit pictures.
//
// The window's back buffer is a DIB section in a memory DC, so text goes
// straight into it; any other picture is drawn through a scratch DIB
// section of its size.  Text arrives as UTF-8 and is drawn with the W calls.
#include "platform/win32/win32_backend.h"

#include <cstdlib>
#include <cstring>

#include "platform/win32/io/win32_text.h"

namespace {

// Every face is asked for the same way (the Turkish character set, string
// output precision, stroke clipping, draft quality) with a variable pitch;
// the family tells the font mapper what to look for when the face is
// missing: the small face is a sans-serif one, the others are roman.
const BYTE FONT_CHARSET = 162;
const BYTE FONT_OUT_PRECISION = 1;
const BYTE FONT_CLIP_PRECISION = 2;
const BYTE FONT_QUALITY = 1;
const BYTE SMALL_FACE_FAMILY = VARIABLE_PITCH | FF_SWISS;   // 0x22
const BYTE OTHER_FACE_FAMILY = VARIABLE_PITCH | FF_ROMAN;   // 0x12
const char SMALL_FACE[] = "Small Fonts";

const int FACE_CAP = LF_FACESIZE;
// Texts up to this many UTF-16 units are converted on the stack.
const int STACK_TEXT_CAP = 512;

HDC measure_dc = nullptr;   // a memory DC for measuring, made when first needed

HFONT font_of(plat_font font) {
    return font ? (HFONT)(uintptr_t)font : (HFONT)GetStockObject(DEFAULT_GUI_FONT);
}

// UTF-8 to UTF-16 for drawing.  Page text that is not valid UTF-8 is still
// drawn, its bad bytes as the replacement character, rather than dropped.
struct WideText {
    wchar_t stack[STACK_TEXT_CAP];
    wchar_t *heap = nullptr;
    wchar_t *text = stack;
    int length = 0;
    ~WideText() { free(heap); }
};

bool to_wide(const char *text, int length, WideText *out) {
    if (!text) return false;
    if (length < 0) length = (int)strlen(text);
    if (length == 0) return true;
    // A UTF-8 text never needs more UTF-16 units than it has bytes.
    int cap = length + 1;
    if (cap > STACK_TEXT_CAP) {
        out->heap = (wchar_t *)malloc((size_t)cap * sizeof(wchar_t));
        if (!out->heap) return false;
        out->text = out->heap;
    }
    int n = win32_utf8_to_wide_n(text, length, out->text, cap);
    if (n < 0) n = MultiByteToWideChar(CP_UTF8, 0, text, length, out->text, cap - 1);
    if (n <= 0) return false;
    out->text[n] = 0;
    out->length = n;
    return true;
}

HDC measuring_dc(void) {
    if (!measure_dc) measure_dc = CreateCompatibleDC(nullptr);
    return measure_dc;
}

int text_width(HDC dc, const WideText &w) {
    SIZE size = {0, 0};
    if (w.length > 0) GetTextExtentPoint32W(dc, w.text, w.length, &size);
    return size.cx;
}

// Draws into dc, which holds a picture of width x height; returns the width.
int draw_into(HDC dc, int width, int height, HFONT font, int x, int y, const WideText &w,
              uint32_t colour, const PlatRect *clip) {
    HGDIOBJ old_font = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    // 0x00RRGGBB as the program gives it; COLORREF is 0x00BBGGRR.
    SetTextColor(dc, RGB((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF));
    RECT area = {0, 0, width, height};
    if (clip) {
        RECT wanted = {clip->left, clip->top, clip->right, clip->bottom};
        if (!IntersectRect(&area, &area, &wanted)) SetRectEmpty(&area);
    }
    if (!IsRectEmpty(&area)) ExtTextOutW(dc, x, y, ETO_CLIPPED, &area, w.text, (UINT)w.length, nullptr);
    int advance = text_width(dc, w);
    SelectObject(dc, old_font);
    // The program writes the pixels itself next: GDI's batch must be done.
    GdiFlush();
    return advance;
}

} // namespace

// The height is the character height (a negative height to CreateFont).
plat_font plat_create_font(const char *face, int height, int weight) {
    wchar_t wide_face[FACE_CAP];
    if (win32_utf8_to_wide(face ? face : "", wide_face, FACE_CAP) < 0) wide_face[0] = 0;
    const int pixels = height < 0 ? -height : height;
    const BYTE family = (face && lstrcmpiA(face, SMALL_FACE) == 0) ? SMALL_FACE_FAMILY
                                                                    : OTHER_FACE_FAMILY;
    HFONT font = CreateFontW(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, FONT_CHARSET,
                             FONT_OUT_PRECISION, FONT_CLIP_PRECISION, FONT_QUALITY, family,
                             wide_face);
    return (plat_font)(uintptr_t)font;
}

void plat_delete_font(plat_font font) {
    if (font) DeleteObject((HFONT)(uintptr_t)font);
}

int plat_draw_text(uint32_t *pixels, int width, int height, plat_font font,
                   int x, int y, const char *text, int length, uint32_t colour,
                   const PlatRect *clip) {
    if (!pixels || width <= 0 || height <= 0) return 0;
    WideText w;
    if (!to_wide(text, length, &w) || w.length == 0) return 0;
    HFONT hfont = font_of(font);

    HDC back = win32_back_buffer_dc(pixels, width, height);
    if (back) return draw_into(back, width, height, hfont, x, y, w, colour, clip);

    // Another picture: drawn in a scratch DIB section holding a copy of it.
    HDC dc = CreateCompatibleDC(nullptr);
    void *bits = nullptr;
    HBITMAP bitmap = dc ? win32_create_top_down_dib(dc, width, height, &bits) : nullptr;
    if (!bitmap) {
        if (dc) DeleteDC(dc);
        return 0;
    }
    const size_t bytes = (size_t)width * (size_t)height * 4;
    memcpy(bits, pixels, bytes);
    HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
    int advance = draw_into(dc, width, height, hfont, x, y, w, colour, clip);
    memcpy(pixels, bits, bytes);
    SelectObject(dc, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return advance;
}

void plat_measure_text(plat_font font, const char *text, int length, int *width, int *height) {
    int w = 0, h = 0;
    HDC dc = measuring_dc();
    WideText wide;
    if (dc && to_wide(text ? text : "", length, &wide)) {
        HGDIOBJ old_font = SelectObject(dc, font_of(font));
        TEXTMETRICW metrics;
        if (GetTextMetricsW(dc, &metrics)) h = metrics.tmHeight;
        w = text_width(dc, wide);
        SelectObject(dc, old_font);
    }
    if (width) *width = w;
    if (height) *height = h;
}

void win32_text_release(void) {
    if (measure_dc) DeleteDC(measure_dc);
    measure_dc = nullptr;
}
