#!/usr/bin/env python3
"""Draws the button images and the two cursors of the main window and writes them as PNG files.

Only the standard library is used: shapes are inside-tests in a design grid of logical pixels,
every pixel is sampled on a regular sub-grid (antialiasing), and the PNG is written with zlib and
struct. Each button image is written at 1x (name.png) and 2x (name@2x.png); shapes are placed on
whole logical pixels so that straight edges stay sharp at both scales.

The cursors carry their hot spot in a tEXt chunk with the key "hotspot" ("x,y" in pixels).

    resources/make-images.py            rewrites resources/images/*.png, resources/cursors/*.png
                                        and the program icon resources/icons/tessivo.png
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SUB = 6  # samples per pixel along each axis


# ---------------------------------------------------------------- shapes (inside-tests)

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_in, r_out):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def rect(x0, y0, x1, y1, radius=0.0):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        if radius <= 0:
            return True
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        n = len(points)
        j = n - 1
        for i in range(n):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def stroke(x1, y1, x2, y2, width):
    """A straight stroke with round caps."""
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy
    half = width / 2.0

    def inside(x, y):
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
        px, py = x1 + t * dx, y1 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def intersect(*shapes):
    return lambda x, y: all(s(x, y) for s in shapes)


def subtract(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def vgrad(top, bottom, y0, y1):
    """A vertical gradient between two colours over the design rows y0..y1."""
    def colour(x, y):
        t = min(1.0, max(0.0, (y - y0) / float(y1 - y0)))
        return tuple(top[i] + (bottom[i] - top[i]) * t for i in range(4))
    return colour


# ---------------------------------------------------------------- rendering

def render(size, scale, layers):
    """layers: (shape, colour) pairs painted in order; colour is RGBA or a function of (x, y)."""
    width = height = size * scale
    pixels = bytearray(width * height * 4)
    step = 1.0 / SUB
    offsets = [(i + 0.5) * step for i in range(SUB)]
    for py in range(height):
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for oy in offsets:
                y = (py + oy) / scale
                for ox in offsets:
                    x = (px + ox) / scale
                    r = g = b = a = 0.0
                    for shape, colour in layers:
                        if shape(x, y):
                            c = colour(x, y) if callable(colour) else colour
                            ca = c[3] / 255.0
                            r = c[0] * ca + r * (1 - ca)
                            g = c[1] * ca + g * (1 - ca)
                            b = c[2] * ca + b * (1 - ca)
                            a = ca + a * (1 - ca)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            n = SUB * SUB
            a = acc[3] / n
            i = (py * width + px) * 4
            if a > 0:
                pixels[i] = min(255, round(acc[0] / n / a))
                pixels[i + 1] = min(255, round(acc[1] / n / a))
                pixels[i + 2] = min(255, round(acc[2] / n / a))
                pixels[i + 3] = min(255, round(a * 255))
    return width, height, bytes(pixels)


def png_bytes(width, height, rgba, text=None):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    stride = width * 4
    for y in range(height):
        raw.append(0)  # filter: none
        raw += rgba[y * stride:(y + 1) * stride]
    out = b"\x89PNG\r\n\x1a\n"
    out += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    for key, value in (text or {}).items():
        out += chunk(b"tEXt", key.encode("latin-1") + b"\0" + value.encode("latin-1"))
    out += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    out += chunk(b"IEND", b"")
    return out


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- palette

INK = (44, 62, 80, 255)          # dark slate for plain glyphs
INK_LIGHT = (84, 110, 135, 255)
WHITE = (255, 255, 255, 255)
GREEN_TOP, GREEN_BOTTOM = (92, 196, 92, 255), (30, 130, 48, 255)
RED_TOP, RED_BOTTOM = (236, 96, 84, 255), (176, 32, 28, 255)
BLUE_TOP, BLUE_BOTTOM = (96, 156, 230, 255), (30, 88, 170, 255)
ORANGE_TOP, ORANGE_BOTTOM = (255, 190, 80, 255), (228, 120, 20, 255)
GLASS = (214, 234, 250, 255)


# ---------------------------------------------------------------- marker column (16 x 16)

def img_show():
    # An eye: almond of two circle arcs, blue iris, dark pupil and a light spot.
    almond = intersect(circle(8, 14, 10), circle(8, 2, 10))
    inner = intersect(circle(8, 14, 8.8), circle(8, 2, 8.8))
    return [
        (almond, INK),
        (inner, WHITE),
        (circle(8, 8, 3.4), vgrad(BLUE_TOP, BLUE_BOTTOM, 4.6, 11.4)),
        (circle(8, 8, 1.6), (20, 28, 40, 255)),
        (circle(6.9, 6.9, 0.8), WHITE),
    ]


def img_set():
    # A marker flag on a pole: sets a cue point.
    pole = rect(3, 1, 5, 15, 0.5)
    flag = polygon([(5, 2), (14, 2), (11.5, 5.5), (14, 9), (5, 9)])
    flag_in = polygon([(6, 3), (12, 3), (10.3, 5.5), (12, 8), (6, 8)])
    return [
        (flag, (150, 70, 10, 255)),
        (flag_in, vgrad(ORANGE_TOP, ORANGE_BOTTOM, 3, 8)),
        (pole, INK),
        (rect(1.5, 13.5, 7, 15, 0.6), INK),
    ]


def img_clear():
    # A red cross with round ends.
    cross = union(stroke(4, 4, 12, 12, 3.2), stroke(12, 4, 4, 12, 3.2))
    inner = union(stroke(4, 4, 12, 12, 1.6), stroke(12, 4, 4, 12, 1.6))
    return [
        (cross, (150, 24, 20, 255)),
        (inner, vgrad(RED_TOP, RED_BOTTOM, 3, 13)),
    ]


def img_close():
    # A red rounded tile with a white cross.
    tile = rect(1, 1, 15, 15, 3)
    tile_in = rect(2, 2, 14, 14, 2.2)
    cross = union(stroke(5, 5, 11, 11, 2.0), stroke(11, 5, 5, 11, 2.0))
    return [
        (tile, (130, 20, 16, 255)),
        (tile_in, vgrad(RED_TOP, RED_BOTTOM, 2, 14)),
        (cross, WHITE),
    ]


# ---------------------------------------------------------------- transport (20 x 20)

def tri_right(x0, y0, x1, y1):
    return polygon([(x0, y0), (x1, (y0 + y1) / 2.0), (x0, y1)])


def tri_left(x0, y0, x1, y1):
    return polygon([(x1, y0), (x0, (y0 + y1) / 2.0), (x1, y1)])


def ink_grad():
    return vgrad(INK_LIGHT, INK, 4, 16)


def img_start():
    return [
        (rect(3, 4, 5, 16), ink_grad()),
        (tri_left(5, 4, 11, 16), ink_grad()),
        (tri_left(11, 4, 17, 16), ink_grad()),
    ]


def img_end():
    return [
        (tri_right(3, 4, 9, 16), ink_grad()),
        (tri_right(9, 4, 15, 16), ink_grad()),
        (rect(15, 4, 17, 16), ink_grad()),
    ]


def img_stop():
    return [
        (rect(4, 4, 16, 16, 1.5), (120, 20, 16, 255)),
        (rect(5, 5, 15, 15, 0.8), vgrad(RED_TOP, RED_BOTTOM, 5, 15)),
    ]


def img_play():
    outer = polygon([(5, 2.5), (17.5, 10), (5, 17.5)])
    inner = polygon([(6.2, 4.6), (15.2, 10), (6.2, 15.4)])
    return [
        (outer, (24, 100, 36, 255)),
        (inner, vgrad(GREEN_TOP, GREEN_BOTTOM, 4, 16)),
    ]


def magnifier():
    lens_ring = ring(8, 8, 4.6, 6.4)
    handle = stroke(12.6, 12.6, 17, 17, 3.0)
    return [
        (circle(8, 8, 4.8), GLASS),
        (handle, (110, 72, 40, 255)),
        (stroke(13.2, 13.2, 16.6, 16.6, 1.4), (170, 120, 70, 255)),
        (lens_ring, ink_grad()),
    ]


def img_zoom_out():
    return magnifier() + [(rect(5, 7, 11, 9), INK)]


def img_zoom_in():
    return magnifier() + [(rect(5, 7, 11, 9), INK), (rect(7, 5, 9, 11), INK)]


def img_full():
    # The whole width between two brackets, with arrows pointing outwards.
    return [
        (rect(2, 4, 4, 16), ink_grad()),
        (rect(16, 4, 18, 16), ink_grad()),
        (rect(7, 9, 13, 11), vgrad(BLUE_TOP, BLUE_BOTTOM, 9, 11)),
        (tri_left(5, 6, 9, 14), vgrad(BLUE_TOP, BLUE_BOTTOM, 6, 14)),
        (tri_right(11, 6, 15, 14), vgrad(BLUE_TOP, BLUE_BOTTOM, 6, 14)),
    ]


# ---------------------------------------------------------------- cursors (32 x 32)

BLACK = (0, 0, 0, 255)


def cur_mark():
    # A boundary with arrows to both sides: drag a selection boundary. Hot spot on the line.
    body = union(
        rect(14, 3, 18, 29),
        polygon([(2.5, 16), (9, 9.5), (9, 13.5), (14, 13.5), (14, 18.5), (9, 18.5), (9, 22.5)]),
        polygon([(29.5, 16), (23, 9.5), (23, 13.5), (18, 13.5), (18, 18.5), (23, 18.5), (23, 22.5)]),
    )
    inner = union(
        rect(15, 4, 17, 28),
        polygon([(4, 16), (8, 12), (8, 14.5), (15, 14.5), (15, 17.5), (8, 17.5), (8, 20)]),
        polygon([(28, 16), (24, 12), (24, 14.5), (17, 14.5), (17, 17.5), (24, 17.5), (24, 20)]),
    )
    return [(body, WHITE), (inner, BLACK)], (16, 16)


def cur_zoom():
    # A magnifier with a plus: pick a stretch of the overview. Hot spot at the lens centre.
    lens = circle(11, 11, 9)
    handle = stroke(17.5, 17.5, 28, 28, 6)
    handle_in = stroke(18, 18, 27.5, 27.5, 3.6)
    return [
        (union(lens, handle), WHITE),
        (ring(11, 11, 6.4, 8), BLACK),
        (circle(11, 11, 6.4), (255, 255, 255, 230)),
        (handle_in, BLACK),
        (rect(7, 10, 15, 12), BLACK),
        (rect(10, 7, 12, 15), BLACK),
    ], (11, 11)


# ---------------------------------------------------------------- program icon (64 x 64)

def icon_app():
    # A blue tile with a white waveform and an orange cue line with its flag.
    tile = rect(2, 2, 62, 62, 10)
    tile_in = rect(4, 4, 60, 60, 8.5)
    heights = [6, 12, 20, 14, 26, 18, 30, 22, 12, 24, 16, 8]
    bars = union(*[rect(8 + 4 * i, 32 - h / 2.0, 10.5 + 4 * i, 32 + h / 2.0, 1.2)
                   for i, h in enumerate(heights)])
    cue = rect(38.5, 10, 41.5, 54, 0.8)
    flag = polygon([(41.5, 10), (54, 10), (50, 15.5), (54, 21), (41.5, 21)])
    return [
        (tile, (20, 56, 110, 255)),
        (tile_in, vgrad(BLUE_TOP, BLUE_BOTTOM, 4, 60)),
        (bars, WHITE),
        (cue, vgrad(ORANGE_TOP, ORANGE_BOTTOM, 10, 54)),
        (flag, vgrad(ORANGE_TOP, ORANGE_BOTTOM, 10, 21)),
    ]


BUTTONS = {
    "show": (16, img_show),
    "set": (16, img_set),
    "clear": (16, img_clear),
    "close": (16, img_close),
    "start": (20, img_start),
    "end": (20, img_end),
    "stop": (20, img_stop),
    "play": (20, img_play),
    "zoom-out": (20, img_zoom_out),
    "zoom-in": (20, img_zoom_in),
    "full-view": (20, img_full),
}

CURSORS = {"CUR_MARK": cur_mark, "CUR_ZOOM": cur_zoom}


def main():
    for name, (size, make) in sorted(BUTTONS.items()):
        layers = make()
        for scale, suffix in ((1, ""), (2, "@2x")):
            w, h, px = render(size, scale, layers)
            write(os.path.join(HERE, "images", name + suffix + ".png"), png_bytes(w, h, px))
    for name, make in sorted(CURSORS.items()):
        layers, (hx, hy) = make()
        w, h, px = render(32, 1, layers)
        write(os.path.join(HERE, "cursors", name + ".png"),
              png_bytes(w, h, px, {"hotspot": "%d,%d" % (hx, hy)}))
    w, h, px = render(64, 1, icon_app())
    write(os.path.join(HERE, "icons", "tessivo.png"), png_bytes(w, h, px))


if __name__ == "__main__":
    main()
