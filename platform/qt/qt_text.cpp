// qt_text.cpp - fonts, and text drawn straight into the program's pictures.
//
// The program asks for the faces of a Windows machine.  Where this machine
// lacks one, the table below names the faces to use instead, in order of
// preference; a face in neither place is left to fontconfig's own fallback.
#include "platform/qt/qt_backend.h"

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPainter>

#include <cstring>
#include <string>
#include <strings.h>
#include <unordered_map>
#include <vector>

namespace {

struct FaceSubstitute {
    const char *face;
    const char *instead[2];   // tried in order; null ends the list
};

// Metric-compatible faces where they exist (Liberation Sans for Arial); for
// the two small faces, narrow ones, since the list's columns are tight at
// 9 and 11 pixels; then the DejaVu faces every Debian desktop has.
const FaceSubstitute FACE_SUBSTITUTES[] = {
    {"MS Serif", {"Nimbus Sans Narrow", "Liberation Serif"}},
    {"Arial", {"Liberation Sans", "DejaVu Sans"}},
    {"Small Fonts", {"DejaVu Sans Condensed", "DejaVu Sans"}},
    {"Tahoma", {"DejaVu Sans", nullptr}},
    {"Thoma", {"DejaVu Sans", nullptr}},
};

// Size when the program leaves it to the system (height 0).
const int DEFAULT_PIXEL_HEIGHT = 12;

// Texts whose width a font keeps (see advance_of).
const int ADVANCE_CACHE_MAX = 4096;

// A text as drawn once, kept to be drawn again without Qt: what each pixel
// of its box took of the pen, per colour channel (Qt may smooth per
// subpixel), for one clip relative to the text's origin.
struct TextMask {
    int advance = 0;
    int left = 0, top = 0, width = 0, height = 0;   // the box, relative to the origin
    std::vector<uint8_t> cover;                    // width * height * 3: red, green, blue
};

// Masks a font keeps: the window draws the same addresses, sizes and
// labels at every paint while downloads run, and shaping and rasterising
// them again through a painter was most of what painting cost.  Bounded in
// count and bytes; when full it starts afresh.
const size_t MASK_CACHE_MAX = 512;
const size_t MASK_CACHE_MAX_BYTES = 4u << 20;

struct FontEntry {
    QFont font;
    QFontMetrics metrics;
    // Widths of texts drawn or measured before: the window draws the same
    // addresses and sizes at every paint, and measuring shapes the text
    // all over again.
    QHash<QString, int> advances;
    std::unordered_map<std::string, TextMask> masks;
    size_t mask_bytes = 0;
    explicit FontEntry(const QFont &f) : font(f), metrics(f) {}
};

int advance_of(FontEntry *f, const QString &s) {
    auto found = f->advances.constFind(s);
    if (found != f->advances.constEnd()) return *found;
    if (f->advances.size() >= ADVANCE_CACHE_MAX) f->advances.clear();
    const int advance = f->metrics.horizontalAdvance(s);
    f->advances.insert(s, advance);
    return advance;
}

std::vector<FontEntry *> fonts;   // handle = index + 1; null once deleted
FontEntry *default_font = nullptr;

bool face_installed(const QStringList &families, const QString &face) {
    return families.contains(face, Qt::CaseInsensitive);
}

QString resolve_face(const char *face) {
    QString wanted = QString::fromUtf8(face ? face : "");
    const QStringList families = QFontDatabase::families();
    if (wanted.isEmpty() || face_installed(families, wanted)) return wanted;
    for (const FaceSubstitute &s : FACE_SUBSTITUTES) {
        if (strcasecmp(s.face, face) != 0) continue;
        for (const char *instead : s.instead) {
            if (instead && face_installed(families, QString::fromLatin1(instead)))
                return QString::fromLatin1(instead);
        }
    }
    return wanted;
}

QFont make_font(const QString &family, int pixel_height, int weight) {
    QFont font(family);
    font.setPixelSize(pixel_height);
    font.setWeight((QFont::Weight)weight);
    font.setHintingPreference(QFont::PreferFullHinting);
    // Windows' text output places glyphs by their advances alone.
    font.setKerning(false);
    return font;
}

// Font 0 is the backend's default face; an unknown handle draws nothing.
FontEntry *font_entry(plat_font font) {
    if (font == 0) {
        if (!default_font && qt_app_ready())
            default_font = new FontEntry(make_font(QGuiApplication::font().family(),
                                                   DEFAULT_PIXEL_HEIGHT, 400));
        return default_font;
    }
    if (font > fonts.size()) return nullptr;
    return fonts[font - 1];
}

QString text_of(const char *text, int length) {
    if (!text) return QString();
    if (length < 0) length = (int)strlen(text);
    return QString::fromUtf8(text, length);
}

} // namespace

