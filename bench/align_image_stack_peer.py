"""align_image_stack (hugin-tools) as the peer of the alignment, and the transform it applies, measured.

It is run as a user runs it before fusing: -m to optimise the field of view (focus breathing) of every picture but
the first, -a to write the aligned pictures, -p to keep the project. What it applies is read back from nona's
coordinate pictures: `nona -c` writes for every output pixel the source pixel it samples, rounded to whole pixels
(pixel centres at whole coordinates); a least-squares homography over every covered pixel averages the rounding
away, and W_k = H_k H_0^-1 maps the first picture's pixels to picture k's, as truth.json does.
"""
import glob
import os
import resource
import shutil
import subprocess
import tempfile
import time

import cv2
import numpy as np
from scipy.optimize import least_squares

POINTS = 200000  # covered pixels each homography is fitted to


def available():
    return shutil.which('align_image_stack') is not None and shutil.which('nona') is not None


def timed(command):
    """Runs command; returns its exit status, wall seconds, CPU seconds (user + system) and output."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return done.returncode, wall, cpu, done.stdout + done.stderr


def fit_homography(output_points, source_points):
    """The homography from output pixels to source pixels: DLT, then least squares on the distance in the source."""
    start, _ = cv2.findHomography(output_points, source_points, 0)
    homogeneous = np.column_stack([output_points, np.ones(len(output_points))])

    def residuals(p):
        mapped = homogeneous @ np.append(p, 1.0).reshape(3, 3).T
        return (mapped[:, :2] / mapped[:, 2:3] - source_points).ravel()

    fitted = least_squares(residuals, (start / start[2, 2]).ravel()[:8], method='lm', x_scale='jac')
    return np.append(fitted.x, 1.0).reshape(3, 3)


def project_homographies(project, workdir):
    """For each picture of the project, in its order: the homography from output pixels to its pixels."""
    prefix = os.path.join(workdir, 'coordinates_')
    status, _, _, log = timed(['nona', '-c', '-m', 'TIFF_m', '-o', prefix, project])
    if status != 0:
        raise RuntimeError('nona failed: ' + log[-800:])
    rng = np.random.default_rng(0)
    homographies = []
    for k in range(len(glob.glob(prefix + '[0-9][0-9][0-9][0-9]_x.tif'))):
        x = cv2.imread('%s%04d_x.tif' % (prefix, k), cv2.IMREAD_UNCHANGED).astype(np.float64)
        y = cv2.imread('%s%04d_y.tif' % (prefix, k), cv2.IMREAD_UNCHANGED).astype(np.float64)
        covered = cv2.imread('%s%04d.tif' % (prefix, k), cv2.IMREAD_UNCHANGED)[..., -1] > 0
        # Inside the covered area by two pixels, whose edge may be partly interpolated, and inside the source
        # (negative coordinates wrap round in the 16-bit pictures).
        covered = cv2.erode(covered.astype(np.uint8), np.ones((5, 5), np.uint8)) > 0
        covered &= (x >= 2) & (y >= 2) & (x <= x.shape[1] - 3) & (y <= x.shape[0] - 3)
        rows, cols = np.nonzero(covered)
        if len(cols) > POINTS:
            chosen = rng.choice(len(cols), POINTS, replace=False)
            rows, cols = rows[chosen], cols[chosen]
        homographies.append(fit_homography(np.column_stack([cols, rows]).astype(np.float64),
                                           np.column_stack([x[rows, cols], y[rows, cols]])))
    return homographies


def project_files(project):
    """The picture files of the project's image lines, in order."""
    with open(project) as f:
        return [line.split(' n"', 1)[1].rsplit('"', 1)[0] for line in f if line.startswith('i ')]


def align(files):
    """Runs align_image_stack on files (absolute paths, the first the reference). Returns the 3x3 ref_to_shot
    matrix of every file (None for one it left out of its project, all None when it failed), its wall and CPU
    seconds."""
    workdir = tempfile.mkdtemp(prefix='align_image_stack_')
    try:
        project = os.path.join(workdir, 'stack.pto')
        status, wall, cpu, _ = timed(['align_image_stack', '-m', '-p', project, '-a',
                                      os.path.join(workdir, 'aligned_')] + files)
        if status != 0 or not os.path.exists(project):
            return [None] * len(files), wall, cpu
        by_file = {os.path.abspath(name): homography
                   for name, homography in zip(project_files(project), project_homographies(project, workdir))}
        if files[0] not in by_file:
            return [None] * len(files), wall, cpu
        from_reference = np.linalg.inv(by_file[files[0]])
        return [by_file[f] @ from_reference if f in by_file else None for f in files], wall, cpu
    finally:
        shutil.rmtree(workdir)
