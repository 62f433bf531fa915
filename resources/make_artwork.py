#!/usr/bin/env python3
"""Draws the loader's artwork: the wizard picture setup.bmp and the program
icon RAVoduza.ico, both 8 bits per pixel with a 256-colour palette, and the
icon's pieces as the executable's resources hold them (icon_30001.bin,
icon_30002.bin, icon_group.bin).

    python3 resources/make_artwork.py [OUTPUT_FOLDER]

The outputs are committed; run this again only to change the artwork. It uses
the standard library alone, so any machine that builds the loader can redraw
them. Shapes are signed distance functions, which give anti-aliased edges and
soft shadows without a drawing library.
"""
import math
import os
import struct
import sys

# --- Shapes: signed distance in pixels, negative inside --------------------


def box(cx, cy, hw, hh, r=0.0):
    def d(x, y):
        qx = abs(x - cx) - hw + r
        qy = abs(y - cy) - hh + r
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return d


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def ellipse(cx, cy, rx, ry):
    # First-order distance: exact enough near the edge and for soft shadows.
    def d(x, y):
        u, v = (x - cx) / rx, (y - cy) / ry
        gradient = math.hypot(u / rx, v / ry)
        return (u * u + v * v - 1.0) / (2.0 * gradient) if gradient else -min(rx, ry)
    return d


def polygon(points):
    """A convex polygon, its points in clockwise order on screen."""
    edges = []
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        length = math.hypot(x1 - x0, y1 - y0)
        edges.append((x0, y0, (y1 - y0) / length, (x0 - x1) / length))

    def d(x, y):
        return max((x - x0) * nx + (y - y0) * ny for x0, y0, nx, ny in edges)
    return d


def stroke(points, start_width, end_width):
    """A round-capped line through the points, its width changing evenly
    from start to end."""
    count = len(points) - 1
    segments = [(p, q, start_width / 2.0 + (end_width - start_width) / 2.0 * i / count,
                 (end_width - start_width) / 2.0 / count)
                for i, (p, q) in enumerate(zip(points, points[1:]))]

    def d(x, y):
        best = float("inf")
        for (x0, y0), (x1, y1), half, growth in segments:
            dx, dy = x1 - x0, y1 - y0
            t = ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)
            t = 0.0 if t < 0 else 1.0 if t > 1 else t
            best = min(best, math.hypot(x - x0 - t * dx, y - y0 - t * dy) - half - growth * t)
        return best
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: max(shape(x, y), -hole(x, y))


def grow(shape, amount):
    return lambda x, y: shape(x, y) - amount


def offset(shape, dx, dy):
    return lambda x, y: shape(x - dx, y - dy)


def bezier(p0, p1, p2, p3, steps=48):
    points = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        points.append(tuple(u * u * u * a + 3 * u * u * t * b + 3 * u * t * t * c + t * t * t * e
                            for a, b, c, e in zip(p0, p1, p2, p3)))
    return points


# --- Paints: colour at a point ---------------------------------------------


def solid(rgb):
    return lambda x, y: rgb


def mix(a, b, t):
    t = 0.0 if t < 0 else 1.0 if t > 1 else t
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def linear(x0, y0, c0, x1, y1, c1):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    return lambda x, y: mix(c0, c1, ((x - x0) * dx + (y - y0) * dy) / length2)


def radial(cx, cy, r, inner, outer):
    return lambda x, y: mix(inner, outer, math.hypot(x - cx, y - cy) / r)


# --- Canvas ----------------------------------------------------------------


