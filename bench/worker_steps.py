"""gunicorn settings for the service benchmark's breakdown of a check: each
worker times the steps of the service's requests after the first
$STEP_TIMES_SKIP (its warm-up) and, when it ends, writes {step: [calls, CPU
seconds, wall seconds]} to $STEP_TIMES_DIR/<pid>.json.

    gunicorn -c bench/worker_steps.py ... vlrenova_service.wsgi:application

The steps are wrapped in the worker before the application is made, so the
application is the one the benchmark measures without them; a wrapper costs
two clock reads per call.
"""

import functools
import importlib
import json
import os
import time

# (module, class or None, function, step) in the order a check runs them.
STEPS = (
    ("vlrenova_service.app", "Application", "__call__", "application call"),
    ("vlrenova_service.app", None, "decode_form_body", "form read and XML parsed"),
    ("vlrenova_service.protocol", None, "form_decode", "form decoding, both levels"),
    ("vlrenova_service.store", "Store", "offer", "offer read"),
    ("vlrenova_service.store", "Store", "record_check", "check counted (one transaction)"),
    ("vlrenova_service.service", "UpdateService", "_answer", "answer made and signed"),
    ("vlrenova_service.signing", "SigningKey", "sign", "ECDSA P-256 signature"),
)

_totals = {}
_requests = [0]


def _timed(function, step, counts_requests):
    totals = _totals.setdefault(step, [0, 0.0, 0.0])
    skip = int(os.environ.get("STEP_TIMES_SKIP", "0"))

    @functools.wraps(function)
    def timed(*args, **kwargs):
        if counts_requests:
            _requests[0] += 1
        if _requests[0] <= skip:
            return function(*args, **kwargs)
        cpu, wall = time.process_time(), time.perf_counter()
        try:
            return function(*args, **kwargs)
        finally:
            totals[0] += 1
            totals[1] += time.process_time() - cpu
            totals[2] += time.perf_counter() - wall
    return timed


def post_fork(server, worker):
    for number, (module_name, class_name, name, step) in enumerate(STEPS):
        owner = importlib.import_module(module_name)
        if class_name:
            owner = getattr(owner, class_name, None)
        if owner is None or not hasattr(owner, name):
            continue            # moved or renamed: the breakdown goes without it
        setattr(owner, name, _timed(getattr(owner, name), step, counts_requests=number == 0))


def worker_exit(server, worker):
    folder = os.environ.get("STEP_TIMES_DIR")
    if folder:
        with open(os.path.join(folder, "%d.json" % os.getpid()), "w") as f:
            json.dump(_totals, f)
