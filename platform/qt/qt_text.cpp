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
#include <strings.h>
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

struct FontEntry {
    QFont font;
    QFontMetrics metrics;
    // Widths of texts drawn or measured before: the window draws the same
    // addresses and sizes at every paint, and measuring shapes the text
    // all over again.
    QHash<QString, int> advances;
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

int plat_draw_text(uint32_t *pixels, int width, int height, plat_font font,
                   int x, int y, const char *text, int length, uint32_t colour,
                   const PlatRect *clip) {
    FontEntry *f = font_entry(font);
    if (!f || !pixels || width <= 0 || height <= 0) return 0;
    QString s = text_of(text, length);
    if (s.isEmpty()) return 0;
    int advance = advance_of(f, s);

    QRect area(0, 0, width, height);
    if (clip) area &= QRect(clip->left, clip->top, clip->right - clip->left,
                            clip->bottom - clip->top);
    if (area.isEmpty()) return advance;

    // The caller's picture is drawn on in place: its layout (blue in the
    // lowest byte) is Qt's RGB32.
    QImage image((uchar *)pixels, width, height, (qsizetype)width * 4, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setClipRect(area);
    painter.setFont(f->font);
    painter.setPen(QColor((int)((colour >> 16) & 0xFF), (int)((colour >> 8) & 0xFF),
                          (int)(colour & 0xFF)));
    // (x, y) is the top of the text; Qt draws from the baseline.
    painter.drawText(QPoint(x, y + f->metrics.ascent()), s);
    return advance;
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
