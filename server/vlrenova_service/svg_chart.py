"""The failure share over time as inline SVG, drawn by the service itself: no
script, no style sheet from elsewhere. Pure: hour buckets in, markup out.

Each hour with ended runs is a point (its own failed/ended share, the
hour's story); the line is the share of all runs ended so far, which is what
the automatic halt compares with the limit, drawn as a dashed line. A strip
below shows how many runs ended in each hour, so a point from two runs is
not read like one from two hundred."""

import html
import time

from .store import BUCKET_SECONDS

WIDTH, HEIGHT = 760, 262
LEFT, RIGHT = 48, WIDTH - 14
PLOT_TOP, PLOT_BOTTOM = 14, 180
BARS_TOP, BARS_BOTTOM = 192, 228
AXIS_LABELS_Y = 246
# Hours beyond this are left out of the drawing (they still count in the line).
MAX_HOURS = 14 * 24
SMALLEST_POINT, LARGEST_POINT = 1.5, 3.4
# The share axis ends at the first of these that holds every point and the
# limit, with grid lines at its step.
SCALES = ((0.05, 0.01), (0.1, 0.02), (0.2, 0.05), (0.25, 0.05), (0.4, 0.1), (0.5, 0.1), (0.6, 0.1),
          (0.8, 0.2), (1.0, 0.2))
DAY = 24 * 60 * 60
TICK_SPACINGS = (15 * 60, 3600, 3 * 3600, 6 * 3600, DAY, 2 * DAY)
# The chart's look, for the page's style element.
STYLE = """
svg.chart { width: 100%; height: auto; display: block; }
svg.chart .grid { stroke: #e7e9ee; stroke-width: 1; }
svg.chart .tick { stroke: #f1f2f5; stroke-width: 1; }
svg.chart .axis, svg.chart .empty { fill: #6b7280; font-size: 11px; }
svg.chart .empty { font-size: 13px; }
svg.chart .limit { stroke: #c2410c; stroke-width: 1.5; stroke-dasharray: 6 4; }
svg.chart .limit-label { fill: #c2410c; font-size: 11px; }
svg.chart .overall { fill: none; stroke: #1d4ed8; stroke-width: 2.2; stroke-linejoin: round; }
svg.chart .hourly { fill: none; stroke: #94a3b8; stroke-width: 1; }
svg.chart .hour { fill: #475569; }
svg.chart .runs { fill: #cbd5e1; }
"""


class Hour:
    """One hour bucket: when it starts and how many runs ended, how many failed."""

    def __init__(self, start, failed, ended):
        self.start = int(start)
        self.failed = int(failed)
        self.ended = int(ended)

    @property
    def share(self):
        return self.failed / self.ended if self.ended else None


def percent(share):
    return "%.1f %%" % (100 * share)


def utc(seconds, form="%Y-%m-%d %H:%M UTC"):
    return time.strftime(form, time.gmtime(seconds))


def scale_for(highest):
    for top, step in SCALES:
        if highest <= top:
            return top, step
    return SCALES[-1]


def cumulative_shares(hours):
    """[(hour, share of all runs ended up to its end)] for hours after the first ended run."""
    failed = ended = 0
    shares = []
    for hour in hours:
        failed += hour.failed
        ended += hour.ended
        if ended:
            shares.append((hour, failed / ended))
    return shares


