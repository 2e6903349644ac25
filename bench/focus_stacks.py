#!/usr/bin/python3
"""Focus stacks with a known answer, for scoring all-in-focus fusion.

Each stack is a sharp scene (procedural, or a real picture scaled down until it is sharp), a smooth random depth map
and N shots, each focused at one depth. In a shot every pixel is blurred by a disc (a lens-like pillbox, not a
Gaussian) whose radius grows with the pixel's distance from the shot's focus depth, beyond a depth of field that keeps
every pixel sharp in at least one shot. Gaussian sensor noise is added last and the shots are quantised. The sharp
scene is written beside the shots as the truth.

Each stack folder holds truth.png, shot01.png .. shotNN.png, depth.png (16-bit, 0 = near end of the depth range,
65535 = far end) and stack.json (focus depths, blur, depth of field, noise).

Usage: focus_stacks.py OUT_DIR [--seed 1] [--shots 3 8] [--noise 1 2 3] [--scenes shapes board ...] [--blur 10 18]
                       [--size 640x480] [--bits 16]
"""
import argparse
import json
import os
import zlib

import cv2
import numpy as np

TESTDATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'shared', 'testdata')

# Real pictures: (file under the test data, crop y0, y1, x0, x1 in that file, scale). Each crop lies in the part of
# the picture that is in focus, and the scale shrinks what blur is left below half a pixel.
REAL_SOURCES = {
    'board': ('stacks/pcb10/5.jpg', 0, 1536, 0, 2048, 1 / 3),
    'connector': ('triples/pcb_fullsize/1.png', 960, 1536, 256, 1792, 1 / 2),
    'insect': ('triples/bug/2.png', 90, 346, 40, 660, 1 / 1.25),
    'room': ('triples/room/3.png', 0, 512, 0, 1024, 1 / 2),
    'sealion': ('triples/lytro02/1.png', 220, 520, 0, 520, 1 / 1.5),
}

# Scene name -> depth map kind. 'steps' adds objects at their own depth (depth edges) to a smooth field.
SCENES = {
    'shapes': 'steps', 'texture': 'smooth', 'marks': 'steps', 'gradients': 'smooth', 'clouds': 'steps',
    'fibres': 'smooth', 'board': 'smooth', 'connector': 'steps', 'insect': 'smooth', 'room': 'steps',
    'sealion': 'smooth',
}

BLUR_RADII = np.array([0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16, 18, 20, 23, 26, 30, 35,
                       40, 46, 52, 60], dtype=np.float32)


def rng_for(seed, *names):
    """A generator fixed by the seed and the names (scene, shot count, ...), independent of call order."""
    words = [seed] + [zlib.crc32(str(name).encode()) for name in names]
    return np.random.default_rng(np.random.SeedSequence(words))


def smooth_field(rng, height, width, scale):
    """Gaussian-filtered white noise with features about `scale` pixels wide, rescaled to 0..1."""
    field = cv2.GaussianBlur(rng.standard_normal((height, width)).astype(np.float32), (0, 0), scale)
    return (field - field.min()) / max(float(np.ptp(field)), 1e-6)


def power_law_field(rng, height, width, exponent):
    """Noise whose amplitude falls as 1/f^exponent (natural-looking clouds, bark, stone), rescaled to 0..1."""
    fy = np.fft.fftfreq(height)[:, None]
    fx = np.fft.rfftfreq(width)[None, :]
    amplitude = np.hypot(fy, fx)
    amplitude[0, 0] = 1.0
    phases = rng.standard_normal(amplitude.shape) + 1j * rng.standard_normal(amplitude.shape)
    spectrum = phases / amplitude ** exponent
    spectrum[0, 0] = 0
    field = np.fft.irfft2(spectrum, s=(height, width)).astype(np.float32)
    return (field - field.min()) / max(float(np.ptp(field)), 1e-6)


def random_colour(rng, low=0, high=255):
    return [float(v) for v in rng.uniform(low, high, 3)]


