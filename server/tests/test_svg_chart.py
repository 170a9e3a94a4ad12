"""The failure share chart, read back as a reader reads it: every point measured
against the chart's own share axis (its grid lines and their labels) and its
time axis, the limit line likewise."""

import os
import re
import sys
import unittest
import xml.etree.ElementTree as ET

# The tests' folder on the path also when run as tests.test_svg_chart from server/.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import support  # noqa: E402,F401  (puts the service's package on the path)
from vlrenova_service.store import BUCKET_SECONDS  # noqa: E402
from vlrenova_service.svg_chart import MAX_HOURS, Hour, failure_share_chart  # noqa: E402

SVG = "{http://www.w3.org/2000/svg}"
HOUR = BUCKET_SECONDS
# 2026-03-02 00:00 UTC: a midnight, so day ticks fall on known hours.
MIDNIGHT = 1772409600


def elements(root, tag, cls):
    return [e for e in root.iter(SVG + tag) if cls in (e.get("class") or "").split()]


class Drawing:
    """What the chart shows: its points, the share axis as a mapping, the limit, the line."""

    def __init__(self, hours, limit):
        self.markup = failure_share_chart(hours, limit)
        self.root = ET.fromstring(self.markup)          # well-formed, or this fails
        self.points = [(int(c.get("data-bucket")), float(c.get("cx")), float(c.get("cy")),
                        c.find(SVG + "title").text) for c in elements(self.root, "circle", "hour")]
        lines = [float(l.get("y1")) for l in elements(self.root, "line", "grid")]
        labels = [float(t.text.rstrip(" %")) / 100 for t in elements(self.root, "text", "share")]
        self.axis = list(zip(labels, lines))
        limit_lines = elements(self.root, "line", "limit")
        self.limit_y = float(limit_lines[0].get("y1")) if limit_lines else None
        path = elements(self.root, "path", "overall")
        self.overall = ([(float(x), float(y)) for x, y in re.findall(r"[ML]([\d.]+) ([\d.]+)", path[0].get("d"))]
                        if path else [])

    def y_of(self, share):
        """The height the share axis gives a share (from its first and last grid line)."""
        (s0, y0), (s1, y1) = self.axis[0], self.axis[-1]
        return y0 + (y1 - y0) * (share - s0) / (s1 - s0)


