"""Moved focus stacks with known moves, for scoring the alignment.

A stack is a sharp scene of focus_stacks.py (procedural, or a real picture scaled down until it is sharp) defocused
for N focus depths as that generator does (a disc blur that grows with the distance from the focus depth), each shot
but the first then seen through a random similarity (camera shake and focus breathing), with sensor noise, as 8-bit
PNGs. The scene is framed with a margin of 7 % on each side, so that a moved shot shows scene at its borders, as a
camera's does.

A stack folder holds 0.png .. <N-1>.png, truth.json, whose ref_to_shot[k] is the 2x3 matrix W with
x_shot = W (x_ref, y_ref, 1), pixel centres at whole coordinates: where shot k shows the reference's pixel, and
truth.png, the sharp scene in the first shot's frame: what an all-in-focus picture of the stack should be.
"""
import json
import math
import os

import cv2
import numpy as np

import focus_stacks as fs

GENERATOR = 2          # raised whenever the stacks change, so that stacks kept from an earlier run are made again
MARGIN = 0.07          # scene beyond each side of the frame, as a fraction of the framed side
MAX_SHIFT = 0.02       # of the side, each axis
MAX_DEGREES = 1.0
MAX_SCALE = 0.03
NOISE_SIGMA = 2.0      # grey levels, unless a stack is asked with other noise
BLUR_RANGE = (10, 18)  # blur radius per unit of depth, as focus_stacks draws it for its own scenes


def random_similarity(rng, width, height):
    """A ref_to_shot similarity about the frame's centre, each part drawn within the bounds above."""
    angle = math.radians(rng.uniform(-MAX_DEGREES, MAX_DEGREES))
    scale = 1 + rng.uniform(-MAX_SCALE, MAX_SCALE)
    shift = np.array([rng.uniform(-MAX_SHIFT, MAX_SHIFT) * width, rng.uniform(-MAX_SHIFT, MAX_SHIFT) * height])
    linear = scale * np.array([[math.cos(angle), -math.sin(angle)], [math.sin(angle), math.cos(angle)]])
    centre = np.array([(width - 1) / 2, (height - 1) / 2])
    return np.hstack([linear, (centre + shift - linear @ centre)[:, None]])


def defocus(image, radius_maps):
    """One shot of image per map of blur radii: each pixel interpolated between the disc blurs of the two radii of
    the bank nearest its own, as focus_stacks.render_shot does, but one blur at a time, so that stacks of 12
    megapixels fit in memory."""
    radii = fs.bank_radii(max(float(m.max()) for m in radius_maps))
    between = []
    for radius in radius_maps:
        radius = np.clip(radius, 0, radii[-1])
        upper = np.clip(np.searchsorted(radii, radius, side='left'), 1, len(radii) - 1).astype(np.int16)
        between.append((upper, ((radius - radii[upper - 1]) / (radii[upper] - radii[upper - 1])).astype(np.float32)))
    shots = [np.zeros_like(image) for _ in radius_maps]
    for j, radius in enumerate(radii):
        blurred = image if radius == 0 else cv2.filter2D(image, -1, fs.disc_kernel(radius),
                                                          borderType=cv2.BORDER_REFLECT)
        for shot, (upper, t) in zip(shots, between):
            weight = np.where(upper == j, t, 0) + np.where(upper == j + 1, 1 - t, 0)
            shot += blurred * weight[..., None]
    return shots


def focus_stack(image, depth, blur_per_depth, shots, seed, name):
    """The scene (RGB float) defocused for each focus depth of focus_stacks' plan for this scene and shot count."""
    focus, widest = fs.focus_plan(fs.rng_for(seed, name, shots), shots)
    depth_of_field = blur_per_depth * widest
    return defocus(image, [np.maximum(0, blur_per_depth * np.abs(depth - f) - depth_of_field) for f in focus])


def kept(folder, key):
    """Whether folder holds the stack key describes, made by this generator."""
    try:
        with open(os.path.join(folder, 'truth.json')) as f:
            return json.load(f)['key'] == key
    except (OSError, ValueError, KeyError):
        return False