def gradient_background(rng, height, width):
    """A soft two-colour linear gradient in a random direction."""
    yy, xx = np.mgrid[0:height, 0:width].astype(np.float32)
    angle = rng.uniform(0, 2 * np.pi)
    t = np.cos(angle) * xx + np.sin(angle) * yy
    t = (t - t.min()) / max(float(np.ptp(t)), 1e-6)
    a, b = np.array(random_colour(rng, 40, 215)), np.array(random_colour(rng, 40, 215))
    return (a + (b - a) * t[..., None]).astype(np.float32)


def draw_antialiased(height, width, paint, oversample=4):
    """Runs paint(canvas, scale) on a canvas `oversample` times larger and shrinks it by area: smooth edges."""
    canvas = np.zeros((height * oversample, width * oversample, 4), np.float32)
    paint(canvas, oversample)
    small = cv2.resize(canvas, (width, height), interpolation=cv2.INTER_AREA)
    return small[..., :3], small[..., 3]


def composite(base, colour, coverage):
    """Lays a layer with per-pixel coverage 0..1 over base."""
    return base * (1 - coverage[..., None]) + colour * coverage[..., None]


def scene_shapes(rng, height, width):
    """Filled polygons, discs and bars with hard edges over a gradient; returns the scene and an object-id map."""
    image = gradient_background(rng, height, width)
    objects = np.zeros((height, width), np.int32)
    for index in range(1, 41):
        kind = rng.integers(3)
        size = rng.uniform(0.03, 0.2) * min(height, width)
        cx, cy = rng.uniform(0, width), rng.uniform(0, height)
        colour = random_colour(rng)

        def paint(canvas, s):
            fill = colour + [1.0]
            if kind == 0:
                cv2.circle(canvas, (int(cx * s), int(cy * s)), int(size * s), fill, -1)
            elif kind == 1:
                angles = np.sort(rng.uniform(0, 2 * np.pi, rng.integers(3, 8)))
                radii = size * rng.uniform(0.5, 1.0, angles.size)
                points = np.stack([cx + radii * np.cos(angles), cy + radii * np.sin(angles)], 1) * s
                cv2.fillPoly(canvas, [points.astype(np.int32)], fill)
            else:
                box = ((cx * s, cy * s), (size * 2 * s, size * rng.uniform(0.1, 0.6) * s), rng.uniform(0, 180))
                cv2.fillPoly(canvas, [cv2.boxPoints(box).astype(np.int32)], fill)
        _, coverage = draw_antialiased(height, width, paint)
        image = composite(image, np.array(colour, np.float32), coverage)
        objects[coverage > 0.5] = index
    return image, objects


def scene_texture(rng, height, width):
    """Fine texture everywhere: band-limited coloured noise plus patches of gratings at several pitches."""
    image = np.zeros((height, width, 3), np.float32)
    for channel in range(3):
        image[..., channel] = 60 + 140 * smooth_field(rng, height, width, rng.uniform(0.6, 1.5))
    yy, xx = np.mgrid[0:height, 0:width].astype(np.float32)
    for _ in range(8):
        pitch, angle = rng.uniform(2.5, 9), rng.uniform(0, np.pi)
        wave = 0.5 + 0.5 * np.sin(2 * np.pi * (np.cos(angle) * xx + np.sin(angle) * yy) / pitch)
        mask = smooth_field(rng, height, width, min(height, width) / 8) > 0.6
        image = np.where(mask[..., None], composite(image, np.array(random_colour(rng)), wave), image)
    return image, None


