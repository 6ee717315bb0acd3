// skin_generator.cpp - draws the skin picture and the two icons.
//
// Usage: skin_generator <output folder>
// Writes skin.png (472x487), icon_window.png (48x48) and icon_tray.png
// (32x32) into the folder.  Run it with QT_QPA_PLATFORM=offscreen when no
// display is at hand.
//
// Every piece is drawn at the place display/skin_layout.h gives it.  The
// window face comes first, drawn in window coordinates at (0, 0); each
// alternate look of a face element is then made by copying the face's pixels
// under the element to the look's place and drawing the element's other state
// over them, so a look always matches the background it is copied onto.  The
// settings panel's control looks are made the same way from the panel.
//
// Sections: [PALETTE] [HELPERS] [FACE] [BUTTONS] [SCROLLBAR] [PANEL]
//           [MENU AND NOTICES] [ICONS] [MAIN]
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <cstdio>
#include <functional>

#include "display/skin_layout.h"

namespace {

const int SKIN_W = 472, SKIN_H = 487;
const int FACE_W = 288, FACE_H = 417;

// ------------------------------------------------------------- [PALETTE]
const QColor OUTLINE(11, 17, 24);
const QColor FRAME_TOP(47, 64, 84);
const QColor FRAME_BOTTOM(29, 41, 55);
const QColor BEVEL_LIGHT(88, 110, 134);
const QColor BEVEL_DARK(20, 29, 39);
const QColor LIST_BORDER(14, 21, 29);
const QColor TEXT_LIGHT(236, 241, 246);
const QColor TEXT_MUTED(146, 166, 187);
const QColor TEXT_DARK(32, 44, 56);
const QColor BUTTON(58, 78, 100);
const QColor BUTTON_HOVER(86, 112, 140);
const QColor BUTTON_PRESSED(34, 48, 63);
const QColor ACCENT(245, 178, 60);       // amber: offers, editing
const QColor ACCENT_DARK(196, 126, 18);
const QColor TEAL(60, 193, 211);         // hover and selection accent
const QColor TEAL_DARK(34, 150, 170);
const QColor GRID(128, 144, 160);        // the list's grid pen
const QColor NAME_COLUMN(239, 239, 224);
const QColor SIZE_COLUMN(217, 239, 217);
const QColor SPEED_COLUMN(239, 217, 239);
const QColor CARD(244, 246, 248);
const QColor CARD_BORDER(26, 36, 46);
const QColor FIELD_BORDER(118, 134, 150);
const QColor DANGER(214, 84, 80);

// ------------------------------------------------------------- [HELPERS]

QFont ui_font(int pixels, bool bold = false) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// The window's shape: nine rectangles that step the four corners.
bool in_region(int x, int y) {
    const int w = FACE_W, h = FACE_H;
    const int r[9][4] = {{4, 0, w - 4, 1},     {2, 1, w - 2, 2},     {4, h - 1, w - 4, h},
                         {2, h - 2, w - 2, h - 1}, {0, 4, 1, h - 4}, {1, 2, 2, h - 2},
                         {w - 1, 4, w, h - 4}, {w - 2, 2, w - 1, h - 2}, {2, 2, w - 2, h - 2}};
    for (const auto &q : r)
        if (x >= q[0] && x < q[2] && y >= q[1] && y < q[3]) return true;
    return false;
}

void set_pixel(QImage &img, int x, int y, QColor c) {
    if (x >= 0 && y >= 0 && x < img.width() && y < img.height()) img.setPixel(x, y, c.rgb());
}

// Copies a w x h block of the image from (fx, fy) to (tx, ty).
void copy_block(QImage &img, int fx, int fy, int w, int h, int tx, int ty) {
    QImage part = img.copy(fx, fy, w, h);
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(tx, ty, part);
}

// Draws an alternate look: the background block at (bx, by) of the skin is
// copied to the piece's place, then `draw` paints over it in the coordinates
// of the element's own place (ex, ey), clipped to the piece.
void make_look(QImage &skin, const SkinPiece &piece, int bx, int by, int ex, int ey,
               const std::function<void(QPainter &)> &draw) {
    copy_block(skin, bx, by, piece.w, piece.h, piece.sx, piece.sy);
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setClipRect(piece.sx, piece.sy, piece.w, piece.h);
    p.translate(piece.sx - ex, piece.sy - ey);
    draw(p);
}

// A look of a face element: its background is the face at the element's place.
void make_face_look(QImage &skin, const SkinPiece &piece, const std::function<void(QPainter &)> &draw) {
    make_look(skin, piece, piece.dx, piece.dy, piece.dx, piece.dy, draw);
}

void draw_text(QPainter &p, const QRectF &box, int flags, const QString &text, const QFont &font,
               QColor colour) {
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, flags, text);
}

