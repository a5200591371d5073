#!/usr/bin/python3
"""Draws Quorvane's pictures and writes them as GIF files beside this script, plus the
program icon as PNG files for the desktop (src/app/desktop/icons).

Every picture is drawn with vector shapes at several times its size and scaled down, so
edges come out smooth. GIF has only on/off transparency: half-covered edge pixels are mixed
with the colour the picture will stand on (the "matte") before the rest is cut out.

Needs Debian's python3-pil and fonts-dejavu-core (scripts/deps.sh installs both). Run it
again after changing a picture:  /usr/bin/python3 src/app/images/make_images.py
"""

import math
import os

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
DESKTOP = os.path.join(HERE, "..", "desktop", "icons", "hicolor")
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

WINDOW = (239, 239, 239)  # the window's background, where buttons and bars stand
BUTTON = (236, 236, 236)  # a push button's face, behind the glyphs
PANEL = (192, 220, 192)  # the left panel the decorative picture stands on

GREEN_LIGHT, GREEN_DARK, GREEN_LINE = (96, 192, 96), (40, 138, 56), (24, 96, 36)
RED_LIGHT, RED_DARK, RED_LINE = (232, 80, 64), (176, 24, 24), (120, 12, 12)
BLUE_LIGHT, BLUE_DARK, BLUE_LINE = (110, 172, 228), (40, 100, 172), (24, 68, 128)
GOLD_LIGHT, GOLD_DARK, GOLD_LINE = (255, 222, 96), (236, 164, 24), (168, 104, 0)
WHITE = (255, 255, 255)


class Canvas:
    """An RGBA picture drawn in picture units (pixels of the final size) at `ss` times the
    resolution; `unit` scales the coordinates of drawings made for another size."""

    def __init__(self, width, height, ss=8, unit=1.0):
        self.width, self.height, self.ss, self.unit = width, height, ss, unit
        self.img = Image.new("RGBA", (width * ss, height * ss), (0, 0, 0, 0))

    def px(self, v):
        return v * self.ss * self.unit

    def pts(self, points):
        return [(self.px(x), self.px(y)) for x, y in points]

    def box(self, x0, y0, x1, y1):
        return [self.px(x0), self.px(y0), self.px(x1), self.px(y1)]

    def layer(self):
        return Image.new("RGBA", self.img.size, (0, 0, 0, 0))

    def mask(self):
        return Image.new("L", self.img.size, 0)

    def put(self, layer):
        self.img = Image.alpha_composite(self.img, layer)

    def fill(self, mask, top, bottom, angle=90):
        """Fills the shape of `mask` with a gradient from `top` to `bottom` (angle 90: top to
        bottom, 45: top left to bottom right)."""
        w, h = self.img.size
        ramp = Image.linear_gradient("L").resize((w, h))
        if angle == 45:
            ramp = Image.linear_gradient("L").rotate(45, expand=True).resize((w, h))
        colour = Image.composite(Image.new("RGBA", (w, h), bottom + (255,)),
                                 Image.new("RGBA", (w, h), top + (255,)), ramp)
        layer = self.layer()
        layer.paste(colour, (0, 0), mask)
        self.put(layer)

    def shape(self, draw_fn, top, bottom=None, outline=None, line=1.0, angle=90):
        mask = self.mask()
        draw_fn(ImageDraw.Draw(mask), 255, None, 0)
        self.fill(mask, top, bottom or top, angle)
        if outline:
            layer = self.layer()
            draw_fn(ImageDraw.Draw(layer), None, outline + (255,), max(1, round(self.px(line))))
            self.put(layer)

    def stroke(self, points, width, colour, alpha=255):
        layer = self.layer()
        d = ImageDraw.Draw(layer)
        w = self.px(width)
        p = self.pts(points)
        d.line(p, fill=colour + (alpha,), width=max(1, round(w)), joint="curve")
        for x, y in p:
            d.ellipse([x - w / 2, y - w / 2, x + w / 2, y + w / 2], fill=colour + (alpha,))
        self.put(layer)

    def text(self, xy_centre, text, size, colour, alpha=255):
        font = ImageFont.truetype(FONT_BOLD, round(self.px(size)))
        layer = self.layer()
        d = ImageDraw.Draw(layer)
        x0, y0, x1, y1 = d.textbbox((0, 0), text, font=font)
        cx, cy = self.px(xy_centre[0]), self.px(xy_centre[1])
        d.text((cx - (x0 + x1) / 2, cy - (y0 + y1) / 2), text, font=font, fill=colour + (alpha,))
        self.put(layer)

    def result(self):
        return self.img.resize((self.width, self.height), Image.LANCZOS)


