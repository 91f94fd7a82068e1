#!/usr/bin/env python3
"""Draws the window's artwork and the application icon into this folder.

Standard library only, so that anyone can redraw the images without installing anything:
shapes are signed distance functions, anti-aliased by their distance to the pixel centre,
and the results are written as 8-bit RGBA PNG files and one Windows icon.

    python3 Resources/draw_artwork.py            # rewrites the seven files next to this script
    python3 Resources/draw_artwork.py OUT_DIR    # writes them elsewhere

The output is deterministic: running it again gives the same bytes.
"""

import math
import os
import struct
import sys
import zlib

# The window's palette: background, lines, text.
BACKGROUND = (25, 30, 42)
LINE = (47, 56, 78)
WHITE = (255, 255, 255)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


class Canvas:
    """Premultiplied floating-point RGBA, composited with 'source over'."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def paint(self, sdf, colour, alpha=1.0, box=None):
        """Fills where sdf < 0; colour is an (r, g, b) tuple or a function of (x, y)."""
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.width, int(math.ceil(x1))), min(self.height, int(math.ceil(y1)))
        for y in range(y0, y1):
            for x in range(x0, x1):
                cx, cy = x + 0.5, y + 0.5
                cover = clamp01(0.5 - sdf(cx, cy)) * alpha
                if cover <= 0.0:
                    continue
                c = colour(cx, cy) if callable(colour) else colour
                a = cover * (c[3] / 255.0 if len(c) > 3 else 1.0)
                p = self.px[y * self.width + x]
                keep = 1.0 - a
                p[0] = c[0] / 255.0 * a + p[0] * keep
                p[1] = c[1] / 255.0 * a + p[1] * keep
                p[2] = c[2] / 255.0 * a + p[2] * keep
                p[3] = a + p[3] * keep

    def rgba_rows(self):
        """Straight (not premultiplied) 8-bit RGBA rows, top to bottom."""
        rows = []
        for y in range(self.height):
            row = bytearray()
            for x in range(self.width):
                r, g, b, a = self.px[y * self.width + x]
                if a <= 0.0:
                    row += b"\0\0\0\0"
                    continue
                row += bytes(
                    (
                        int(round(clamp01(r / a) * 255)),
                        int(round(clamp01(g / a) * 255)),
                        int(round(clamp01(b / a) * 255)),
                        int(round(clamp01(a) * 255)),
                    )
                )
            rows.append(bytes(row))
        return rows

    def blit(self, other, dx, dy):
        for y in range(other.height):
            for x in range(other.width):
                self.px[(y + dy) * self.width + x + dx] = list(other.px[y * other.width + x])


# ---- shapes (distance in pixels, negative inside) ----


def rounded_rect(cx, cy, half_w, half_h, radius):
    def d(x, y):
        qx = abs(x - cx) - half_w + radius
        qy = abs(y - cy) - half_h + radius
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius

    return d


def ring(shape, width):
    """The outline of a shape, centred on its edge."""
    return lambda x, y: abs(shape(x, y)) - width / 2.0


def inset(shape, amount):
    return lambda x, y: shape(x, y) + amount


def segment(ax, ay, bx, by, width):
    def d(x, y):
        px, py, vx, vy = x - ax, y - ay, bx - ax, by - ay
        t = clamp01((px * vx + py * vy) / (vx * vx + vy * vy))
        return math.hypot(px - vx * t, py - vy * t) - width / 2.0

    return d


def circle(cx, cy, radius):
    return lambda x, y: math.hypot(x - cx, y - cy) - radius


def arc(cx, cy, radius, start_deg, end_deg, width):
    """An arc with round caps, angles counter-clockwise from +x with y pointing up."""
    a0, a1 = math.radians(start_deg), math.radians(end_deg)
    ends = [(cx + radius * math.cos(a), cy - radius * math.sin(a)) for a in (a0, a1)]

    def d(x, y):
        ang = math.atan2(cy - y, x - cx)
        while ang < a0:
            ang += 2 * math.pi
        if ang <= a1:
            return abs(math.hypot(x - cx, y - cy) - radius) - width / 2.0
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width / 2.0

    return d


def convex_polygon(points, rounding=0.0):
    """Points in either winding order."""
    mx = sum(p[0] for p in points) / len(points)
    my = sum(p[1] for p in points) / len(points)
    edges = []
    for i, (ax, ay) in enumerate(points):
        bx, by = points[(i + 1) % len(points)]
        nx, ny = by - ay, ax - bx
        length = math.hypot(nx, ny)
        if (mx - ax) * nx + (my - ay) * ny > 0:  # make the normal point outwards
            nx, ny = -nx, -ny
        edges.append((ax, ay, nx / length, ny / length))

    def d(x, y):
        return max((x - ax) * nx + (y - ay) * ny for ax, ay, nx, ny in edges) - rounding

    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def vertical_gradient(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, clamp01((y - y0) / max(y1 - y0, 1e-6)))


# ---- the application mark: a screen sending its picture ----


def draw_mark(size):
    """Rounded tile with a monitor and cast waves; used for the logo and every icon size."""
    c = Canvas(size, size)
    s = float(size)
    radius = s * 0.22
    tile = rounded_rect(s / 2, s / 2, s / 2 - s * 0.02, s / 2 - s * 0.02, radius)
    c.paint(tile, vertical_gradient((58, 156, 255), (22, 96, 214), 0, s))
    if size >= 32:  # a soft light edge along the top reads as a finished, lit surface
        c.paint(
            inset(ring(tile, max(1.0, s / 64)), max(0.5, s / 128)),
            vertical_gradient((160, 210, 255, 150), (160, 210, 255, 0), 0, s * 0.5),
        )
    stroke = max(1.15, s * 0.075)
    # the monitor
    mw, mh = s * 0.30, s * 0.21
    mcx, mcy = s * 0.5, s * 0.44
    screen = rounded_rect(mcx, mcy, mw, mh, s * 0.05)
    c.paint(ring(inset(screen, stroke / 2), stroke), WHITE)
    foot_y = mcy + mh + s * 0.13
    c.paint(segment(mcx, mcy + mh, mcx, foot_y, stroke * 0.9), WHITE)
    c.paint(segment(mcx - s * 0.12, foot_y, mcx + s * 0.12, foot_y, stroke * 0.9), WHITE)
    # cast waves from the screen's lower left corner, inside the screen
    ox, oy = mcx - mw + stroke * 1.6, mcy + mh - stroke * 1.6
    c.paint(circle(ox, oy, max(0.9, stroke * 0.75)), WHITE)
    waves = [s * 0.12, s * 0.215] if size >= 24 else [s * 0.19]
    for r in waves:
        c.paint(arc(ox, oy, r, 5, 85, stroke * 0.8), WHITE)
    return c


# ---- the combo box arrow ----


def draw_combo_arrow(hover):
    c = Canvas(18, 18)
    if hover:
        c.paint(rounded_rect(9, 9, 8, 8, 3), (62, 74, 102))
    colour = WHITE if hover else (168, 176, 194)
    c.paint(segment(5.5, 7.5, 9, 11, 1.7), colour)
    c.paint(segment(9, 11, 12.5, 7.5, 1.7), colour)
    return c


# ---- button strips: disabled, normal, hover, pressed ----

# (top colour, bottom colour, border colour, glyph colour, glyph drop) per state
SEND_LOOKS = [
    ((58, 63, 76), (50, 55, 67), (70, 76, 92), (120, 126, 140), 0),
    ((40, 132, 240), (24, 100, 206), (72, 158, 255), WHITE, 0),
    ((62, 152, 255), (36, 120, 230), (120, 190, 255), WHITE, 0),
    ((20, 84, 176), (26, 98, 196), (18, 70, 150), (220, 232, 255), 1),
]
STOP_LOOKS = [
    ((58, 63, 76), (50, 55, 67), (70, 76, 92), (120, 126, 140), 0),
    ((222, 72, 68), (186, 46, 46), (240, 112, 104), WHITE, 0),
    ((240, 96, 88), (206, 62, 60), (255, 150, 140), WHITE, 0),
    ((160, 38, 38), (178, 48, 46), (136, 30, 30), (255, 226, 222), 1),
]


def draw_pill(c, look, width, height):
    top, bottom, border, _, drop = look
    body = rounded_rect(width / 2, height / 2, width / 2 - 0.5, height / 2 - 0.5, 4)
    c.paint(body, vertical_gradient(top, bottom, 0, height))
    c.paint(ring(inset(body, 0.5), 1.0), border)
    if drop:  # pressed: a shadow along the top edge sinks the face
        c.paint(
            inset(ring(body, 2.0), 1.0),
            vertical_gradient((0, 0, 0, 90), (0, 0, 0, 0), 0, height * 0.45),
        )
    return c


def draw_send_frame(look):
    w, h = 88, 26
    c = draw_pill(Canvas(w, h), look, w, h)
    glyph, drop = look[3], look[4]
    cy = h / 2 + drop
    # a paper plane, the arrow head of "send", in the margin left of the centred text
    upper = convex_polygon([(2.5, cy - 4.5), (11.0, cy), (4.5, cy)])
    lower = convex_polygon([(4.5, cy), (11.0, cy), (2.5, cy + 4.5)])
    c.paint(union(upper, lower), glyph)
    # the fold of the plane, a darker crease on its lower wing
    c.paint(convex_polygon([(4.5, cy), (11.0, cy), (6.0, cy + 1.8)]), mix(glyph, look[1], 0.35))
    return c


def draw_stop_frame(look):
    w, h = 88, 26
    c = draw_pill(Canvas(w, h), look, w, h)
    glyph, drop = look[3], look[4]
    c.paint(rounded_rect(6.5, h / 2 + drop, 3.5, 3.5, 1.0), glyph)
    return c


def draw_close_frame(state):
    c = Canvas(38, 38)
    cross = (168, 176, 194)
    if state == 0:
        cross = (82, 88, 104)
    elif state == 2:
        c.paint(rounded_rect(19, 19, 14, 14, 4), (206, 58, 52))
        cross = WHITE
    elif state == 3:
        c.paint(rounded_rect(19, 19, 14, 14, 4), (150, 36, 34))
        cross = (255, 220, 216)
    arm = 5.5
    c.paint(segment(19 - arm, 19 - arm, 19 + arm, 19 + arm, 1.8), cross)
    c.paint(segment(19 - arm, 19 + arm, 19 + arm, 19 - arm, 1.8), cross)
    return c


def strip(frames):
    w, h = frames[0].width, frames[0].height
    out = Canvas(w * len(frames), h)
    for i, f in enumerate(frames):
        out.blit(f, i * w, 0)
    return out


# ---- file formats ----


def png_bytes(canvas):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + row for row in canvas.rgba_rows())
    ihdr = struct.pack(">IIBBBBB", canvas.width, canvas.height, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", ihdr)
        + chunk(b"IDAT", zlib.compress(raw, 9))
        + chunk(b"IEND", b"")
    )


def ico_bitmap(canvas):
    """A 32-bit BGRA DIB, bottom-up, with its 1-bit AND mask, as an icon stores it."""
    w, h = canvas.width, canvas.height
    rows = canvas.rgba_rows()
    pixels = bytearray()
    for row in reversed(rows):
        for i in range(0, len(row), 4):
            r, g, b, a = row[i : i + 4]
            pixels += bytes((b, g, r, a))
    mask_stride = ((w + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(w):
            if row[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def ico_bytes(images):
    """images: list of (size, bytes, ...); the 256 image is PNG, the others bitmaps."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
        body += data
    return out + body


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out_dir, exist_ok=True)

    def write(name, data):
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)

    write("NDILog.png", png_bytes(draw_mark(24)))
    write("btnCmb1.png", png_bytes(draw_combo_arrow(False)))
    write("btnCmb2.png", png_bytes(draw_combo_arrow(True)))
    write("iconSendBtn.png", png_bytes(strip([draw_send_frame(l) for l in SEND_LOOKS])))
    write("iconStopBtn.png", png_bytes(strip([draw_stop_frame(l) for l in STOP_LOOKS])))
    write("btnClose.png", png_bytes(strip([draw_close_frame(s) for s in range(4)])))
    icons = [(256, png_bytes(draw_mark(256)))]
    icons += [(n, ico_bitmap(draw_mark(n))) for n in (128, 64, 48, 32, 16)]
    write("Orlecast.ico", ico_bytes(icons))


if __name__ == "__main__":
    main()