// The height is the character height (Windows' negative height); weights
// run 100 to 900 as in Windows, which Qt 6 shares.
plat_font plat_create_font(const char *face, int height, int weight) {
    if (!qt_app_ready()) return 0;
    int pixels = height < 0 ? -height : height;
    if (pixels == 0) pixels = DEFAULT_PIXEL_HEIGHT;
    if (weight <= 0) weight = 400;
    if (weight > 1000) weight = 1000;
    fonts.push_back(new FontEntry(make_font(resolve_face(face), pixels, weight)));
    return (plat_font)fonts.size();
}

void plat_delete_font(plat_font font) {
    if (font == 0 || font > fonts.size()) return;
    delete fonts[font - 1];
    fonts[font - 1] = nullptr;
}

namespace {

// Room around the advance for glyphs that reach past it (italic overhang,
// a stroke left of the origin).
const int MASK_MARGIN = 4;

// Draws the text once, white on black, within rel (the clip relative to the
// origin) and keeps how much of the pen every pixel took.
void make_mask(FontEntry *f, const QString &s, int advance, const QRect &rel, TextMask *m) {
    m->advance = advance;
    QRect box(-MASK_MARGIN, 0, advance + 2 * MASK_MARGIN, f->metrics.height() + MASK_MARGIN);
    box &= rel;
    if (box.isEmpty()) return;
    QImage image(box.width(), box.height(), QImage::Format_RGB32);
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setFont(f->font);
        painter.setPen(QColor(255, 255, 255));
        painter.drawText(QPoint(-box.left(), -box.top() + f->metrics.ascent()), s);
    }
    // Trimmed to the pixels the text touched.
    int x0 = box.width(), y0 = box.height(), x1 = -1, y1 = -1;
    for (int yy = 0; yy < box.height(); yy++) {
        const uint32_t *row = (const uint32_t *)image.constScanLine(yy);
        for (int xx = 0; xx < box.width(); xx++) {
            if ((row[xx] & 0xFFFFFFu) == 0) continue;
            if (xx < x0) x0 = xx;
            if (xx > x1) x1 = xx;
            if (yy < y0) y0 = yy;
            if (yy > y1) y1 = yy;
        }
    }
    if (x1 < 0) return;
    m->left = box.left() + x0;
    m->top = box.top() + y0;
    m->width = x1 - x0 + 1;
    m->height = y1 - y0 + 1;
    m->cover.resize((size_t)m->width * (size_t)m->height * 3);
    uint8_t *out = m->cover.data();
    for (int yy = y0; yy <= y1; yy++) {
        const uint32_t *row = (const uint32_t *)image.constScanLine(yy);
        for (int xx = x0; xx <= x1; xx++) {
            *out++ = (uint8_t)(row[xx] >> 16);
            *out++ = (uint8_t)(row[xx] >> 8);
            *out++ = (uint8_t)row[xx];
        }
    }
}

inline uint32_t blend_channel(uint32_t pen, uint32_t under, uint32_t cover) {
    // under + (pen - under) * cover / 255, rounded
    uint32_t v = pen * cover + under * (255 - cover) + 128;
    return (v + (v >> 8)) >> 8;
}