def ellipse(c, cx, cy, rx, ry=None):
    ry = rx if ry is None else ry
    return lambda d, fill, outline, width: d.ellipse(c.box(cx - rx, cy - ry, cx + rx, cy + ry),
                                                     fill=fill, outline=outline, width=width)


def polygon(c, points):
    def draw(d, fill, outline, width):
        if fill is not None:
            d.polygon(c.pts(points), fill=fill)
        if outline is not None:
            d.line(c.pts(points + points[:1]), fill=outline, width=width, joint="curve")
    return draw


def rounded(c, x0, y0, x1, y1, r):
    return lambda d, fill, outline, width: d.rounded_rectangle(
        c.box(x0, y0, x1, y1), radius=c.px(r), fill=fill, outline=outline, width=width)


def star_points(cx, cy, outer, inner, tips=5, turn=-90):
    points = []
    for i in range(tips * 2):
        r = outer if i % 2 == 0 else inner
        a = math.radians(turn + i * 180 / tips)
        points.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return points


def save_gif(rgba, name, matte, cut=110):
    """Writes an RGBA picture as GIF: pixels under `cut` alpha become transparent, the rest
    is laid on the matte colour. Fully opaque pictures get all 256 colours."""
    flat = Image.alpha_composite(Image.new("RGBA", rgba.size, matte + (255,)), rgba).convert("RGB")
    opaque = rgba.getchannel("A").point(lambda a: 255 if a >= cut else 0)
    transparent = opaque.getextrema()[0] == 0
    indexed = flat.quantize(colors=255 if transparent else 256, method=Image.Quantize.MEDIANCUT)
    path = os.path.join(HERE, name)
    if not transparent:
        indexed.save(path)
        return
    palette = (indexed.getpalette() or [])[:765]
    palette += [0] * (765 - len(palette)) + list(matte)
    indexed.putpalette(palette)
    holes = Image.new("P", rgba.size, 255)
    indexed.paste(holes, (0, 0), opaque.point(lambda a: 255 - a))
    indexed.save(path, transparency=255)


# --- Button glyphs (16 x 16, on a button face) -------------------------------------------

def check_mark(c, points, width=2.2):
    c.stroke(points, width + 1.4, GREEN_LINE)
    c.stroke(points, width, GREEN_LIGHT)


def glyph_check():
    c = Canvas(16, 16)
    check_mark(c, [(3.2, 8.4), (6.5, 11.7), (12.8, 4.4)], 2.4)
    return c.result()


def glyph_check_all():
    c = Canvas(16, 16)
    check_mark(c, [(1.6, 8.6), (4.2, 11.4), (8.8, 5.4)], 1.9)
    check_mark(c, [(6.6, 8.6), (9.2, 11.4), (14.4, 4.4)], 1.9)
    return c.result()


def glyph_break():
    c = Canvas(16, 16)
    octagon = [(8 + 7.1 * math.cos(math.radians(22.5 + 45 * i)),
                8 + 7.1 * math.sin(math.radians(22.5 + 45 * i))) for i in range(8)]
    c.shape(polygon(c, octagon), RED_LIGHT, RED_DARK, RED_LINE, 0.9)
    c.stroke([(4.8, 8), (11.2, 8)], 2.2, WHITE)
    return c.result()