class Canvas:
    """Straight-alpha RGBA pixels, composited layer by layer."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.rgb = [(0.0, 0.0, 0.0)] * (width * height)
        self.alpha = [0.0] * (width * height)

    def fill(self, paint):
        for y in range(self.height):
            for x in range(self.width):
                self.rgb[y * self.width + x] = paint(x + 0.5, y + 0.5)
                self.alpha[y * self.width + x] = 1.0

    def draw(self, shape, paint, bounds=None, soft=0.0, opacity=1.0):
        """Paints where the shape is, edges anti-aliased over one pixel or
        blurred over 2 * soft pixels. Bounds (x0, y0, x1, y1) limit the work."""
        x0, y0, x1, y1 = bounds or (0, 0, self.width, self.height)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.width, int(math.ceil(x1))), min(self.height, int(math.ceil(y1)))
        for y in range(y0, y1):
            for x in range(x0, x1):
                px, py = x + 0.5, y + 0.5
                d = shape(px, py)
                if soft > 0:
                    t = min(max((soft - d) / (2 * soft), 0.0), 1.0)
                    a = t * t * (3 - 2 * t)
                else:
                    a = min(max(0.5 - d, 0.0), 1.0)
                a *= opacity
                if a <= 0:
                    continue
                i = y * self.width + x
                below = self.alpha[i] * (1 - a)
                total = a + below
                c = paint(px, py)
                old = self.rgb[i]
                self.rgb[i] = tuple((c[k] * a + old[k] * below) / total for k in range(3))
                self.alpha[i] = total


# --- Palette and files -----------------------------------------------------


def median_cut(colours, size):
    """A palette of at most size colours for a {rgb: count} histogram."""
    boxes = [list(colours.items())]
    while len(boxes) < size:
        def spread(b):
            if len(b) < 2:
                return -1
            ranges = [max(c[k] for c, _ in b) - min(c[k] for c, _ in b) for k in range(3)]
            return max(ranges) * math.sqrt(sum(n for _, n in b))
        b = max(boxes, key=spread)
        if spread(b) <= 0:
            break
        boxes.remove(b)
        ranges = [max(c[k] for c, _ in b) - min(c[k] for c, _ in b) for k in range(3)]
        axis = ranges.index(max(ranges))
        b.sort(key=lambda item: item[0][axis])
        half, running, cut = sum(n for _, n in b) / 2.0, 0, 1
        for index, (_, n) in enumerate(b[:-1]):
            running += n
            cut = index + 1
            if running >= half:
                break
        boxes += [b[:cut], b[cut:]]
    palette = []
    for b in boxes:
        total = sum(n for _, n in b)
        palette.append(tuple(int(round(sum(c[k] * n for c, n in b) / total)) for k in range(3)))
    return palette


def indexed(pixels, palette):
    """Each colour's nearest palette entry, colours compared as perceived."""
    cache = {}

    def nearest(c):
        if c not in cache:
            cache[c] = min(range(len(palette)), key=lambda i: (
                2 * (palette[i][0] - c[0]) ** 2 + 4 * (palette[i][1] - c[1]) ** 2 +
                3 * (palette[i][2] - c[2]) ** 2))
        return cache[c]
    return [nearest(c) for c in pixels]


def to_bytes(rgb):
    return tuple(min(255, max(0, int(round(v)))) for v in rgb)


def palette_bytes(palette):
    palette = palette + [(0, 0, 0)] * (256 - len(palette))
    return b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in palette)


def info_header(width, height, image_size, pixels_per_metre, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, image_size,
                       pixels_per_metre, pixels_per_metre, colours_used, 0)


def bottom_up(indices, width, height):
    stride = (width + 3) // 4 * 4
    rows = [bytes(indices[y * width:(y + 1) * width]) + bytes(stride - width) for y in range(height)]
    return b"".join(reversed(rows))


def write_bmp(path, canvas):
    colours = [to_bytes(c) for c in canvas.rgb]
    histogram = {}
    for c in colours:
        histogram[c] = histogram.get(c, 0) + 1
    palette = median_cut(histogram, 256)
    pixels = bottom_up(indexed(colours, palette), canvas.width, canvas.height)
    offset_bits = 14 + 40 + 1024
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset_bits + len(pixels), 0, 0, offset_bits))
        f.write(info_header(canvas.width, canvas.height, len(pixels), 2834, 256))
        f.write(palette_bytes(palette))
        f.write(pixels)


def icon_image(canvas, palette):
    """An icon's DIB: header with doubled height, palette, colour rows and the
    AND mask, whose set bits let the desktop show through."""
    opaque = [a >= 0.5 for a in canvas.alpha]
    colours = [to_bytes(c) if o else (0, 0, 0) for c, o in zip(canvas.rgb, opaque)]
    colour_rows = bottom_up(indexed(colours, palette), canvas.width, canvas.height)
    mask_stride = (canvas.width + 31) // 32 * 4
    mask_rows = []
    for y in range(canvas.height):
        row = bytearray(mask_stride)
        for x in range(canvas.width):
            if not opaque[y * canvas.width + x]:
                row[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(bytes(row))
    mask = b"".join(reversed(mask_rows))
    header = info_header(canvas.width, canvas.height * 2, len(colour_rows) + len(mask), 0, 0)
    return header + palette_bytes(palette) + colour_rows + mask


def write_ico(path, canvases):
    """Writes the icon file and returns its images."""
    histogram = {(0, 0, 0): 1}
    for canvas in canvases:
        for c, a in zip(canvas.rgb, canvas.alpha):
            if a >= 0.5:
                c = to_bytes(c)
                histogram[c] = histogram.get(c, 0) + 1
    palette = median_cut(histogram, 256)
    images = [icon_image(canvas, palette) for canvas in canvases]
    offset_image = 6 + 16 * len(images)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)))
        for canvas, image in zip(canvases, images):
            f.write(struct.pack("<BBBBHHII", canvas.width, canvas.height, 0, 0, 1, 8, len(image),
                                offset_image))
            offset_image += len(image)
        for image in images:
            f.write(image)
    return images