// Lays the mask at the origin (x, y) into the picture, within area.
void blend_mask(const TextMask &m, uint32_t *pixels, int width, int x, int y, const QRect &area,
                uint32_t colour) {
    const QRect box = QRect(x + m.left, y + m.top, m.width, m.height) & area;
    if (box.isEmpty()) return;
    const uint32_t pr = (colour >> 16) & 0xFF, pg = (colour >> 8) & 0xFF, pb = colour & 0xFF;
    for (int yy = box.top(); yy <= box.bottom(); yy++) {
        const uint8_t *cover =
            m.cover.data() + ((size_t)(yy - y - m.top) * (size_t)m.width + (size_t)(box.left() - x - m.left)) * 3;
        uint32_t *to = pixels + (size_t)yy * (size_t)width + (size_t)box.left();
        for (int xx = box.left(); xx <= box.right(); xx++, cover += 3, to++) {
            const uint32_t cr = cover[0], cg = cover[1], cb = cover[2];
            if ((cr | cg | cb) == 0) continue;
            if ((cr & cg & cb) == 255) {
                *to = colour & 0xFFFFFFu;
                continue;
            }
            const uint32_t under = *to;
            *to = (blend_channel(pr, (under >> 16) & 0xFF, cr) << 16) |
                  (blend_channel(pg, (under >> 8) & 0xFF, cg) << 8) |
                  blend_channel(pb, under & 0xFF, cb);
        }
    }
}

// The mask of the text within rel, made the first time it is asked for.
const TextMask *mask_of(FontEntry *f, const char *text, int length, const QRect &rel) {
    std::string key;
    key.reserve((size_t)length + 16);
    const int32_t corners[4] = {rel.left(), rel.top(), rel.right(), rel.bottom()};
    key.append((const char *)corners, sizeof corners);
    key.append(text, (size_t)length);
    auto found = f->masks.find(key);
    if (found != f->masks.end()) return &found->second;
    QString s = QString::fromUtf8(text, length);
    if (s.isEmpty()) return nullptr;
    if (f->masks.size() >= MASK_CACHE_MAX || f->mask_bytes >= MASK_CACHE_MAX_BYTES) {
        f->masks.clear();
        f->mask_bytes = 0;
    }
    TextMask &m = f->masks[key];
    make_mask(f, s, advance_of(f, s), rel, &m);
    f->mask_bytes += m.cover.size() + key.size();
    return &m;
}

} // namespace

// The text is drawn from a mask made once per text, font and clip (drawn
// by Qt white on black), laid into the picture with the pen's colour: the
// same pixels a painter would give, without shaping the text again.
int plat_draw_text(uint32_t *pixels, int width, int height, plat_font font,
                   int x, int y, const char *text, int length, uint32_t colour,
                   const PlatRect *clip) {
    FontEntry *f = font_entry(font);
    if (!f || !pixels || width <= 0 || height <= 0 || !text) return 0;
    if (length < 0) length = (int)strlen(text);
    if (length == 0) return 0;

    QRect area(0, 0, width, height);
    if (clip) area &= QRect(clip->left, clip->top, clip->right - clip->left,
                            clip->bottom - clip->top);
    // The clip as the text's own box sees it: the same text under the same
    // clip at another place is the same mask.
    const TextMask *m = mask_of(f, text, length, area.translated(-x, -y));
    if (!m) return 0;
    if (!area.isEmpty()) blend_mask(*m, pixels, width, x, y, area, colour);
    return m->advance;
}

void plat_measure_text(plat_font font, const char *text, int length, int *width, int *height) {
    FontEntry *f = font_entry(font);
    QString s = text_of(text, length);
    if (width) *width = f ? advance_of(f, s) : 0;
    if (height) *height = f ? f->metrics.height() : 0;
}

void qt_text_release(void) {
    for (FontEntry *f : fonts) delete f;
    fonts.clear();
    delete default_font;
    default_font = nullptr;
}