def write_moved_stack(scene, shots, folder, key):
    """Frames the sharp scene and its defocused shots (RGB float, the frame plus margins), moves each shot but the
    first, adds noise of key['noise'] grey levels and writes the PNGs, truth.png and truth.json; returns the
    folder."""
    rng = fs.rng_for(key['seed'], key['scene'], key['shots'], 'moves')
    canvas_height, canvas_width = shots[0].shape[:2]
    ox = round(canvas_width * MARGIN / (1 + 2 * MARGIN))
    oy = round(canvas_height * MARGIN / (1 + 2 * MARGIN))
    width, height = canvas_width - 2 * ox, canvas_height - 2 * oy
    truth = dict(key=key, width=width, height=height, files=[], ref_to_shot=[])
    os.makedirs(folder, exist_ok=True)
    fs.write_png(os.path.join(folder, 'truth.png'), fs.quantise(scene[oy:oy + height, ox:ox + width], 8))
    for k, shot in enumerate(shots):
        bgr = np.ascontiguousarray(shot[..., ::-1])
        if k == 0:
            move, seen = np.hstack([np.eye(2), np.zeros((2, 1))]), bgr[oy:oy + height, ox:ox + width]
        else:
            move = random_similarity(rng, width, height)
            # The shot's pixel x shows the canvas at move^-1 x + (ox, oy).
            to_canvas = np.array([[1, 0, ox], [0, 1, oy], [0, 0, 1]]) @ np.linalg.inv(np.vstack([move, [0, 0, 1]]))
            seen = cv2.warpAffine(bgr, to_canvas[:2], (width, height), flags=cv2.INTER_LANCZOS4 | cv2.WARP_INVERSE_MAP,
                                  borderMode=cv2.BORDER_REFLECT)
        noisy = np.clip(np.rint(seen + rng.normal(0, key['noise'], seen.shape)), 0, 255).astype(np.uint8)
        name = '%d.png' % k
        if not cv2.imwrite(os.path.join(folder, name), noisy):
            raise SystemExit('Cannot write %s: check that the folder is writable' % os.path.join(folder, name))
        truth['files'].append(name)
        truth['ref_to_shot'].append(move.tolist())
    with open(os.path.join(folder, 'truth.json'), 'w') as f:
        json.dump(truth, f, indent=1)
    return folder


def scene_stacks(root, testdata, scenes, shot_counts, size, seed=1, noise_levels=(NOISE_SIGMA,)):
    """Stacks of focus_stacks' scenes (procedural ones framed at size, real ones at their own size), one per scene,
    shot count and noise level, under root/<scene>_n<N> (<scene>_n<N>_s<noise> for noise other than NOISE_SIGMA), in
    that order; stacks kept from an earlier run are used again. The moves are the same whatever the noise."""
    folders = []
    canvas_width, canvas_height = (round(side * (1 + 2 * MARGIN)) for side in size)
    for name in scenes:
        wanted = {(n, noise): (os.path.join(root, '%s_n%d' % (name, n) + ('' if noise == NOISE_SIGMA else
                                                                            '_s%g' % noise)),
                               dict(generator=GENERATOR, scene=name, shots=n, seed=seed, size=list(size), noise=noise))
                  for n in shot_counts for noise in noise_levels}
        missing = [(n, noise) for (n, noise), (folder, key) in wanted.items() if not kept(folder, key)]
        if missing:
            image, depth, blur_per_depth = fs.make_scene(name, seed, canvas_height, canvas_width, testdata, BLUR_RANGE)
            image = fs.quantise(image, 8).astype(np.float32)
            for n in sorted({n for n, _ in missing}):
                shots = focus_stack(image, depth, blur_per_depth, n, seed, name)
                for noise in [noise for m, noise in missing if m == n]:
                    write_moved_stack(image, shots, *wanted[(n, noise)])
        folders += [folder for folder, _ in wanted.values()]
    return folders


def large_stacks(root, testdata, seed=1):
    """The pcb picture of the test data enlarged to frames of 3 and 12.6 megapixels, 3 shots each, blurred by up to
    0.006 of the frame's diagonal per unit of depth: stacks for timing, scored too."""
    folders = []
    source = None
    for name, (width, height) in (('pcb_3mp', (2000, 1500)), ('pcb_12mp', (4096, 3072))):
        key = dict(generator=GENERATOR, scene=name, shots=3, seed=seed, size=[width, height], noise=NOISE_SIGMA)
        folder = os.path.join(root, '%s_n3' % name)
        folders.append(folder)
        if kept(folder, key):
            continue
        if source is None:
            path = os.path.join(testdata, 'triples', 'pcb_fullsize', '2.png')
            source = cv2.imread(path, cv2.IMREAD_COLOR)
            if source is None:
                raise SystemExit('Cannot read %s: check --testdata' % path)
            source = source[..., ::-1].astype(np.float32)
        canvas_size = (round(width * (1 + 2 * MARGIN)), round(height * (1 + 2 * MARGIN)))
        canvas = cv2.resize(source, canvas_size, interpolation=cv2.INTER_CUBIC)
        # The depth is smooth over the whole frame: made small, where its Gaussian is short, and enlarged.
        depth = fs.depth_map(fs.rng_for(seed, name), canvas_size[1] // 8, canvas_size[0] // 8, 'smooth', None)
        depth = cv2.resize(depth, canvas_size, interpolation=cv2.INTER_CUBIC)
        shots = focus_stack(canvas, depth, 0.006 * math.hypot(width, height), 3, seed, name)
        write_moved_stack(canvas, shots, folder, key)
    return folders