def write_icon_resources(folder, canvases, images, first_id):
    """The icon as the executable carries it: each image a resource of its
    own, numbered from first_id, and a group directory that lists them."""
    group = struct.pack("<HHH", 0, 1, len(images))
    for number, (canvas, image) in enumerate(zip(canvases, images)):
        with open(os.path.join(folder, "icon_%d.bin" % (first_id + number)), "wb") as f:
            f.write(image)
        group += struct.pack("<BBBBHHIH", canvas.width, canvas.height, 0, 0, 1, 8, len(image),
                             first_id + number)
    with open(os.path.join(folder, "icon_group.bin"), "wb") as f:
        f.write(group)


# --- The wizard picture ----------------------------------------------------

WHITE = (255.0, 255.0, 255.0)
SHADOW = (0.0, 8.0, 30.0)


def draw_banner():
    c = Canvas(164, 314)
    top, bottom = (58.0, 128.0, 222.0), (8.0, 30.0, 92.0)
    c.fill(lambda x, y: mix(top, bottom, (y / 314.0) ** 0.9))
    # Light falling from the upper right, and a glow behind the monitor.
    c.draw(polygon([(96, -10), (190, -10), (190, 60), (20, 330), (-40, 330)]),
           solid((150.0, 200.0, 255.0)), soft=30, opacity=0.10)
    c.draw(circle(82, 196, 70), solid((110.0, 170.0, 255.0)), bounds=(0, 100, 164, 300),
           soft=40, opacity=0.35)
    # A soft floor shadow under the stand.
    c.draw(ellipse(84, 274, 58, 7), solid(SHADOW), bounds=(10, 258, 160, 292), soft=6, opacity=0.5)

    body = box(82, 190, 57, 45, 6)
    neck = polygon([(70, 234), (94, 234), (100, 260), (64, 260)])
    foot = box(82, 264, 36, 5, 4)
    monitor = union(body, neck, foot)
    c.draw(offset(monitor, 4, 5), solid(SHADOW), bounds=(16, 136, 160, 284), soft=5, opacity=0.45)

    # Stand: neck and foot in darker metal so that the body stands out.
    steel = linear(0, 0, (150.0, 156.0, 168.0), 0, 270, (96.0, 102.0, 116.0))
    c.draw(grow(union(neck, foot), 1), solid((50.0, 56.0, 70.0)), bounds=(40, 226, 124, 272))
    c.draw(neck, linear(64, 0, (176.0, 182.0, 194.0), 100, 0, (112.0, 118.0, 132.0)),
           bounds=(60, 230, 104, 262))
    c.draw(foot, steel, bounds=(44, 256, 120, 272))
    c.draw(box(82, 261, 34, 1.2, 1), solid((214.0, 218.0, 226.0)), bounds=(46, 258, 118, 264),
           opacity=0.8)

    # Body: silver bezel with a dark rim and a light upper edge.
    c.draw(grow(body, 1), solid((44.0, 50.0, 66.0)), bounds=(22, 142, 142, 238))
    c.draw(body, linear(0, 145, (244.0, 246.0, 250.0), 0, 235, (176.0, 182.0, 194.0)),
           bounds=(24, 144, 140, 236))
    c.draw(minus(body, offset(body, 0, 1.5)), solid(WHITE), bounds=(24, 144, 140, 150),
           opacity=0.9)
    # Screen, sunk into the bezel, with a diagonal reflection.
    screen = box(82, 185, 47, 33, 2)
    c.draw(grow(screen, 1.5), linear(0, 150, (120.0, 126.0, 140.0), 0, 222, (232.0, 236.0, 242.0)),
           bounds=(32, 148, 132, 222))
    c.draw(screen, radial(70, 170, 80, (44.0, 96.0, 178.0), (8.0, 22.0, 64.0)),
           bounds=(34, 151, 130, 219))
    c.draw(polygon([(35, 152), (96, 152), (58, 218), (35, 218)]), solid(WHITE),
           bounds=(34, 151, 100, 219), opacity=0.10)
    # Power light and two buttons on the lower bezel.
    c.draw(circle(124.5, 226.5, 2.2), solid((60.0, 220.0, 90.0)), bounds=(120, 222, 130, 231))
    c.draw(circle(124.5, 226.5, 4.5), solid((90.0, 255.0, 120.0)), bounds=(118, 220, 132, 233),
           soft=3, opacity=0.35)
    for x in (108.5, 114.5):
        c.draw(box(x, 226.5, 2, 1.2, 1), solid((120.0, 126.0, 140.0)), bounds=(x - 4, 223, x + 4, 230))

    # The arrow: it sweeps in from the upper left and bends down into the screen.
    shaft = bezier((30, 50), (92, 22), (83, 96), (83, 162))
    head = polygon([(83, 198), (61, 158), (105, 158)])
    arrow = union(stroke(shaft, 7, 17), head)
    c.draw(offset(arrow, 4, 5), solid(SHADOW), bounds=(14, 14, 150, 210), soft=4, opacity=0.45)
    c.draw(grow(arrow, 1.2), solid((30.0, 60.0, 130.0)), bounds=(16, 16, 146, 206), opacity=0.6)
    c.draw(arrow, linear(0, 20, WHITE, 0, 200, (218.0, 232.0, 250.0)), bounds=(18, 18, 144, 204))
    # Its lit left edge.
    c.draw(minus(arrow, offset(arrow, 2, 0)), solid(WHITE), bounds=(18, 18, 144, 204), opacity=0.6)
    return c