def glyph_abort():
    c = Canvas(16, 16)
    c.shape(ellipse(c, 8, 8, 6.9), (250, 170, 60), (220, 110, 10), (150, 72, 0), 0.9)
    c.stroke([(5.5, 5.5), (10.5, 10.5)], 1.9, WHITE)
    c.stroke([(10.5, 5.5), (5.5, 10.5)], 1.9, WHITE)
    return c.result()


def globe(c, cx, cy, r, line=0.8):
    c.shape(ellipse(c, cx, cy, r), BLUE_LIGHT, BLUE_DARK, None, angle=45)
    grid = c.layer()
    d = ImageDraw.Draw(grid)
    w = max(1, round(c.px(line)))
    colour = (232, 244, 255, 200)
    for k in (0.42, 0.85):
        d.ellipse(c.box(cx - r * k, cy - r, cx + r * k, cy + r), outline=colour, width=w)
    d.line(c.pts([(cx, cy - r), (cx, cy + r)]), fill=colour, width=w)
    for dy in (-0.5, 0.0, 0.5):
        half = r * math.sqrt(1 - dy * dy)
        d.line(c.pts([(cx - half, cy + dy * r), (cx + half, cy + dy * r)]), fill=colour, width=w)
    inside = c.mask()
    ImageDraw.Draw(inside).ellipse(c.box(cx - r, cy - r, cx + r, cy + r), fill=255)
    clipped = c.layer()
    clipped.paste(grid, (0, 0), inside)
    c.put(clipped)
    shine = c.layer()
    ImageDraw.Draw(shine).ellipse(c.box(cx - r * 0.7, cy - r * 0.8, cx + r * 0.1, cy - r * 0.1),
                                  fill=(255, 255, 255, 60))
    c.put(shine)
    outline = c.layer()
    ImageDraw.Draw(outline).ellipse(c.box(cx - r, cy - r, cx + r, cy + r),
                                    outline=BLUE_LINE + (255,), width=max(1, round(c.px(line))))
    c.put(outline)


def glyph_show():
    c = Canvas(16, 16)
    globe(c, 7.4, 8.6, 6.6, 0.75)
    arrow = [(9.6, 2.2), (14.6, 2.2), (14.6, 7.2)]
    c.stroke(arrow, 2.6, (255, 255, 255))
    c.stroke([(14.2, 2.6), (10.2, 6.6)], 2.6, (255, 255, 255))
    c.stroke(arrow, 1.3, GREEN_DARK)
    c.stroke([(14.2, 2.6), (10.2, 6.6)], 1.3, GREEN_DARK)
    return c.result()


def trash(c, x, y, k=1.0):
    def at(points):
        return [(x + px * k, y + py * k) for px, py in points]
    body = at([(1.2, 4.6), (10.8, 4.6), (9.9, 13.6), (2.1, 13.6)])
    c.shape(polygon(c, body), (190, 198, 212), (128, 138, 158), (70, 80, 98), 0.8)
    for rib in (3.9, 6.0, 8.1):
        c.stroke(at([(rib, 6.6), (rib + (6.0 - rib) * 0.1, 11.8)]), 0.7, (84, 94, 112))
    c.shape(rounded(c, *at([(0.2, 2.6)])[0], *at([(11.8, 4.4)])[0], 0.6 * k),
            (176, 186, 202), (140, 150, 170), (70, 80, 98), 0.8)
    c.shape(rounded(c, *at([(4.2, 1.0)])[0], *at([(7.8, 2.8)])[0], 0.5 * k),
            (160, 170, 188), None, (70, 80, 98), 0.8)


def glyph_delete():
    c = Canvas(16, 16)
    trash(c, 2, 1.2)
    return c.result()


def glyph_delete_all():
    c = Canvas(16, 16)
    trash(c, 0.4, 0.6, 0.95)
    c.shape(ellipse(c, 12.0, 12.0, 3.9), RED_LIGHT, RED_DARK, WHITE, 0.8)
    c.stroke([(10.6, 10.6), (13.4, 13.4)], 1.2, WHITE)
    c.stroke([(13.4, 10.6), (10.6, 13.4)], 1.2, WHITE)
    return c.result()