QColor mix(QColor a, QColor b, double t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

// The save glyph: an arrow pointing down into a tray, centred on (cx, cy),
// `size` pixels tall.
void draw_save_glyph(QPainter &p, double cx, double cy, double size, QColor colour) {
    const double s = size / 24.0;
    QPainterPath arrow;
    arrow.moveTo(cx - 2.6 * s, cy - 11 * s);
    arrow.lineTo(cx + 2.6 * s, cy - 11 * s);
    arrow.lineTo(cx + 2.6 * s, cy - 1 * s);
    arrow.lineTo(cx + 7.5 * s, cy - 1 * s);
    arrow.lineTo(cx, cy + 6.5 * s);
    arrow.lineTo(cx - 7.5 * s, cy - 1 * s);
    arrow.lineTo(cx - 2.6 * s, cy - 1 * s);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(arrow);
    QPainterPath tray;
    tray.moveTo(cx - 10 * s, cy + 3 * s);
    tray.lineTo(cx - 10 * s, cy + 10 * s);
    tray.lineTo(cx + 10 * s, cy + 10 * s);
    tray.lineTo(cx + 10 * s, cy + 3 * s);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, 2.6 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tray);
}

// ---------------------------------------------------------------- [FACE]

// The capture button: 0 plain (nothing offered), 1 offered, 2 offered and
// hovered, 3 pressed.  Centre (30, 29), inside the 52x53 piece at (4, 3).
void draw_capture(QPainter &p, int state) {
    const QPointF c(30.5, 29.5);
    p.setPen(Qt::NoPen);
    if (state == 1 || state == 2) {
        QRadialGradient glow(c, 24);
        QColor g = ACCENT;
        g.setAlpha(state == 2 ? 150 : 95);
        glow.setColorAt(0.78, g);
        g.setAlpha(0);
        glow.setColorAt(1.0, g);
        p.setBrush(glow);
        p.drawEllipse(c, 24, 24);
    }
    p.setBrush(QColor(8, 12, 17, 200));
    p.drawEllipse(c, 21.5, 21.5);
    QLinearGradient face(0, 9, 0, 50);
    QColor glyph;
    switch (state) {
    case 0:
        face.setColorAt(0, QColor(84, 104, 126));
        face.setColorAt(1, QColor(48, 64, 82));
        glyph = QColor(150, 168, 188);
        break;
    case 1:
        face.setColorAt(0, QColor(255, 214, 112));
        face.setColorAt(1, QColor(236, 152, 30));
        glyph = QColor(58, 36, 4);
        break;
    case 2:
        face.setColorAt(0, QColor(255, 229, 150));
        face.setColorAt(1, QColor(248, 174, 58));
        glyph = QColor(46, 28, 2);
        break;
    default:
        face.setColorAt(0, QColor(214, 134, 20));
        face.setColorAt(1, QColor(242, 182, 74));
        glyph = QColor(58, 36, 4);
        break;
    }
    p.setBrush(face);
    p.drawEllipse(c, 20, 20);
    // a soft highlight on the upper half
    QLinearGradient shine(0, 10, 0, 30);
    shine.setColorAt(0, QColor(255, 255, 255, state == 3 ? 20 : 70));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(shine);
    p.drawEllipse(QPointF(30.5, 22.5), 15, 11);
    const double shift = state == 3 ? 1.0 : 0.0;
    draw_save_glyph(p, c.x() + shift, c.y() + 1 + shift, 24, glyph);
}

// Hide (kind 0) and quit (kind 1) buttons, 13x13; state 0 normal, 1 hovered,
// 2 pressed.
void draw_round_button(QPainter &p, int x, int y, int kind, int state) {
    const QPointF c(x + 6.5, y + 6.5);
    QColor fill = state == 0 ? BUTTON : state == 1 ? (kind ? DANGER : BUTTON_HOVER) : (kind ? QColor(160, 56, 52) : BUTTON_PRESSED);
    p.setPen(QPen(QColor(10, 15, 21), 1));
    p.setBrush(fill);
    p.drawEllipse(c, 6.0, 6.0);
    QColor glyph = state == 0 ? TEXT_MUTED : TEXT_LIGHT;
    p.setPen(QPen(glyph, 1.6, Qt::SolidLine, Qt::RoundCap));
    const double d = state == 2 ? 0.6 : 0.0;
    if (kind == 0) {
        p.drawLine(QPointF(c.x() - 3 + d, c.y() + 0.5 + d), QPointF(c.x() + 3 + d, c.y() + 0.5 + d));
    } else {
        p.drawLine(QPointF(c.x() - 2.6 + d, c.y() - 2.6 + d), QPointF(c.x() + 2.6 + d, c.y() + 2.6 + d));
        p.drawLine(QPointF(c.x() + 2.6 + d, c.y() - 2.6 + d), QPointF(c.x() - 2.6 + d, c.y() + 2.6 + d));
    }
}

