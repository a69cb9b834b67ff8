#!/usr/bin/python3
"""Pictures of every kind, made by other programs, written by `pixhold-db
convert` into each of the eight extensions and read back by independent
decoders (Pillow; ImageMagick through libwmf for Windows metafiles; Inkscape
for enhanced metafiles where it is installed), which must see the expected
size and colours.

    convert_check.py PIXHOLD_DB FIXTURES_FOLDER
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

TOOL, FIXTURES = sys.argv[1], sys.argv[2]
INPUTS = [
    "bmp/im-4bpp.bmp", "bmp/im-rle8.bmp", "bmp/im-rgb565.bmp", "bmp/ppm-1bpp.bmp",
    "bmp/ppm-os2-24bpp.bmp", "bmp/v4-argb8888.bmp", "bmp/top-down-24bpp.bmp",
    "ico/im-sizes.ico", "ico/icotool-depths.ico",
    "gif/anim-delays.gif", "gif/interlaced.gif", "gif/local-map.gif",
    "jpeg/progressive.jpg", "jpeg/cmyk-adobe.jpg", "jpeg/ycck-adobe.jpg", "jpeg/orientation-6.jpg",
    "jpeg/greyscale.jpg",
    "png/rgb-16bit.png", "png/palette.png", "png/rgba-interlaced.png", "png/grey-alpha.png",
]
# Metafiles drawn by other programs (the damaged ones are named after their fault).
DAMAGE = ("truncat", "bad", "huge", "zero", "beyond", "damage", "garbage", "loop", "empty", "invalid", "short")
for path in sorted(glob.glob(os.path.join(FIXTURES, "**", "*.[ew]mf"), recursive=True)):
    if not any(word in os.path.basename(path).lower() for word in DAMAGE):
        INPUTS.append(os.path.relpath(path, FIXTURES))

EXTENSIONS = [".jpg", ".jpeg", ".gif", ".bmp", ".ico", ".wmf", ".emf", ".png"]
# Largest mean difference per channel (0-255) each kind may show.
TOLERANCE = {".jpg": 14, ".jpeg": 14, ".gif": 24, ".bmp": 1, ".ico": 1, ".wmf": 10, ".emf": 10, ".png": 1}
INKSCAPE = shutil.which("inkscape")


def run(*args):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=120)


def on_white(image):
    image = image.convert("RGBA")
    white = Image.new("RGBA", image.size, (255, 255, 255, 255))
    white.alpha_composite(image)
    return white.convert("RGB"), image.getchannel("A")


def independent(path, work):
    ext = os.path.splitext(path)[1]
    if ext == ".wmf":
        png = os.path.join(work, "wmf.png")
        result = run("/usr/bin/convert", path, png)
        if result.returncode != 0:
            raise RuntimeError("ImageMagick cannot read it: " + result.stderr.strip())
        return Image.open(png)
    if ext == ".emf":
        if INKSCAPE is None:
            return None
        png = os.path.join(work, "emf.png")
        result = run(INKSCAPE, path, "--export-type=png", "--export-filename=" + png)
        if result.returncode != 0 or not os.path.exists(png):
            raise RuntimeError("Inkscape cannot read it: " + result.stderr.strip())
        return Image.open(png)
    image = Image.open(path)
    image.load()
    return image


def mean_difference(a, b, mask):
    pa, pb, pm = a.load(), b.load(), mask.load() if mask else None
    total, count = 0, 0
    for y in range(a.size[1]):
        for x in range(a.size[0]):
            if pm is not None and pm[x, y] < 255:
                continue
            total += sum(abs(p - q) for p, q in zip(pa[x, y], pb[x, y]))
            count += 3
    return total / count if count else 0.0


failures = []
checked = 0
with tempfile.TemporaryDirectory() as work:
    for name in INPUTS:
        source = os.path.join(FIXTURES, name)
        if not os.path.exists(source):
            failures.append(name + ": fixture missing")
            continue
        # The reference: what the program shows, written losslessly.
        reference_path = os.path.join(work, "reference.png")
        result = run(TOOL, "convert", source, reference_path)
        if result.returncode != 0:
            failures.append("%s: cannot be read: %s" % (name, result.stderr.strip()))
            continue
        reference, _ = on_white(Image.open(reference_path))
        for ext in EXTENSIONS:
            target = os.path.join(work, "out" + ext)
            what = "%s -> %s" % (name, ext)
            result = run(TOOL, "convert", source, target)
            if result.returncode != 0:
                failures.append("%s: pixhold-db failed: %s" % (what, result.stderr.strip()))
                continue
            try:
                image = independent(target, work)
            except Exception as error:  # the independent decoder refused our file
                failures.append("%s: %s" % (what, error))
                continue
            if image is None:
                continue
            seen, alpha = on_white(image)
            expected = reference
            mask = None
            if ext == ".ico":
                # An icon is the 32 x 32 tile at the top left, transparent where
                # a pixel equals the top-left one: compare where it is opaque.
                expected = reference.crop((0, 0, 32, 32))
                mask = alpha
                if seen.size != (32, 32):
                    failures.append("%s: icon of %s instead of 32 x 32" % (what, seen.size))
                    continue
                inside = Image.new("L", (32, 32), 0)
                inside.paste(255, (0, 0, min(32, reference.size[0]), min(32, reference.size[1])))
                mask = Image.composite(alpha, inside, inside)
            elif seen.size != expected.size:
                if ext == ".emf" and abs(seen.size[0] - expected.size[0]) <= 2 and abs(seen.size[1] - expected.size[1]) <= 2:
                    seen = seen.resize(expected.size)
                else:
                    failures.append("%s: %s instead of %s" % (what, seen.size, expected.size))
                    continue
            difference = mean_difference(seen, expected, mask)
            checked += 1
            if difference > TOLERANCE[ext]:
                failures.append("%s: colours differ by %.1f on average (at most %d)" % (what, difference, TOLERANCE[ext]))

for failure in failures:
    print("FAIL " + failure)
print("%d conversions checked by independent decoders%s" % (checked, "" if INKSCAPE else " (no Inkscape: .emf written but not read back)"))
print("%d passed, %d failed" % (checked, len(failures)))
sys.exit(1 if failures else 0)