def glyph_www():
    c = Canvas(24, 24)
    globe(c, 12, 12, 10.2, 0.9)
    return c.result()


def badge_check(c, cx, cy, r, ring=0.9):
    c.shape(ellipse(c, cx, cy, r), GREEN_LIGHT, GREEN_DARK, WHITE, ring)
    c.stroke([(cx - r * 0.45, cy + r * 0.02), (cx - r * 0.1, cy + r * 0.4),
              (cx + r * 0.5, cy - r * 0.38)], r * 0.3, WHITE)


def gold_star(c, cx, cy, outer, inner, line):
    c.shape(polygon(c, star_points(cx, cy, outer, inner)), GOLD_LIGHT, GOLD_DARK, GOLD_LINE, line)


def glyph_tab():
    c = Canvas(16, 16)
    gold_star(c, 7.4, 7.8, 7.2, 3.0, 0.8)
    badge_check(c, 12.0, 12.0, 3.8, 0.8)
    return c.result()


# --- Program icon ------------------------------------------------------------------------

def program_icon(size):
    """The tile with the gold star and the green check; drawn in 48 units."""
    c = Canvas(size, size, ss=8 if size <= 48 else 4, unit=size / 48)
    c.shape(rounded(c, 2, 2, 46, 46, 9), (52, 92, 178), (14, 32, 104), (10, 22, 76), 1.0)
    shine = c.layer()
    ImageDraw.Draw(shine).rounded_rectangle(c.box(4, 4, 44, 22), radius=c.px(7),
                                            fill=(255, 255, 255, 34))
    c.put(shine)
    gold_star(c, 22, 22.5, 16, 6.6, 1.2)
    badge_check(c, 35, 35, 9.2, 2.0)
    return c.result()


def program_icon_small():
    c = Canvas(16, 16)
    c.shape(rounded(c, 0.5, 0.5, 15.5, 15.5, 3), (52, 92, 178), (14, 32, 104), (10, 22, 76), 0.8)
    gold_star(c, 7.4, 7.6, 6.0, 2.5, 0.6)
    badge_check(c, 11.6, 11.6, 3.6, 0.7)
    return c.result()


# --- Decorative picture (193 x 282, on the left panel) -----------------------------------

def sparkle(c, cx, cy, r, colour, alpha=255):
    layer = c.layer()
    ImageDraw.Draw(layer).polygon(c.pts(star_points(cx, cy, r, r * 0.28, tips=4, turn=0)),
                                  fill=colour + (alpha,))
    c.put(layer)


def decor():
    c = Canvas(193, 282, ss=4)
    background = c.layer()
    ImageDraw.Draw(background).rectangle([0, 0, *c.img.size], fill=PANEL + (255,))
    c.put(background)
    c.shape(rounded(c, 0.5, 0.5, 192.5, 281.5, 9), (230, 243, 230), (196, 223, 196),
            (150, 188, 150), 1.0)
    shadow = c.layer()
    ImageDraw.Draw(shadow).ellipse(c.box(42, 234, 150, 250), fill=(40, 80, 40, 46))
    c.put(shadow)
    globe(c, 96, 168, 64, 1.3)
    ribbon = [(118, 86), (148, 86), (148, 196), (133, 182), (118, 196)]
    shade = c.layer()
    ImageDraw.Draw(shade).polygon(c.pts([(x + 3, y + 3) for x, y in ribbon]), fill=(0, 0, 0, 60))
    c.put(shade)
    c.shape(polygon(c, ribbon), (186, 44, 40), (124, 10, 10), (96, 0, 0), 1.0)
    c.stroke([(121.5, 89), (121.5, 189)], 1.6, (255, 255, 255), 70)
    gold_star(c, 133, 112, 10.5, 4.4, 1.0)
    badge_check(c, 52, 220, 22, 3.0)
    sparkle(c, 28, 104, 5, WHITE, 230)
    sparkle(c, 170, 214, 4, WHITE, 210)
    sparkle(c, 166, 118, 3, GOLD_LIGHT)
    sparkle(c, 22, 176, 3, GOLD_LIGHT)
    c.text((96.5, 266), "Quorvane", 15, (92, 134, 92))
    return c.result()


