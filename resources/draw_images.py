#!/usr/bin/env python3
"""Draws Varnitt's 32x32 icons into resources/images/ and the application icon
(48, 128 and 256 px) into packaging/icons/ as RGBA PNG files, and into
packaging/windows/varnitt.ico (16 to 256 px) for the Windows build.

Only the standard library is used, so the icons can be remade anywhere with
    python3 resources/draw_images.py
Every shape is a signed distance function (negative inside); each pixel is
sampled on a SUPERSAMPLE x SUPERSAMPLE grid, which gives the anti-aliasing.
"""

import math
import os
import struct
import zlib

SIZE = 32
SUPERSAMPLE = 8
HERE = os.path.dirname(os.path.abspath(__file__))
IMAGE_DIR = os.path.join(HERE, "images")
APP_ICON_DIR = os.path.join(HERE, os.pardir, "packaging", "icons")
APP_ICON_NAME = "org.varnitt.Varnitt.png"
APP_ICON_SIZES = (48, 128, 256)
WINDOWS_ICON = os.path.join(HERE, os.pardir, "packaging", "windows", "varnitt.ico")
WINDOWS_ICON_SIZES = (16, 24, 32, 48, 256)


# ---- shapes: signed distances in pixel units -------------------------------

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rounded_box(cx, cy, half_w, half_h, radius, angle=0.0):
    cos_a, sin_a = math.cos(angle), math.sin(angle)

    def sdf(x, y):
        # Rotate the point into the box's own frame.
        dx, dy = x - cx, y - cy
        lx, ly = dx * cos_a + dy * sin_a, -dx * sin_a + dy * cos_a
        qx = abs(lx) - half_w + radius
        qy = abs(ly) - half_h + radius
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius

    return sdf


def capsule(x0, y0, x1, y1, r):
    vx, vy = x1 - x0, y1 - y0
    length2 = vx * vx + vy * vy

    def sdf(x, y):
        t = max(0.0, min(1.0, ((x - x0) * vx + (y - y0) * vy) / length2))
        return math.hypot(x - (x0 + t * vx), y - (y0 + t * vy)) - r

    return sdf


def arc(cx, cy, r, half_width, half_angle):
    """A ring segment with round ends, opening towards +x."""
    ends = [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in (-half_angle, half_angle)]

    def sdf(x, y):
        dx, dy = x - cx, y - cy
        if abs(math.atan2(dy, dx)) <= half_angle:
            return abs(math.hypot(dx, dy) - r) - half_width
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - half_width

    return sdf


def polygon(points):
    """A convex polygon, points in clockwise order on screen."""
    edges = list(zip(points, points[1:] + points[:1]))

    def sdf(x, y):
        inside = -math.inf
        nearest = math.inf
        for (x0, y0), (x1, y1) in edges:
            vx, vy = x1 - x0, y1 - y0
            length = math.hypot(vx, vy)
            # Outward normal for clockwise order with y pointing down.
            inside = max(inside, ((x - x0) * vy - (y - y0) * vx) / length)
            t = max(0.0, min(1.0, ((x - x0) * vx + (y - y0) * vy) / (length * length)))
            nearest = min(nearest, math.hypot(x - (x0 + t * vx), y - (y0 + t * vy)))
        return nearest if inside > 0.0 else inside

    return sdf


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(shape, hole):
    return lambda x, y: max(shape(x, y), -hole(x, y))


def inset(shape, amount):
    return lambda x, y: shape(x, y) + amount


def gear(cx, cy, body_r, tooth_len, teeth, tooth_w, hole_r):
    parts = [circle(cx, cy, body_r)]
    for i in range(teeth):
        a = 2 * math.pi * i / teeth
        mid = body_r + tooth_len / 2 - 0.5
        parts.append(rounded_box(cx + mid * math.cos(a), cy + mid * math.sin(a),
                                 tooth_len / 2 + 0.5, tooth_w / 2, 1.0, a))
    return subtract(union(*parts), circle(cx, cy, hole_r))


# ---- paints: RGBA in 0..1 ---------------------------------------------------

def hex_rgba(text, alpha=1.0):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4)) + (alpha,)


def solid(colour):
    return lambda x, y: colour


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def linear(x0, y0, c0, x1, y1, c1):
    vx, vy = x1 - x0, y1 - y0
    length2 = vx * vx + vy * vy
    return lambda x, y: mix(c0, c1, ((x - x0) * vx + (y - y0) * vy) / length2)


def radial(cx, cy, r, c0, c1):
    return lambda x, y: mix(c0, c1, math.hypot(x - cx, y - cy) / r)