// The settings button, 17x18 at (63, 27): three sliders.
void draw_settings_button(QPainter &p, int state) {
    QColor fill = state == 0 ? BUTTON : state == 1 ? BUTTON_HOVER : BUTTON_PRESSED;
    p.setPen(QPen(QColor(10, 15, 21), 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(63.5, 27.5, 16, 17), 3.5, 3.5);
    const double d = state == 2 ? 1.0 : 0.0;
    QColor line = state == 0 ? TEXT_MUTED : TEXT_LIGHT;
    QColor knob = state == 0 ? QColor(205, 216, 228) : TEAL;
    const double knob_x[3] = {68.5, 74.5, 70.5};
    for (int i = 0; i < 3; i++) {
        double y = 32.5 + i * 4 + d;
        p.setPen(QPen(line, 1.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(66.5, y), QPointF(76.5, y));
        p.setPen(Qt::NoPen);
        p.setBrush(knob);
        p.drawEllipse(QPointF(knob_x[i] + d * 0.5, y), 1.9, 1.9);
    }
}

// The scroll arrows, 11x12; up at (273, 58), down at (273, 389).
void draw_arrow_button(QPainter &p, int x, int y, bool up, bool hover) {
    p.setPen(QPen(QColor(10, 15, 21), 1));
    p.setBrush(hover ? BUTTON_HOVER : BUTTON);
    p.drawRoundedRect(QRectF(x + 0.5, y + 0.5, 10, 11), 2.5, 2.5);
    QPainterPath tri;
    const double cx = x + 5.5, cy = y + 6.0;
    if (up) {
        tri.moveTo(cx - 3.2, cy + 1.8);
        tri.lineTo(cx + 3.2, cy + 1.8);
        tri.lineTo(cx, cy - 2.0);
    } else {
        tri.moveTo(cx - 3.2, cy - 1.8);
        tri.lineTo(cx + 3.2, cy - 1.8);
        tri.lineTo(cx, cy + 2.0);
    }
    tri.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(hover ? TEAL : TEXT_MUTED);
    p.drawPath(tri);
}

// The web-page link, 112x10 at (88, 405).
void draw_link(QPainter &p, bool hover) {
    QFont f = ui_font(9);
    f.setUnderline(hover);
    draw_text(p, QRectF(88, 404, 112, 12), Qt::AlignHCenter | Qt::AlignVCenter,
              QStringLiteral("Visit quorvax.example \u203a"), f, hover ? TEAL : TEXT_MUTED);
}

// The scroll groove: its columns do not change from row to row, so the
// thumb's pieces can carry the same columns behind their rounded ends.
QColor groove_column(int i) {
    if (i == 0) return QColor(9, 14, 19);
    if (i == 9) return QColor(36, 50, 66);
    return QColor(20, 29, 39);
}

void draw_groove(QImage &img, int x, int y0, int y1) {
    for (int y = y0; y < y1; y++)
        for (int i = 0; i < 10; i++) set_pixel(img, x + i, y, groove_column(i));
}

// The bare face: frame, title, totals area, list frame and groove.
void draw_face(QImage &skin) {
    // Frame: a vertical gradient inside the shape, an outline on its edge and
    // a one-pixel bevel inside the outline.
    for (int y = 0; y < FACE_H; y++) {
        QColor row = mix(FRAME_TOP, FRAME_BOTTOM, y / double(FACE_H - 1));
        for (int x = 0; x < FACE_W; x++) set_pixel(skin, x, y, in_region(x, y) ? row : OUTLINE);
    }
    auto outline_at = [](int x, int y) {
        if (!in_region(x, y)) return false;
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++)
                if (!in_region(x + dx, y + dy)) return true;
        return false;
    };
    for (int y = 0; y < FACE_H; y++)
        for (int x = 0; x < FACE_W; x++) {
            if (outline_at(x, y)) {
                set_pixel(skin, x, y, OUTLINE);
            } else if (in_region(x, y)) {
                if (outline_at(x, y - 1) || outline_at(x - 1, y))
                    set_pixel(skin, x, y, BEVEL_LIGHT);
                else if (outline_at(x, y + 1) || outline_at(x + 1, y))
                    set_pixel(skin, x, y, BEVEL_DARK);
            }
        }

    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setClipRect(0, 0, FACE_W, FACE_H);

    // Title strip: the name, and what the program is for.
    QFont title = ui_font(14, true);
    draw_text(p, QRectF(63, 2, 80, 15), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quorvax"), title,
              TEXT_LIGHT);
    const int title_end = 63 + QFontMetrics(title).horizontalAdvance(QStringLiteral("Quorvax"));
    draw_text(p, QRectF(title_end + 6, 4, 120, 14), Qt::AlignLeft | Qt::AlignVCenter,
              QStringLiteral("video saver"), ui_font(10), TEXT_MUTED);

    // Totals: a bar track on the left, the overall speed on the right.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(93, 27, 190, 20, LIST_BORDER);
    p.fillRect(94, 28, 140, 18, QColor(250, 249, 238));
    p.fillRect(234, 28, 1, 18, QColor(196, 205, 214));
    p.fillRect(235, 28, 47, 18, QColor(249, 244, 244));
    p.fillRect(94, 45, 188, 1, QColor(222, 226, 218));

    // The list: a dark border around the heading band and the rows.
    p.fillRect(7, 50, 264, 348, LIST_BORDER);
    QLinearGradient band(0, 51, 0, 61);
    band.setColorAt(0, QColor(226, 233, 240));
    band.setColorAt(1, QColor(200, 211, 222));
    p.fillRect(8, 51, 262, 10, band);
    p.fillRect(8, 61, 262, 1, GRID);
    p.fillRect(213, 52, 1, 9, QColor(160, 174, 188));
    p.fillRect(248, 52, 1, 9, QColor(160, 174, 188));
    QFont heading = ui_font(8, true);
    draw_text(p, QRectF(12, 50, 150, 11), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Video page"),
              heading, QColor(52, 66, 82));
    draw_text(p, QRectF(214, 50, 34, 11), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Size"),
              heading, QColor(52, 66, 82));
    draw_text(p, QRectF(249, 50, 21, 11), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Rate"),
              heading, QColor(52, 66, 82));
    // Empty rows as the painting leaves them.
    p.fillRect(8, 62, 206, 335, NAME_COLUMN);
    p.fillRect(214, 62, 34, 335, SIZE_COLUMN);
    p.fillRect(248, 62, 22, 335, SPEED_COLUMN);
    for (int y = 73; y <= 396; y += 12) p.fillRect(8, y, 262, 1, GRID);
    p.fillRect(213, 62, 1, 335, GRID);
    p.fillRect(248, 62, 1, 335, GRID);
    p.end();

    // Scrollbar groove.
    draw_groove(skin, 273, 70, 389);
}

// The face's elements in their normal looks, drawn after the other looks
// have been made from the bare face.
void draw_face_elements(QImage &skin) {
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setClipRect(0, 0, FACE_W, FACE_H);
    draw_round_button(p, 254, 3, 0, 0);
    draw_round_button(p, 269, 3, 1, 0);
    draw_capture(p, 0);
    draw_settings_button(p, 0);
    draw_arrow_button(p, 273, 58, true, false);
    draw_arrow_button(p, 273, 389, false, false);
    draw_link(p, false);
}

// ----------------------------------------------------------- [SCROLLBAR]

// A thumb column: a capsule from row 2 to row 322 with its grip at rows
// 161-170, so that caps of any length can be cut from it.
void draw_thumb_column(QImage &skin, int x, bool highlight) {
    draw_groove(skin, x, 0, 325);
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(x, 2, 10, 321);
    QLinearGradient body(x, 0, x + 10, 0);
    if (highlight) {
        body.setColorAt(0, QColor(120, 222, 236));
        body.setColorAt(1, QColor(58, 176, 196));
    } else {
        body.setColorAt(0, QColor(146, 164, 184));
        body.setColorAt(1, QColor(104, 122, 142));
    }
    p.setPen(QPen(highlight ? QColor(22, 112, 128) : QColor(40, 54, 70), 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(x + 0.5, 2.5, 9, 320), 4.5, 4.5);
    p.setPen(Qt::NoPen);
    QColor ridge = highlight ? QColor(20, 96, 110) : QColor(52, 68, 86);
    QColor shine = highlight ? QColor(200, 246, 252) : QColor(186, 200, 214);
    for (int i = 0; i < 3; i++) {
        p.fillRect(QRect(x + 2, 162 + i * 3, 6, 1), ridge);
        p.fillRect(QRect(x + 2, 163 + i * 3, 6, 1), shine);
    }
}

// --------------------------------------------------------------- [PANEL]

// Panel coordinates are window coordinates: the panel is drawn where it
// shows, (74, 38), translated to its place in the skin, (316, 0).
const int PANEL_SHIFT_X = 316 - 74, PANEL_SHIFT_Y = 0 - 38;

void draw_check(QPainter &p, int x, int y, bool on, bool hover) {
    QRectF box(x + 1.5, y + 1.5, 11, 11);
    p.setPen(QPen(hover ? TEAL_DARK : FIELD_BORDER, 1));
    if (on)
        p.setBrush(hover ? TEAL : TEAL_DARK);
    else
        p.setBrush(hover ? QColor(222, 245, 249) : QColor(255, 255, 255));
    p.drawRoundedRect(box, 2.5, 2.5);
    if (on) {
        QPainterPath tick;
        tick.moveTo(x + 4.0, y + 7.2);
        tick.lineTo(x + 6.2, y + 9.4);
        tick.lineTo(x + 10.2, y + 4.6);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
    }
}

// A number field of width w at (x, y): state 0 disabled (the panel's own
// look), 1 normal, 2 hovered, 3 being edited.  Fields are flat boxes with a
// bottom rule and no side borders, so that a number as wide as the box
// still reads cleanly; neighbouring fields keep the panel's colour between
// them.
void draw_field(QPainter &p, int x, int y, int w, int state) {
    QColor rule, fill;
    switch (state) {
    case 0: rule = QColor(190, 199, 208); fill = QColor(229, 233, 237); break;
    case 1: rule = FIELD_BORDER; fill = Qt::white; break;
    case 2: rule = TEAL_DARK; fill = QColor(232, 249, 252); break;
    default: rule = ACCENT_DARK; fill = QColor(255, 244, 206); break;
    }
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(x, y, w, 14, fill);
    p.fillRect(x, y + 12, w, state >= 2 ? 2 : 1, rule);
    if (state >= 2) p.fillRect(x, y + 13, w, 1, rule);
    else p.fillRect(x, y + 13, w, 1, fill.darker(104));
    p.restore();
}

// The downloads-at-once box at (81, 69): the digit is drawn by the program.
void draw_max_field(QPainter &p, int state) {
    QRectF box(81.5, 69.5, 13, 13);
    QColor border = state == 0 ? FIELD_BORDER : state == 1 ? TEAL_DARK : ACCENT_DARK;
    QColor fill = state == 0 ? Qt::white : state == 1 ? QColor(236, 250, 252) : QColor(255, 246, 214);
    p.setPen(QPen(border, 1));
    p.setBrush(fill);
    p.drawRoundedRect(box, 2.5, 2.5);
    if (state == 2) {
        p.setPen(QPen(ACCENT, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(box.adjusted(1, 1, -1, -1), 1.5, 1.5);
    }
}

// The folder button at (80, 97): a folder, on a soft tile when hovered.
void draw_folder_button(QPainter &p, bool hover) {
    if (hover) {
        p.setPen(QPen(TEAL_DARK, 1));
        p.setBrush(QColor(222, 245, 249));
        p.drawRoundedRect(QRectF(80.5, 97.5, 13, 13), 2.5, 2.5);
    }
    QPainterPath back;
    back.moveTo(82.5, 100.5);
    back.lineTo(86.5, 100.5);
    back.lineTo(87.8, 102.0);
    back.lineTo(91.5, 102.0);
    back.lineTo(91.5, 108.5);
    back.lineTo(82.5, 108.5);
    back.closeSubpath();
    p.setPen(QPen(ACCENT_DARK, 1));
    p.setBrush(QColor(238, 170, 52));
    p.drawPath(back);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(252, 206, 104));
    p.drawRect(QRectF(83, 103.5, 8, 4.5));
}

void draw_panel(QImage &skin) {
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.translate(PANEL_SHIFT_X, PANEL_SHIFT_Y);
    p.setClipRect(74, 38, 153, 154);
    p.fillRect(74, 38, 153, 154, CARD_BORDER);
    p.fillRect(75, 39, 151, 152, CARD);
    p.fillRect(75, 39, 151, 2, TEAL_DARK);
    // group separators
    p.fillRect(81, 118, 139, 1, QColor(214, 220, 226));
    p.fillRect(81, 148, 139, 1, QColor(214, 220, 226));

    QFont label = ui_font(9);
    const QColor ink = TEXT_DARK;
    draw_text(p, QRectF(99, 45, 125, 14), Qt::AlignLeft | Qt::AlignVCenter,
              QStringLiteral("Show finished downloads"), label, ink);
    draw_text(p, QRectF(99, 69, 125, 14), Qt::AlignLeft | Qt::AlignVCenter,
              QStringLiteral("Downloads at once (0-9)"), label, ink);
    draw_text(p, QRectF(99, 97, 125, 14), Qt::AlignLeft | Qt::AlignVCenter,
              QStringLiteral("Download folder\u2026"), label, ink);
    draw_text(p, QRectF(99, 126, 125, 14), Qt::AlignLeft | Qt::AlignVCenter,
              QStringLiteral("Remove finished downloads"), label, ink);
    draw_text(p, QRectF(99, 156, 125, 14), Qt::AlignLeft | Qt::AlignVCenter,
              QStringLiteral("Use proxy (address : port)"), label, ink);
    draw_text(p, QRectF(79, 173, 22, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("IP"),
              ui_font(8, true), QColor(96, 112, 128));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(96, 112, 128));
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < 3; i++) p.fillRect(OCTET_FIELD_X[i] + 18, 183, 1, 2, QColor(70, 84, 98));
    p.fillRect(176, 176, 2, 2, QColor(70, 84, 98));
    p.fillRect(176, 182, 2, 2, QColor(70, 84, 98));
}

// The panel's controls in their normal looks (the proxy fields as they look
// while the proxy is off), drawn after the other looks have been made from
// the bare panel.
void draw_panel_controls(QImage &skin) {
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(PANEL_SHIFT_X, PANEL_SHIFT_Y);
    p.setClipRect(74, 38, 153, 154);
    draw_check(p, CHECK_SHOW_FINISHED_X, CHECK_SHOW_FINISHED_Y, false, false);
    draw_check(p, CHECK_REMOVE_FINISHED_X, CHECK_REMOVE_FINISHED_Y, false, false);
    draw_check(p, CHECK_USE_PROXY_X, CHECK_USE_PROXY_Y, false, false);
    draw_max_field(p, 0);
    draw_folder_button(p, false);
    for (int i = 0; i < 4; i++) draw_field(p, OCTET_FIELD_X[i], 173, 18, 0);
    draw_field(p, 180, 173, 34, 0);
}

// Looks of the panel's controls, each made from the bare panel under it.
void make_panel_look(QImage &skin, const SkinPiece &piece, int x, int y,
                     const std::function<void(QPainter &)> &draw) {
    make_look(skin, piece, x + PANEL_SHIFT_X, y + PANEL_SHIFT_Y, x, y, draw);
}

// ---------------------------------------------------- [MENU AND NOTICES]

const char *const MENU_TEXT[5] = {"Start now", "Stop", "Remove", "Open page", "Show file"};
const int MENU_TEXT_TOP[5] = {1, 16, 31, 47, 63};   // first row of each entry's 14

// Small glyphs of the menu entries, 7x7 at (x, y).
void draw_menu_glyph(QPainter &p, int entry, double x, double y, QColor c) {
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    switch (entry) {
    case 0: {
        QPainterPath t;
        t.moveTo(x + 1, y);
        t.lineTo(x + 7, y + 3.5);
        t.lineTo(x + 1, y + 7);
        t.closeSubpath();
        p.drawPath(t);
        break;
    }
    case 1: p.drawRoundedRect(QRectF(x + 0.5, y + 0.5, 6, 6), 1, 1); break;
    case 2:
        p.setPen(QPen(c, 1.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(x + 1, y + 1), QPointF(x + 6, y + 6));
        p.drawLine(QPointF(x + 6, y + 1), QPointF(x + 1, y + 6));
        break;
    case 3:
        p.setPen(QPen(c, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(x + 1, y + 6), QPointF(x + 6.5, y + 0.5));
        p.drawLine(QPointF(x + 2.5, y + 0.5), QPointF(x + 6.5, y + 0.5));
        p.drawLine(QPointF(x + 6.5, y + 0.5), QPointF(x + 6.5, y + 4.5));
        break;
    default: {
        QPainterPath f;
        f.moveTo(x, y + 1);
        f.lineTo(x + 3, y + 1);
        f.lineTo(x + 4, y + 2);
        f.lineTo(x + 7, y + 2);
        f.lineTo(x + 7, y + 7);
        f.lineTo(x, y + 7);
        f.closeSubpath();
        p.drawPath(f);
        break;
    }
    }
}

void draw_menu_entry(QPainter &p, int entry, bool highlighted) {
    const int top = MENU_TEXT_TOP[entry];
    if (highlighted) {
        p.setPen(Qt::NoPen);
        p.setBrush(TEAL_DARK);
        p.drawRoundedRect(QRectF(2, top, 66, 14), 2.5, 2.5);
    }
    QColor ink = highlighted ? Qt::white : TEXT_DARK;
    draw_menu_glyph(p, entry, 6, top + 3.5, highlighted ? Qt::white : TEAL_DARK);
    draw_text(p, QRectF(17, top, 52, 14), Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(MENU_TEXT[entry]),
              ui_font(9), ink);
}

// The menu in its own coordinates, (0, 0) to (70, 78).
void draw_menu(QPainter &p) {
    p.fillRect(0, 0, 70, 78, CARD_BORDER);
    p.fillRect(1, 1, 68, 76, QColor(252, 253, 254));
    for (int i = 0; i < 5; i++) draw_menu_entry(p, i, false);
}

void draw_offline_notice(QPainter &p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(0, 0, 107, 58, OUTLINE);
    QLinearGradient g(0, 1, 0, 57);
    g.setColorAt(0, QColor(52, 70, 92));
    g.setColorAt(1, QColor(34, 47, 62));
    p.fillRect(1, 1, 105, 56, g);
    p.fillRect(1, 1, 105, 2, ACCENT);
    p.setRenderHint(QPainter::Antialiasing);
    // a dish with its waves struck through
    const QPointF c(15.5, 23.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(TEXT_MUTED, 1.6, Qt::SolidLine, Qt::RoundCap));
    for (int r = 4; r <= 10; r += 3) p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(TEXT_MUTED);
    p.drawEllipse(c, 1.6, 1.6);
    p.setPen(QPen(ACCENT, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 13), QPointF(24, 27));
    draw_text(p, QRectF(29, 9, 75, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Offline"),
              ui_font(12, true), TEXT_LIGHT);
    draw_text(p, QRectF(4, 31, 99, 11), Qt::AlignHCenter | Qt::AlignVCenter,
              QStringLiteral("Waiting for the"), ui_font(9), QColor(200, 212, 224));
    draw_text(p, QRectF(4, 42, 99, 11), Qt::AlignHCenter | Qt::AlignVCenter,
              QStringLiteral("network to return"), ui_font(9), QColor(200, 212, 224));
}

void draw_duplicate_note(QPainter &p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(0, 0, 96, 18, ACCENT_DARK);
    p.fillRect(1, 1, 94, 16, QColor(255, 243, 204));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(ACCENT_DARK);
    p.drawEllipse(QPointF(9.5, 9.0), 5.5, 5.5);
    draw_text(p, QRectF(4, 2, 11, 14), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("!"),
              ui_font(9, true), Qt::white);
    draw_text(p, QRectF(18, 1, 77, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Already listed"),
              ui_font(9, true), QColor(102, 62, 0));
}

void draw_local(QImage &skin, const SkinPiece &piece, const std::function<void(QPainter &)> &draw) {
    QPainter p(&skin);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setClipRect(piece.sx, piece.sy, piece.w, piece.h);
    p.translate(piece.sx, piece.sy);
    draw(p);
}

// --------------------------------------------------------------- [ICONS]

QImage draw_icon(int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 48.0;
    QLinearGradient bg(0, 0, 0, size);
    bg.setColorAt(0, QColor(58, 80, 104));
    bg.setColorAt(1, QColor(26, 38, 52));
    p.setPen(QPen(OUTLINE, 1.0 * s));
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(1.5 * s, 1.5 * s, 45 * s, 45 * s), 10 * s, 10 * s);
    QLinearGradient disc(0, 8 * s, 0, 40 * s);
    disc.setColorAt(0, QColor(255, 214, 112));
    disc.setColorAt(1, QColor(236, 152, 30));
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(QPointF(24 * s, 24 * s), 17 * s, 17 * s);
    draw_save_glyph(p, 24 * s, 25 * s, 21 * s, QColor(52, 32, 4));
    return img;
}

// ---------------------------------------------------------------- [MAIN]

QImage draw_skin() {
    QImage skin(SKIN_W, SKIN_H, QImage::Format_RGB32);
    skin.fill(OUTLINE);
    draw_face(skin);

    // Looks of the face's elements.
    make_face_look(skin, SKIN_CAPTURE_OFFERED, [](QPainter &p) { draw_capture(p, 1); });
    make_face_look(skin, SKIN_CAPTURE_OFFERED_HOVER, [](QPainter &p) { draw_capture(p, 2); });
    make_face_look(skin, SKIN_CAPTURE_PRESSED, [](QPainter &p) { draw_capture(p, 3); });
    make_face_look(skin, SKIN_SETTINGS_HOVER, [](QPainter &p) { draw_settings_button(p, 1); });
    make_face_look(skin, SKIN_SETTINGS_PRESSED, [](QPainter &p) { draw_settings_button(p, 2); });
    make_face_look(skin, SKIN_HIDE_HOVER, [](QPainter &p) { draw_round_button(p, 254, 3, 0, 1); });
    make_face_look(skin, SKIN_HIDE_PRESSED, [](QPainter &p) { draw_round_button(p, 254, 3, 0, 2); });
    make_face_look(skin, SKIN_QUIT_HOVER, [](QPainter &p) { draw_round_button(p, 269, 3, 1, 1); });
    make_face_look(skin, SKIN_QUIT_PRESSED, [](QPainter &p) { draw_round_button(p, 269, 3, 1, 2); });
    make_face_look(skin, SKIN_UP_HOVER, [](QPainter &p) { draw_arrow_button(p, 273, 58, true, true); });
    make_face_look(skin, SKIN_DOWN_HOVER, [](QPainter &p) { draw_arrow_button(p, 273, 389, false, true); });
    make_face_look(skin, SKIN_LINK_HOVER, [](QPainter &p) { draw_link(p, true); });
    draw_face_elements(skin);

    draw_thumb_column(skin, SKIN_THUMB_PLAIN.sx, false);
    draw_thumb_column(skin, SKIN_THUMB_HIGHLIGHT.sx, true);

    // The settings panel and its controls' looks.
    draw_panel(skin);
    for (const SkinPiece *look : {&SKIN_CHECK_ON, &SKIN_CHECK_ON_HOVER, &SKIN_CHECK_OFF_HOVER}) {
        bool on = look != &SKIN_CHECK_OFF_HOVER, hover = look != &SKIN_CHECK_ON;
        make_panel_look(skin, *look, CHECK_SHOW_FINISHED_X, CHECK_SHOW_FINISHED_Y,
                        [=](QPainter &p) { draw_check(p, CHECK_SHOW_FINISHED_X, CHECK_SHOW_FINISHED_Y, on, hover); });
    }
    make_panel_look(skin, SKIN_MAX_FIELD_HOVER, 81, 69, [](QPainter &p) { draw_max_field(p, 1); });
    make_panel_look(skin, SKIN_MAX_FIELD_EDIT, 81, 69, [](QPainter &p) { draw_max_field(p, 2); });
    make_panel_look(skin, SKIN_FOLDER_BUTTON_HOVER, 80, 97, [](QPainter &p) { draw_folder_button(p, true); });
    const SkinPiece *octets[3] = {&SKIN_OCTET_FIELD, &SKIN_OCTET_FIELD_HOVER, &SKIN_OCTET_FIELD_EDIT};
    const SkinPiece *ports[3] = {&SKIN_PORT_FIELD, &SKIN_PORT_FIELD_HOVER, &SKIN_PORT_FIELD_EDIT};
    for (int s = 0; s < 3; s++) {
        make_panel_look(skin, *octets[s], OCTET_FIELD_X[0], 173,
                        [=](QPainter &p) { draw_field(p, OCTET_FIELD_X[0], 173, 18, s + 1); });
        make_panel_look(skin, *ports[s], 180, 173, [=](QPainter &p) { draw_field(p, 180, 173, 34, s + 1); });
    }
    draw_panel_controls(skin);

    // The item menu and its highlighted entries.  Each highlight strip is
    // the menu's own rows with one entry drawn highlighted; strips that
    // share a row in the skin share it in the menu too (a plain gap row).
    draw_local(skin, SKIN_MENU, draw_menu);
    for (int e = 0; e < 5; e++) {
        const SkinPiece &strip = SKIN_MENU_ENTRY[e];
        make_look(skin, strip, SKIN_MENU.sx, SKIN_MENU.sy + MENU_ENTRY_OFFSET[e], 0, MENU_ENTRY_OFFSET[e],
                  [=](QPainter &p) {
                      p.setClipRect(0, MENU_TEXT_TOP[e], 70, 14, Qt::IntersectClip);
                      draw_menu_entry(p, e, true);
                  });
    }

    draw_local(skin, SKIN_OFFLINE_NOTICE, draw_offline_notice);
    draw_local(skin, SKIN_DUPLICATE_NOTE, draw_duplicate_note);
    return skin;
}

}  // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: skin_generator <output folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QImage skin = draw_skin();
    if (!skin.save(dir + QStringLiteral("/skin.png"))) return 1;
    if (!draw_icon(48).save(dir + QStringLiteral("/icon_window.png"))) return 1;
    if (!draw_icon(32).save(dir + QStringLiteral("/icon_tray.png"))) return 1;
    return 0;
}