# --- The program icon ------------------------------------------------------


def draw_icon(size):
    """A desktop computer with its monitor and a compact disc in front,
    drawn on a 32-unit grid; the small icon is simplified, not just shrunk."""
    c = Canvas(size, size)
    s = size / 32.0
    small = size < 24
    ink = (36.0, 40.0, 52.0)

    def at(*values):
        return [v * s for v in values]

    # System unit below the monitor.
    case = box(*at(17, 24.5, 13.5, 4.5), r=1.0 * s)
    c.draw(grow(case, 1 if not small else 0.8), solid(ink))
    c.draw(case, linear(0, 20 * s, (236.0, 234.0, 226.0), 0, 29 * s, (178.0, 176.0, 166.0)))
    if not small:
        c.draw(box(*at(23.5, 23.5, 4.5, 0.75)), solid((96.0, 96.0, 92.0)))  # drive slot
        c.draw(circle(*at(27.5, 26.8, 0.9)), solid((40.0, 200.0, 70.0)))   # power light

    # Monitor: bezel, screen and the screen's picture.
    bezel = box(*at(17, 10.5, 11.5, 9.5), r=1.2 * s)
    c.draw(grow(bezel, 1 if not small else 0.8), solid(ink))
    c.draw(bezel, linear(0, 1 * s, (244.0, 243.0, 238.0), 0, 20 * s, (190.0, 188.0, 178.0)))
    screen = box(*at(17, 10, 9, 7), r=0.3 * s)
    c.draw(grow(screen, 0.8 if not small else 0.5), solid((110.0, 110.0, 110.0)))
    c.draw(screen, linear(8 * s, 3 * s, (70.0, 140.0, 230.0), 24 * s, 17 * s, (14.0, 40.0, 120.0)))
    c.draw(polygon([(8 * s, 3 * s), (16 * s, 3 * s), (9.5 * s, 17 * s), (8 * s, 17 * s)]),
           solid(WHITE), opacity=0.18)
    if not small:
        c.draw(box(*at(17, 19.8, 2.5, 0.5)), solid((150.0, 148.0, 140.0)))  # neck gap

    # Compact disc in front, lower left: silver with rainbow sheen and a hole.
    cx, cy, r = (9.5 * s, 23 * s, 8.5 * s) if not small else (4.5, 11.5, 4.3)
    hole = circle(cx, cy, 1.7 * s if not small else 0.9)
    disc = minus(circle(cx, cy, r), hole)

    def sheen(x, y):
        angle = math.atan2(y - cy, x - cx)
        hue = (math.sin(2 * angle) + 1) / 2
        rainbow = mix((250.0, 210.0, 240.0), (170.0, 230.0, 255.0), hue)
        light = mix(rainbow, (255.0, 250.0, 210.0), (math.cos(2 * angle - 1.2) + 1) / 4)
        return mix(light, (190.0, 196.0, 210.0), math.hypot(x - cx, y - cy) / r * 0.5)

    c.draw(grow(disc, 1 if not small else 0.8), solid((60.0, 64.0, 80.0)))
    c.draw(disc, sheen)
    hub = 3.6 * s if not small else 1.8
    c.draw(minus(circle(cx, cy, hub), hole), solid((214.0, 218.0, 228.0) if not small else (150.0, 154.0, 168.0)))
    if not small:
        c.draw(minus(circle(cx, cy, hub), circle(cx, cy, hub - 0.7 * s)), solid((150.0, 154.0, 168.0)))
    # The hole shows the case or the desktop behind the disc again.
    for i in range(len(c.alpha)):
        x, y = i % size + 0.5, i // size + 0.5
        if hole(x, y) < -0.3 and case(x, y) > 0:
            c.alpha[i] = 0.0
    return c


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(folder, "setup.bmp"), draw_banner())
    icons = [draw_icon(32), draw_icon(16)]
    images = write_ico(os.path.join(folder, "RAVoduza.ico"), icons)
    write_icon_resources(folder, icons, images, 30001)


if __name__ == "__main__":
    main()