class ChartTest(unittest.TestCase):
    def test_points_sit_on_both_axes_and_the_limit_on_the_share_axis(self):
        hours = [Hour(MIDNIGHT + 2 * HOUR, 1, 10), Hour(MIDNIGHT + 3 * HOUR, 0, 4),
                 Hour(MIDNIGHT + 4 * HOUR, 0, 0),           # offers only: no share, no point
                 Hour(MIDNIGHT + 30 * HOUR, 3, 12), Hour(MIDNIGHT + 50 * HOUR, 2, 5)]
        drawing = Drawing(list(reversed(hours)), 0.2)       # any order in, time order out
        ended = [h for h in hours if h.ended]
        self.assertEqual([p[0] for p in drawing.points], [h.start for h in ended])
        # The share axis: evenly spaced labelled grid lines from 0 %, up to a top that holds every point.
        self.assertEqual(drawing.axis[0][0], 0)
        for share, y in drawing.axis:
            self.assertAlmostEqual(y, drawing.y_of(share), places=1)
        self.assertGreaterEqual(drawing.axis[-1][0], max(h.share for h in ended))
        for hour, (_, _, cy, title) in zip(ended, drawing.points):
            self.assertAlmostEqual(cy, drawing.y_of(hour.share), places=1, msg=title)
            self.assertIn("%d of %d ended runs failed (%.1f %%)" % (hour.failed, hour.ended, 100 * hour.share), title)
        self.assertAlmostEqual(drawing.limit_y, drawing.y_of(0.2), places=1)
        # The time axis: x is linear in time, so gaps between points keep their length.
        (t0, x0, _, _), (t1, x1, _, _) = drawing.points[0], drawing.points[-1]
        for start, cx, _, _ in drawing.points:
            self.assertAlmostEqual(cx, x0 + (x1 - x0) * (start - t0) / (t1 - t0), places=1)
        # Its ticks are midnights (UTC) on the same line: 03-03 and 03-04 lie within the hours shown.
        ticks = {t.text: float(t.get("x")) for t in elements(drawing.root, "text", "time")}
        for label, midnight in (("Mar 03", MIDNIGHT + 24 * HOUR), ("Mar 04", MIDNIGHT + 48 * HOUR)):
            self.assertIn(label, ticks)
            self.assertAlmostEqual(ticks[label], x0 + (x1 - x0) * (midnight - HOUR / 2 - t0) / (t1 - t0), places=1)
        # The line is the share of all runs ended so far, also through an hour where none ended.
        self.assertEqual(len(drawing.overall), 5)
        for (x, y), share in zip(drawing.overall, (1 / 10, 1 / 14, 1 / 14, 4 / 26, 6 / 31)):
            self.assertAlmostEqual(y, drawing.y_of(share), places=1)
        # One bar per hour with ended runs, the highest for the most runs.
        bars = [float(r.get("height")) for r in elements(drawing.root, "rect", "runs")]
        self.assertEqual(len(bars), 4)
        self.assertEqual(bars.index(max(bars)), 2)

    def test_the_share_axis_holds_every_share_and_the_limit(self):
        for shares, limit in (([0.0, 0.0], 0.2), ([1.0, 0.5], 0.2), ([0.03], 0.01), ([0.0], 0.9)):
            hours = [Hour(MIDNIGHT + i * HOUR, round(100 * s), 100) for i, s in enumerate(shares)]
            drawing = Drawing(hours, limit)
            top = drawing.axis[-1][0]
            self.assertLessEqual(top, 1.0)
            self.assertGreaterEqual(top, max(shares + [limit]), (shares, limit))
            plot_top, plot_bottom = drawing.y_of(top), drawing.y_of(0)
            for _, _, cy, _ in drawing.points:
                self.assertTrue(plot_top - 0.01 <= cy <= plot_bottom + 0.01, (shares, limit, cy))
            self.assertTrue(plot_top <= drawing.limit_y <= plot_bottom)

    def test_long_histories_show_their_last_days_and_count_all_of_them(self):
        # A bad first day, then MAX_HOURS quiet hours: the line starts where all runs stand.
        early = [Hour(MIDNIGHT + i * HOUR, 5, 10) for i in range(24)]
        late = [Hour(MIDNIGHT + (24 + i) * HOUR, 0, 10) for i in range(MAX_HOURS)]
        drawing = Drawing(early + late, 0.2)
        self.assertEqual([p[0] for p in drawing.points], [h.start for h in late])
        self.assertEqual(len(drawing.overall), MAX_HOURS)
        self.assertAlmostEqual(drawing.overall[0][1], drawing.y_of(120 / 250), places=1)
        self.assertAlmostEqual(drawing.overall[-1][1], drawing.y_of(120 / (240 + 10 * MAX_HOURS)), places=1)
        self.assertLess(len(drawing.markup), 200000)

    def test_a_single_hour_and_no_ended_run(self):
        drawing = Drawing([Hour(MIDNIGHT + 5 * HOUR, 1, 4)], 0.2)
        self.assertEqual(len(drawing.points), 1)
        self.assertAlmostEqual(drawing.points[0][2], drawing.y_of(0.25), places=1)
        self.assertTrue(elements(drawing.root, "text", "time"), "a single hour still has its time")
        for hours in ([], [Hour(MIDNIGHT, 0, 0), Hour(MIDNIGHT + HOUR, 0, 0)]):
            drawing = Drawing(hours, 0.2)
            self.assertEqual(drawing.points, [])
            self.assertIsNone(drawing.limit_y)
            self.assertIn("no run has ended yet", drawing.markup)


if __name__ == "__main__":
    unittest.main()