def scene_marks(rng, height, width):
    """Text-like marks: lines of random glyphs in several sizes and inks on paper with a faint grain. Each line
    lies on its own label (an object id) with a margin around the ink, so depth steps never cut a glyph."""
    paper = np.array(random_colour(rng, 190, 250), np.float32)
    image = np.broadcast_to(paper, (height, width, 3)).astype(np.float32).copy()
    image += (smooth_field(rng, height, width, 2.0)[..., None] - 0.5) * 12
    objects = np.zeros((height, width), np.int32)
    letters = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.,;:!?-+=/'
    fonts = [cv2.FONT_HERSHEY_SIMPLEX, cv2.FONT_HERSHEY_PLAIN, cv2.FONT_HERSHEY_DUPLEX, cv2.FONT_HERSHEY_COMPLEX,
             cv2.FONT_HERSHEY_TRIPLEX, cv2.FONT_HERSHEY_SCRIPT_SIMPLEX]
    bottom, index = 0, 0
    while True:
        scale = rng.uniform(0.3, 1.6)
        text = ''.join(rng.choice(list(letters), int(rng.integers(10, 60))))
        font = int(rng.choice(fonts))
        ink = random_colour(rng, 0, 120)
        x0, thickness = rng.uniform(-20, width * 0.3), int(rng.integers(1, 3))
        (_, above), below = cv2.getTextSize(text, font, scale, thickness)
        pad = max(3, above // 3)
        baseline = bottom + 2 * pad + above + rng.uniform(0, 6)
        if baseline + below + pad > height:
            break
        index += 1

        def paint(canvas, s):
            cv2.putText(canvas, text, (int(x0 * s), int(baseline * s)), font, scale * s, ink + [1.0], thickness * s,
                        cv2.LINE_AA)
        _, coverage = draw_antialiased(height, width, paint)
        image = composite(image, np.array(ink, np.float32), coverage)
        rows, cols = np.nonzero(coverage > 0)
        if rows.size:
            top, bottom = max(rows.min() - pad, bottom), min(rows.max() + pad + 1, height)
            objects[top:bottom, max(cols.min() - pad, 0):cols.max() + pad + 1] = index
    return image, objects


def scene_gradients(rng, height, width):
    """Large flat and smoothly shaded areas with only a few edges between them."""
    image = gradient_background(rng, height, width)
    for _ in range(6):
        cx, cy = rng.uniform(0, width), rng.uniform(0, height)
        axes = rng.uniform(0.1, 0.4, 2) * min(height, width)
        angle = rng.uniform(0, 180)
        colour = random_colour(rng, 30, 225)

        def paint(canvas, s):
            cv2.ellipse(canvas, (int(cx * s), int(cy * s)), (int(axes[0] * s), int(axes[1] * s)), angle, 0, 360,
                        colour + [1.0], -1)
        _, coverage = draw_antialiased(height, width, paint)
        shade = gradient_background(rng, height, width) * 0.3 + np.array(colour, np.float32) * 0.7
        image = composite(image, shade, coverage)
    return image, None


def scene_clouds(rng, height, width):
    """A natural-looking 1/f field (clouds, stone) mapped through a random three-colour palette."""
    t = power_law_field(rng, height, width, rng.uniform(0.9, 1.2))[..., None]
    a, b, c = (np.array(random_colour(rng), np.float32) for _ in range(3))
    return np.where(t < 0.5, a + (b - a) * (t * 2), b + (c - b) * (t * 2 - 1)), None


def scene_fibres(rng, height, width):
    """Thin hair-like curves, one or two pixels wide, over a smooth background: halos show up here first."""
    image = 0.6 * gradient_background(rng, height, width) + 0.4 * np.array(random_colour(rng, 60, 200), np.float32)
    for _ in range(120):
        start = np.array([rng.uniform(0, width), rng.uniform(0, height)])
        heading, length = rng.uniform(0, 2 * np.pi), rng.uniform(0.1, 0.5) * min(height, width)
        bend = rng.uniform(-3, 3) / length
        steps = np.arange(0, length, 2.0)
        angles = heading + bend * steps
        points = start + np.cumsum(np.stack([np.cos(angles), np.sin(angles)], 1) * 2.0, 0)
        colour = random_colour(rng)
        thickness = int(rng.integers(1, 3))

        def paint(canvas, s):
            cv2.polylines(canvas, [(points * s).astype(np.int32)], False, colour + [1.0], thickness * s, cv2.LINE_AA)
        _, coverage = draw_antialiased(height, width, paint)
        image = composite(image, np.array(colour, np.float32), coverage)
    return image, None


PROCEDURAL = {'shapes': scene_shapes, 'texture': scene_texture, 'marks': scene_marks, 'gradients': scene_gradients,
              'clouds': scene_clouds, 'fibres': scene_fibres}


def real_scene(name, testdata):
    """The in-focus crop of a real picture, shrunk by area averaging; RGB float 0..255."""
    path, y0, y1, x0, x1, scale = REAL_SOURCES[name]
    full = cv2.imread(os.path.join(testdata, path), cv2.IMREAD_COLOR)
    if full is None:
        raise SystemExit('Cannot read %s: check --testdata' % os.path.join(testdata, path))
    crop = full[y0:y1, x0:x1, ::-1].astype(np.float32)
    size = (round(crop.shape[1] * scale), round(crop.shape[0] * scale))
    return cv2.resize(crop, size, interpolation=cv2.INTER_AREA), None


def depth_map(rng, height, width, kind, objects):
    """Depth 0..1 per pixel: a smooth low-frequency field, plus, for 'steps', objects standing at their own depth."""
    depth = 0.7 * smooth_field(rng, height, width, min(height, width) / 6)
    yy, xx = np.mgrid[0:height, 0:width].astype(np.float32)
    angle = rng.uniform(0, 2 * np.pi)
    depth += 0.3 * (np.cos(angle) * xx + np.sin(angle) * yy) / max(height, width)
    if kind == 'steps':
        if objects is None:
            objects = np.zeros((height, width), np.int32)
            for index in range(1, 7):
                blob = smooth_field(rng, height, width, min(height, width) / 12)
                objects[blob > rng.uniform(0.7, 0.8)] = index
        offsets = rng.uniform(-0.6, 0.6, int(objects.max()) + 1)
        offsets[0] = 0
        depth = depth + offsets[objects]
    return ((depth - depth.min()) / max(float(np.ptp(depth)), 1e-6)).astype(np.float32)


def disc_kernel(radius, oversample=16):
    """A pillbox: each tap's weight is the share of its pixel covered by a disc of the radius; sums to 1."""
    half = int(np.ceil(radius + 0.5))
    offsets = (np.arange(oversample) + 0.5) / oversample - 0.5
    taps = np.arange(-half, half + 1, dtype=np.float64)
    sub = (taps[:, None] + offsets[None, :]).ravel()
    inside = (sub[:, None] ** 2 + sub[None, :] ** 2) <= max(radius, 1e-3) ** 2
    kernel = inside.reshape(taps.size, oversample, taps.size, oversample).mean((1, 3))
    if kernel.sum() == 0:
        kernel[half, half] = 1
    return (kernel / kernel.sum()).astype(np.float32)


def blur_bank(image, radii):
    """The scene blurred by a disc of each radius, edges extended by reflection."""
    return np.stack([cv2.filter2D(image, -1, disc_kernel(r), borderType=cv2.BORDER_REFLECT) if r > 0 else image
                     for r in radii])


def bank_radii(largest):
    """The blur radii of the bank: every listed radius up to the first one that reaches `largest`."""
    if largest > BLUR_RADII[-1]:
        raise SystemExit('Blur radius %.1f exceeds the largest supported (%g): lower --blur'
                         % (largest, BLUR_RADII[-1]))
    return BLUR_RADII[:int(np.searchsorted(BLUR_RADII, largest, side='left')) + 1]


def render_shot(bank, radii, radius):
    """Each pixel of the shot interpolated between the bank's two blur radii nearest its own."""
    radius = np.clip(radius, 0, radii[-1])
    upper = np.clip(np.searchsorted(radii, radius, side='left'), 1, len(radii) - 1)
    lower = upper - 1
    t = ((radius - radii[lower]) / (radii[upper] - radii[lower]))[..., None]
    rows, cols = np.indices(radius.shape)
    return bank[lower, rows, cols] * (1 - t) + bank[upper, rows, cols] * t


def focus_plan(rng, shots):
    """Focus depths spread over 0..1 with a small jitter, and the half-width of the widest gap they leave."""
    focus = (np.arange(shots) + 0.5 + rng.uniform(-0.15, 0.15, shots)) / shots
    focus = np.sort(np.clip(focus, 0, 1))
    widest = max(focus[0], 1 - focus[-1], float(np.max(np.diff(focus))) / 2 if shots > 1 else 0)
    return focus, widest


def quantise(image, bits):
    top = (1 << bits) - 1
    return np.clip(np.rint(image * (top / 255.0)), 0, top).astype(np.uint16 if bits == 16 else np.uint8)


def write_png(path, rgb):
    if not cv2.imwrite(path, np.ascontiguousarray(rgb[..., ::-1])):
        raise SystemExit('Cannot write %s: check that the folder is writable' % path)


def make_scene(name, seed, height, width, testdata, blur_range):
    """The sharp scene, its depth map and its blur per unit of depth; the same for every shot count and noise
    level."""
    rng = rng_for(seed, name)
    if name in PROCEDURAL:
        image, objects = PROCEDURAL[name](rng, height, width)
    else:
        image, objects = real_scene(name, testdata)
    image = np.clip(image, 0, 255).astype(np.float32)
    depth = depth_map(rng, image.shape[0], image.shape[1], SCENES[name], objects)
    blur_per_depth = float(rng.uniform(*blur_range))
    return image, depth, blur_per_depth


def write_stacks(out_dir, name, seed, shot_counts, noise_levels, bits, height, width, testdata, blur_range):
    """Writes <scene>-n<N>-s<sigma>/ folders with truth.png, shot01.png.., depth.png (16-bit, 0 = depth 0,
    65535 = depth 1) and stack.json; returns the folders."""
    image, depth, blur_per_depth = make_scene(name, seed, height, width, testdata, blur_range)
    truth = quantise(image, 8).astype(np.float32)
    radii = bank_radii(blur_per_depth)
    bank = blur_bank(truth, radii)
    folders = []
    for shots in shot_counts:
        focus, widest = focus_plan(rng_for(seed, name, shots), shots)
        depth_of_field = blur_per_depth * widest
        clean = [render_shot(bank, radii, np.maximum(0, blur_per_depth * np.abs(depth - f) - depth_of_field))
                 for f in focus]
        for sigma in noise_levels:
            folder = os.path.join(out_dir, '%s-n%d-s%g' % (name, shots, sigma))
            os.makedirs(folder, exist_ok=True)
            rng = rng_for(seed, name, shots, '%g' % sigma)
            write_png(os.path.join(folder, 'truth.png'), quantise(truth, bits))
            cv2.imwrite(os.path.join(folder, 'depth.png'), np.rint(depth * 65535).astype(np.uint16))
            for index, shot in enumerate(clean):
                noisy = shot + rng.normal(0, sigma, shot.shape).astype(np.float32)
                write_png(os.path.join(folder, 'shot%02d.png' % (index + 1)), quantise(noisy, bits))
            info = {'scene': name, 'shots': shots, 'noise_sigma_8bit': sigma, 'seed': seed, 'bits': bits,
                    'focus_depths': [round(float(f), 4) for f in focus], 'blur_per_depth': round(blur_per_depth, 3),
                    'depth_of_field_px': round(depth_of_field, 3), 'depth_kind': SCENES[name],
                    'largest_blur_px': round(float(blur_per_depth * max(focus[-1], 1 - focus[0]) - depth_of_field),
                                             2)}
            with open(os.path.join(folder, 'stack.json'), 'w') as f:
                json.dump(info, f, indent=1)
            folders.append(folder)
    return folders


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('out_dir')
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('--shots', type=int, nargs='+', default=[3, 8])
    parser.add_argument('--noise', type=float, nargs='+', default=[1, 2, 3], help='sensor noise sigma, 8-bit units')
    parser.add_argument('--scenes', nargs='+', default=list(SCENES), choices=list(SCENES))
    parser.add_argument('--size', default='640x480', help='procedural scene size WxH')
    parser.add_argument('--bits', type=int, choices=[8, 16], default=8)
    parser.add_argument('--blur', type=float, nargs=2, default=[10, 18], metavar=('LOW', 'HIGH'),
                        help='blur radius in pixels per unit of depth distance, drawn per scene from this range')
    parser.add_argument('--testdata', default=TESTDATA)
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split('x'))
    for name in args.scenes:
        for folder in write_stacks(args.out_dir, name, args.seed, args.shots, args.noise, args.bits, height, width,
                                   args.testdata, args.blur):
            print(folder)


if __name__ == '__main__':
    main()