# --- Image buttons (101 x 30, on the bottom bar) -----------------------------------------

def info_sign(c, cx, cy, dx):
    ring = c.layer()
    ImageDraw.Draw(ring).ellipse(c.box(cx - 7 + dx, cy - 7 + dx, cx + 7 + dx, cy + 7 + dx),
                                 outline=WHITE + (255,), width=round(c.px(1.6)))
    c.put(ring)
    c.stroke([(cx + dx, cy - 0.6 + dx), (cx + dx, cy + 3.6 + dx)], 2.0, WHITE)
    c.stroke([(cx + dx, cy - 3.8 + dx), (cx + dx, cy - 3.7 + dx)], 2.2, WHITE)


def power_sign(c, cx, cy, dx):
    arc = c.layer()
    ImageDraw.Draw(arc).arc(c.box(cx - 6.5 + dx, cy - 5.5 + dx, cx + 6.5 + dx, cy + 7.5 + dx),
                            start=-50, end=230, fill=WHITE + (255,), width=round(c.px(1.9)))
    c.put(arc)
    c.stroke([(cx + dx, cy - 7 + dx), (cx + dx, cy + 0.5 + dx)], 1.9, WHITE)


def image_button(label, sign, light, dark, line, pressed):
    c = Canvas(101, 30, ss=6)
    shape = rounded(c, 0.5, 0.5, 100.5, 29.5, 6)
    if pressed:
        darker = tuple(int(v * 0.78) for v in dark)
        c.shape(shape, darker, tuple(int(v * 0.9) for v in light), line, 1.0)
        c.stroke([(6, 2.2), (95, 2.2)], 1.2, (0, 0, 0), 70)
    else:
        c.shape(shape, light, dark, line, 1.0)
        c.stroke([(6, 1.8), (95, 1.8)], 1.0, WHITE, 90)
    dx = 1 if pressed else 0
    sign(c, 17, 15, dx)
    c.text((60 + dx, 15.5 + dx), label, 12.5, (0, 0, 0), 90)
    c.text((59 + dx, 14.5 + dx), label, 12.5, WHITE)
    return c.result()


def write_icon_png(size):
    folder = os.path.join(DESKTOP, f"{size}x{size}", "apps")
    os.makedirs(folder, exist_ok=True)
    picture = program_icon_small() if size == 16 else program_icon(size)
    picture.save(os.path.join(folder, "quorvane.png"), optimize=True)


def main():
    glyphs = {"check.gif": glyph_check, "checkall.gif": glyph_check_all,
              "break.gif": glyph_break, "abort.gif": glyph_abort, "show.gif": glyph_show,
              "delete.gif": glyph_delete, "deleteall.gif": glyph_delete_all}
    for name, draw in glyphs.items():
        save_gif(draw(), name, BUTTON)
    save_gif(glyph_www(), "www.gif", WINDOW)
    save_gif(glyph_tab(), "tab.gif", WINDOW)
    save_gif(program_icon(48), "quorvane.gif", WINDOW)
    save_gif(program_icon_small(), "quorvane16.gif", WINDOW)
    save_gif(decor(), "decor.gif", PANEL)
    blue = ((76, 118, 196), (30, 60, 138), (18, 38, 96))
    red = ((196, 70, 62), (134, 22, 22), (88, 10, 10))
    for name, label, sign, colours in (("info", "Info", info_sign, blue),
                                       ("exit", "Beenden", power_sign, red)):
        save_gif(image_button(label, sign, *colours, False), f"{name}.gif", WINDOW)
        save_gif(image_button(label, sign, *colours, True), f"{name}_down.gif", WINDOW)
    for size in (16, 32, 48, 128, 256):
        write_icon_png(size)


if __name__ == "__main__":
    main()