# ---- rendering --------------------------------------------------------------

def render(layers, size=SIZE, supersample=SUPERSAMPLE):
    """layers: (shape, paint) pairs, painted back to front with 'over'.
    Shapes are drawn on a SIZE x SIZE canvas and scaled to size."""
    pixels = bytearray()
    scale = SIZE / size
    step = 1.0 / supersample
    count = supersample * supersample
    for py in range(size):
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(supersample):
                y = (py + (sy + 0.5) * step) * scale
                for sx in range(supersample):
                    x = (px + (sx + 0.5) * step) * scale
                    r = g = b = a = 0.0
                    for shape, paint in layers:
                        if shape(x, y) <= 0.0:
                            cr, cg, cb, ca = paint(x, y)
                            keep = 1.0 - ca
                            r, g, b = cr * ca + r * keep, cg * ca + g * keep, cb * ca + b * keep
                            a = ca + a * keep
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            alpha = acc[3] / count
            if alpha <= 0.0:
                pixels += b"\0\0\0\0"
                continue
            # Straight (not premultiplied) alpha, as PNG stores it.
            pixels += bytes(round(min(1.0, c / count / alpha) * 255) for c in acc[:3])
            pixels.append(round(alpha * 255))
    return bytes(pixels)


def png_bytes(rgba, size=SIZE):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    row_bytes = size * 4
    # Filter type 0 (none) in front of every row.
    raw = b"".join(b"\0" + rgba[y * row_bytes:(y + 1) * row_bytes] for y in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def write_png(path, rgba, size=SIZE):
    with open(path, "wb") as f:
        f.write(png_bytes(rgba, size))


def dib_bytes(rgba, size):
    """A 32-bit bottom-up BGRA bitmap with its AND mask, as icon resources hold them;
    every Windows tool reads these, while PNG entries are safe only at 256 px."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    row_bytes = size * 4
    colours = bytearray()
    for y in reversed(range(size)):
        row = rgba[y * row_bytes:(y + 1) * row_bytes]
        for x in range(size):
            r, g, b, a = row[x * 4:x * 4 + 4]
            colours += bytes((b, g, r, a))
    # The alpha channel decides; the mask stays all zero (opaque), rows padded to 32 bits.
    mask = bytes(((size + 31) // 32) * 4 * size)
    return header + bytes(colours) + mask


def write_ico(path, images):
    """images: (size, rgba) pairs."""
    entries = [png_bytes(rgba, size) if size >= 256 else dib_bytes(rgba, size) for size, rgba in images]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for (size, _), data in zip(images, entries):
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(directory + b"".join(entries))


# ---- the icons --------------------------------------------------------------

def status_marker(light, mid, dark, edge):
    ball = circle(16, 16, 13)
    highlight = circle(12.5, 11, 5.0)
    return [
        (ball, solid(hex_rgba(edge))),
        (inset(ball, 1.2), radial(11, 10, 18, hex_rgba(light), hex_rgba(dark))),
        (inset(ball, 1.2), radial(16, 16, 11.8, hex_rgba(mid, 0.0), hex_rgba(dark, 0.35))),
        (highlight, radial(12, 10, 5.5, (1.0, 1.0, 1.0, 0.85), (1.0, 1.0, 1.0, 0.0))),
    ]


def offline():
    frame = rounded_box(16, 13, 14, 10, 2.5)
    screen = rounded_box(16, 12.5, 11.5, 7.5, 1.0)
    neck = rounded_box(16, 25, 2.5, 2.5, 0.5)
    base = rounded_box(16, 28.5, 8, 1.5, 1.5)
    badge = circle(24.5, 23.5, 7)
    cross = union(capsule(21.8, 20.8, 27.2, 26.2, 1.3), capsule(27.2, 20.8, 21.8, 26.2, 1.3))
    return [
        (neck, linear(0, 23, hex_rgba("#8a8f94"), 0, 27, hex_rgba("#6d7276"))),
        (base, solid(hex_rgba("#6d7276"))),
        (frame, solid(hex_rgba("#6d7276"))),
        (inset(frame, 1.0), linear(0, 3, hex_rgba("#b4b9bd"), 0, 23, hex_rgba("#8f9498"))),
        (screen, linear(4, 5, hex_rgba("#d3d7da"), 28, 20, hex_rgba("#a9aeb2"))),
        (badge, solid(hex_rgba("#ffffff"))),
        (inset(badge, 1.2), linear(0, 17, hex_rgba("#e0554a"), 0, 30, hex_rgba("#b22a20"))),
        (cross, solid(hex_rgba("#ffffff"))),
    ]


def green():
    return status_marker("#9df28f", "#3cc33a", "#13791d", "#0d5c16")


def red():
    return status_marker("#ff9a8f", "#e2372b", "#96140d", "#6e0d08")


def add():
    plus = union(rounded_box(16, 16, 13, 4.5, 2.5), rounded_box(16, 16, 4.5, 13, 2.5))
    return [
        (plus, solid(hex_rgba("#1f7a31"))),
        (inset(plus, 1.2), linear(0, 3, hex_rgba("#6fd46b"), 0, 29, hex_rgba("#2b9a3c"))),
        (inset(plus, 2.6), linear(0, 4, hex_rgba("#ffffff", 0.35), 0, 18, hex_rgba("#ffffff", 0.0))),
    ]


def search():
    lens = circle(13, 13, 10)
    glass = circle(13, 13, 7)
    handle = capsule(20.5, 20.5, 28.2, 28.2, 3.2)
    shine = subtract(circle(13, 13, 5.5), circle(14.6, 14.6, 5.5))
    return [
        (handle, linear(20, 20, hex_rgba("#3c3f44"), 29, 29, hex_rgba("#1d1f22"))),
        (inset(handle, 1.0), linear(20, 28, hex_rgba("#8b5a2b"), 28, 20, hex_rgba("#c1864a"))),
        (capsule(20.5, 20.5, 22, 22, 3.2), solid(hex_rgba("#3c3f44"))),
        (lens, linear(3, 3, hex_rgba("#6f7780"), 23, 23, hex_rgba("#30363c"))),
        (glass, radial(10, 10, 11, hex_rgba("#e6f4ff"), hex_rgba("#7fb6e3"))),
        (shine, solid(hex_rgba("#ffffff", 0.8))),
    ]


def setting():
    wheel = gear(16, 16, 10.5, 4.2, 8, 6.4, 4.0)
    hub = subtract(circle(16, 16, 6.6), circle(16, 16, 4.0))
    return [
        (wheel, solid(hex_rgba("#34414d"))),
        (inset(wheel, 1.1), linear(4, 3, hex_rgba("#a9b8c6"), 28, 29, hex_rgba("#5b6c7c"))),
        (hub, linear(10, 10, hex_rgba("#5b6c7c", 0.9), 22, 22, hex_rgba("#d9e2ea", 0.9))),
    ]


def app_icon():
    tile = rounded_box(16, 16, 14.5, 14.5, 5.5)
    speaker = union(rounded_box(7.5, 16, 2.2, 3.6, 0.8),
                    polygon([(8.5, 12.4), (14.5, 7.5), (14.5, 24.5), (8.5, 19.6)]))
    waves = [arc(14.5, 16, r, 1.15, math.radians(42)) for r in (5.0, 8.7, 12.4)]
    return [
        (tile, solid(hex_rgba("#17466e"))),
        (inset(tile, 0.8), linear(0, 2, hex_rgba("#4aa3e8"), 0, 30, hex_rgba("#1e5f9c"))),
        (inset(tile, 1.6), linear(0, 2, hex_rgba("#ffffff", 0.18), 0, 16, hex_rgba("#ffffff", 0.0))),
        (speaker, solid(hex_rgba("#ffffff"))),
        (waves[0], solid(hex_rgba("#ffffff", 0.95))),
        (waves[1], solid(hex_rgba("#ffffff", 0.8))),
        (waves[2], solid(hex_rgba("#ffffff", 0.6))),
    ]


ICONS = [
    ("offline.png", offline),
    ("green.png", green),
    ("add.png", add),
    ("search.png", search),
    ("setting.png", setting),
    ("red.png", red),
]


def main():
    os.makedirs(IMAGE_DIR, exist_ok=True)
    for name, draw in ICONS:
        path = os.path.join(IMAGE_DIR, name)
        write_png(path, render(draw()))
        print(path)
    for size in APP_ICON_SIZES:
        folder = os.path.join(APP_ICON_DIR, "%dx%d" % (size, size))
        os.makedirs(folder, exist_ok=True)
        path = os.path.normpath(os.path.join(folder, APP_ICON_NAME))
        write_png(path, render(app_icon(), size, samples_for(size)), size)
        print(path)
    write_ico(WINDOWS_ICON, [(size, render(app_icon(), size, samples_for(size))) for size in WINDOWS_ICON_SIZES])
    print(os.path.normpath(WINDOWS_ICON))


def samples_for(size):
    # Fewer samples per pixel at the large sizes keep the run short.
    return max(4, SUPERSAMPLE * 32 // size)


if __name__ == "__main__":
    main()