def failure_share_chart(hours, limit):
    """The chart of [Hour] (any order, one per bucket) against the limit (0 to 1), as an <svg> element."""
    hours = sorted(hours, key=lambda h: h.start)
    cumulative = cumulative_shares(hours)
    if hours:
        first_shown = max(hours[0].start, hours[-1].start - (MAX_HOURS - 1) * BUCKET_SECONDS)
        hours = [h for h in hours if h.start >= first_shown]
        cumulative = [(h, s) for h, s in cumulative if h.start >= first_shown]
    ended_hours = [h for h in hours if h.ended]
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" class="chart" viewBox="0 0 %d %d" role="img" '
             'aria-label="failure share per hour and overall, against the limit">' % (WIDTH, HEIGHT)]
    if not ended_hours:
        parts.append('<text x="%d" y="%d" text-anchor="middle" class="empty">no run has ended yet</text>'
                     % (WIDTH // 2, (PLOT_TOP + PLOT_BOTTOM) // 2))
        parts.append("</svg>")
        return "".join(parts)

    highest = max([h.share for h in ended_hours] + [s for _, s in cumulative] + [limit])
    top, step = scale_for(highest)
    start = hours[0].start
    end = hours[-1].start + BUCKET_SECONDS

    def x(seconds):
        return LEFT + (RIGHT - LEFT) * (seconds - start) / (end - start)

    def y(share):
        return PLOT_BOTTOM - (PLOT_BOTTOM - PLOT_TOP) * share / top

    def middle(hour):
        return x(hour.start + BUCKET_SECONDS / 2)

    parts += _grid(top, step, y)
    parts += _time_axis(start, end, x)
    parts.append('<line class="limit" x1="%d" x2="%d" y1="%.2f" y2="%.2f"/>' % (LEFT, RIGHT, y(limit), y(limit)))
    parts.append('<text class="limit-label" x="%d" y="%.2f" text-anchor="end">limit %s</text>'
                 % (RIGHT - 2, y(limit) - 4, percent(limit)))
    parts.append('<path class="overall" d="%s"/>' % _path([(h.start, middle(h), y(s)) for h, s in cumulative]))
    parts.append('<path class="hourly" d="%s"/>' % _path([(h.start, middle(h), y(h.share)) for h in ended_hours],
                                                         BUCKET_SECONDS))
    most = max(h.ended for h in ended_hours)
    for hour in ended_hours:
        # An hour of few runs is a smaller point: its share says less.
        radius = SMALLEST_POINT + (LARGEST_POINT - SMALLEST_POINT) * (hour.ended / most) ** 0.5
        parts.append('<circle class="hour" data-bucket="%d" cx="%.2f" cy="%.2f" r="%.2f"><title>%s: %d of %d ended '
                     'runs failed (%s)</title></circle>' % (hour.start, middle(hour), y(hour.share), radius,
                                                           utc(hour.start), hour.failed, hour.ended,
                                                           percent(hour.share)))
    parts += _run_bars(ended_hours, x)
    parts.append("</svg>")
    return "".join(parts)


def _path(points, adjacent=None):
    """An SVG path through [(hour start, x, y)]; with adjacent, a new stroke after a longer gap."""
    commands = []
    for index, (start, px, py) in enumerate(points):
        joined = index > 0 and (adjacent is None or start - points[index - 1][0] <= adjacent)
        commands.append("%s%.2f %.2f" % ("L" if joined else "M", px, py))
    return " ".join(commands)


def _grid(top, step, y):
    lines = []
    count = round(top / step)
    for index in range(count + 1):
        share = index * step
        lines.append('<line class="grid" x1="%d" x2="%d" y1="%.2f" y2="%.2f"/>' % (LEFT, RIGHT, y(share), y(share)))
        lines.append('<text class="axis share" x="%d" y="%.2f" text-anchor="end">%g %%</text>'
                     % (LEFT - 6, y(share) + 4, round(100 * share, 1)))
    return lines


def _time_axis(start, end, x):
    """A tick and its time at round hours or midnights (UTC), no more than about eight."""
    span = end - start
    spacing = next((s for s in TICK_SPACINGS if span <= 8 * s), TICK_SPACINGS[-1])
    form = "%b %d" if spacing >= DAY else "%H:%M"
    parts = []
    tick = start - start % spacing + (spacing if start % spacing else 0)
    while tick <= end:
        parts.append('<line class="tick" x1="%.2f" x2="%.2f" y1="%d" y2="%d"/>' % (x(tick), x(tick), PLOT_TOP,
                                                                                 BARS_BOTTOM))
        parts.append('<text class="axis time" x="%.2f" y="%d" text-anchor="middle">%s</text>'
                     % (x(tick), AXIS_LABELS_Y, html.escape(utc(tick, form))))
        tick += spacing
    parts.append('<text class="axis" x="%d" y="%d" text-anchor="end">UTC</text>' % (RIGHT, AXIS_LABELS_Y + 14))
    return parts


def _run_bars(ended_hours, x):
    most = max(h.ended for h in ended_hours)
    width = max(1.0, x(BUCKET_SECONDS) - x(0) - 1)
    parts = ['<text class="axis" x="%d" y="%d" text-anchor="end">runs</text>' % (LEFT - 6, BARS_BOTTOM - 2),
             '<text class="axis" x="%d" y="%d" text-anchor="end">%d</text>' % (LEFT - 6, BARS_TOP + 8, most)]
    for hour in ended_hours:
        height = (BARS_BOTTOM - BARS_TOP) * hour.ended / most
        parts.append('<rect class="runs" x="%.2f" y="%.2f" width="%.2f" height="%.2f"/>'
                     % (x(hour.start) + 0.5, BARS_BOTTOM - height, width, height))
    return parts
