"""The dashboard's pages as HTML, read from the database and the catalog: per
product its offers with their rollout, state and counts, the versions its
machines run, and per offer the failure share over time and why runs failed.

Every text from the database or the catalog is escaped by shown(): versions
and product names are whatever a client or a product file said."""

import html
import unicodedata

from .dashboard_style import STYLE
from .svg_chart import Hour, failure_share_chart, percent, utc

# What a failed run's first report says failed (docs/protocol.md, the status codes).
ACTION_MEANINGS = {9: "a download", 10: "the update's setup", 11: "the installation's setup",
                   13: "StartProcess", 14: "StopProcess", 15: "DelRegValue", 16: "StartService",
                   17: "StopService", 18: "SetRegValue"}
COUNT_KINDS = (("offered", "Offered"), ("started", "Started"), ("succeeded", "Succeeded"),
               ("failed", "Failed"), ("canceled", "Canceled"))
EVENTS_SHOWN = 12
LEGEND = ('<p class="legend"><span class="key k-overall"></span>all ended runs so far'
          '<span class="key k-hour"></span>one hour\'s runs<span class="key k-limit"></span>halt limit'
          '<span class="key k-runs"></span>runs ended per hour &middot; an hour without an ended run has no point'
          '</p>')
VERSIONS_SHOWN = 12


def shown(value):
    """A text from the database or the catalog, safe in HTML: escaped, and its control
    and direction characters made visible, so a version can't dress up as another."""
    text = "".join("\N{REPLACEMENT CHARACTER}" if unicodedata.category(c) in ("Cc", "Cf") else c
                   for c in str(value))
    return html.escape(text, quote=True)


def number(value):
    return "{:,}".format(value)


def page(title, body, base=None, database=None, now=None):
    """A whole page; base given: signed in, with the header's links and sign-out."""
    header = ""
    if base is not None:
        header = ('<header><h1><a href="%s">Update service</a></h1><span class="meta">%s database &middot; '
                  '%s</span><form method="post" action="%s/logout"><button>Sign out</button></form></header>'
                  % (base, shown(database), utc(now), base))
    return ('<!DOCTYPE html><html lang="en"><head><meta charset="utf-8"><title>%s</title>'
            '<meta name="viewport" content="width=device-width, initial-scale=1">'
            '<link rel="icon" href="data:,"><style>%s</style></head><body>%s<main>%s</main></body></html>'
            % (shown(title), STYLE, header, body))


def login_page(base, next_path, refused=False):
    message = ('<p class="refused">That is not the dashboard\'s token.</p>' if refused else
               '<p class="muted small">The token is in the file that dashboard_token_file names in '
               'service.conf.</p>')
    body = ('<section class="login"><h2>Update service dashboard</h2>%s'
            '<form method="post" action="%s/login"><label for="token">Token</label>'
            '<input id="token" name="token" type="password" autocomplete="current-password" autofocus>'
            '<input type="hidden" name="next" value="%s"><button>Sign in</button></form></section>'
            % (message, base, shown(next_path)))
    return page("Dashboard: sign in", body)


def message_page(title, text, base=None, database=None, now=None):
    return page(title, '<section><h2>%s</h2><p>%s</p></section>' % (shown(title), shown(text)), base, database, now)


# --- what an offer is and how it stands ------------------------------------------------

def is_current(offer, catalog_products):
    product = catalog_products.get(offer.program_name)
    return product is not None and product.update_id == offer.update_id


def state_badge(offer, current):
    if offer.halted:
        return '<span class="badge halted">halted</span>'
    if not current:
        return '<span class="badge retired">not offered</span>'
    return '<span class="badge %s">%s</span>' % (offer.state, offer.state)


def rollout_cell(offer):
    width = max(0.0, min(100.0, offer.percent))
    return '<span class="meter"><span style="width:%.1f%%"></span></span>%s' % (width, "%g %%" % offer.percent)


def failure_share_text(counts, offer):
    share = percent(counts.failure_share) if counts.ended else "&ndash;"
    over = counts.ended >= offer.min_runs and counts.failure_share > offer.failure_limit
    return '<span class="share%s">%s</span>' % (" over" if over else "", share)


def limit_text(offer):
    return "limit %s after %s runs" % (percent(offer.failure_limit), number(offer.min_runs))


# --- the overview ----------------------------------------------------------------------

def overview(store, catalog, base, now):
    offers = store.offers()
    products = catalog.products()
    names = sorted(set(products) | {o.program_name for o in offers}, key=lambda n: (n.casefold(), n))
    if not names:
        body = ('<section><h2>Nothing is published yet</h2><p class="muted">Offers appear here once '
                '<code>vlrenova-service publish</code> has made one.</p></section>')
    else:
        body = "".join(product_section(store, name, products.get(name),
                                       [o for o in offers if o.program_name == name], products, base)
                       for name in names)
    body += events_section(store.recent_events(EVENTS_SHOWN), {o.update_id: o for o in offers}, base)
    return page("Update service dashboard", body, base, store.kind, now)


def product_section(store, name, product, offers, products, base):
    # The catalog's offer first, then the older ones, newest first.
    offers = sorted(offers, key=lambda o: (not is_current(o, products), -o.update_id))
    rows = []
    halts = []
    for offer in offers:
        counts = store.counts(offer.update_id)
        current = is_current(offer, products)
        cells = "".join('<td class="n %s">%s</td>' % (kind, number(getattr(counts, kind))) for kind, _ in COUNT_KINDS)
        rows.append('<tr class="offer" id="offer-%d"><td><a href="%s/offer/%d">%d</a></td><td class="text version">%s'
                    '</td><td class="state">%s</td><td class="rollout">%s</td>%s<td class="n share">%s</td>'
                    '<td class="small muted limit">%s</td></tr>'
                    % (offer.update_id, base, offer.update_id, offer.update_id, shown(offer.version),
                       state_badge(offer, current), rollout_cell(offer), cells, failure_share_text(counts, offer),
                       limit_text(offer)))
        if offer.halted:
            halts.append('<div class="reason" id="halt-%d">UpdateId %d halted: %s</div>'
                         % (offer.update_id, offer.update_id, shown(offer.halt_reason)))
    if rows:
        heads = "".join('<th class="n">%s</th>' % title for _, title in COUNT_KINDS)
        table = ('<table class="offers"><thead><tr><th>UpdateId</th><th>Version</th><th>State</th><th>Rollout</th>'
                 '%s<th class="n">Failure share</th><th></th></tr></thead><tbody>%s</tbody></table>'
                 % (heads, "".join(rows)))
    elif product is not None and product.update_id == 0:
        table = '<p class="muted">Its catalog file offers nothing (a notice to every machine).</p>'
    else:
        table = '<p class="muted">No offer yet: its first check registers it.</p>'
    if product is None:
        table = '<div class="note">Not in the catalog any more: no machine is offered these.</div>' + table
    return ('<section class="product"><h2>%s</h2>%s%s%s</section>'
            % (shown(name), table, "".join(halts), versions_block(store, name)))


def versions_block(store, name):
    versions = store.versions(name, VERSIONS_SHOWN)
    machines = store.machine_count(name)
    if not machines:
        return '<h3>Installed versions</h3><p class="muted small">No machine has checked yet.</p>'
    rows = "".join('<tr class="installed"><td class="text version">%s</td><td class="n count">%s</td>'
                   '<td class="n muted small">%s</td><td><span class="meter"><span style="width:%.1f%%"></span>'
                   '</span></td></tr>' % (shown(version), number(count), percent(count / machines),
                                          100.0 * count / machines)
                   for version, count in versions)
    others = machines - sum(count for _, count in versions)
    if others:
        rows += ('<tr><td class="muted">other versions</td><td class="n">%s</td><td class="n muted small">%s</td>'
                 '<td></td></tr>' % (number(others), percent(others / machines)))
    return ('<h3>Installed versions &middot; <span class="machines">%s</span> machines</h3>'
            '<table class="versions">%s</table>' % (number(machines), rows))


def events_section(events, offers, base):
    if not events:
        return ""
    rows = []
    for at, update_id, text in events:
        offer = offers.get(update_id)
        what = "%s %s" % (shown(offer.program_name), shown(offer.version)) if offer else ""
        rows.append('<tr class="event"><td class="muted small nowrap">%s</td><td><a href="%s/offer/%d">%d</a></td>'
                    '<td class="muted nowrap">%s</td><td class="text">%s</td></tr>'
                    % (utc(at), base, update_id, update_id, what, shown(text)))
    return '<section><h2>Last events</h2><table class="events">%s</table></section>' % "".join(rows)


# --- one offer -------------------------------------------------------------------------

def offer_page(store, catalog, base, update_id, now):
    """The offer's page, or None when there is no such offer."""
    offer = store.offer(update_id)
    if offer is None:
        return None
    products = catalog.products()
    current = is_current(offer, products)
    counts = store.counts(update_id)
    hours = [Hour(start, c.failed, c.ended) for start, c in store.counts_by_bucket(update_id)]
    parts = ['<p class="small"><a href="%s">&larr; All offers</a></p><section>' % base,
             '<h2>%s %s <span class="muted">UpdateId %d</span> %s</h2>'
             % (shown(offer.program_name), shown(offer.version), offer.update_id, state_badge(offer, current))]
    if offer.halted:
        parts.append('<div class="reason" id="halt-reason">Halted: %s</div>' % shown(offer.halt_reason))
    if not current:
        parts.append('<div class="note">The catalog offers %s now: no machine gets this one.</div>'
                     % ("another UpdateId" if offer.program_name in products else "nothing for this product"))
    parts.append(tiles(offer, counts))
    parts.append('<h3>Failure share over time</h3>%s%s' % (failure_share_chart(hours, offer.failure_limit), LEGEND))
    parts.append(failure_codes_block(counts))
    parts.append(offer_events_block(store.events(update_id, EVENTS_SHOWN)))
    parts.append("</section>")
    parts.append('<section class="product"><h2>%s</h2>%s</section>'
                 % (shown(offer.program_name), versions_block(store, offer.program_name)))
    return page("%s %s: UpdateId %d" % (offer.program_name, offer.version, update_id), "".join(parts), base,
                store.kind, now)


def tiles(offer, counts):
    cells = ['<div class="tile" id="tile-rollout"><div class="label">Rollout</div><div class="value">%s</div>'
             '<div class="sub">of machines</div></div>' % ("%g %%" % offer.percent)]
    for kind, title in COUNT_KINDS:
        cells.append('<div class="tile" id="tile-%s"><div class="label">%s</div><div class="value">%s</div></div>'
                     % (kind, title, number(getattr(counts, kind))))
    cells.append('<div class="tile wide" id="tile-share"><div class="label">Failure share</div>'
                 '<div class="value">%s</div>'
                 '<div class="sub">of <span class="ended">%s</span> ended runs; %s</div></div>'
                 % (failure_share_text(counts, offer), number(counts.ended), limit_text(offer)))
    return '<div class="tiles">%s</div>' % "".join(cells)


def failure_codes_block(counts):
    codes = counts.failure_codes()
    if not codes:
        return '<h3>Failed actions</h3><p class="muted small">No run has reported a failed action.</p>'
    total = sum(n for _, n in codes)
    rows = "".join('<tr class="code" id="code-%d"><td class="n">%d</td><td>%s</td><td class="n count">%s</td>'
                   '<td class="n muted small">%s</td></tr>'
                   % (code, code, ACTION_MEANINGS.get(code, "an action of type %d" % code), number(n),
                      percent(n / total))
                   for code, n in codes)
    return ('<h3>Failed actions</h3><table class="codes"><thead><tr><th class="n">Code</th><th>What failed</th>'
            '<th class="n">Reports</th><th class="n">Share</th></tr></thead><tbody>%s</tbody></table>' % rows)


def offer_events_block(events):
    if not events:
        return '<h3>Events</h3><p class="muted small">No change since it was published.</p>'
    rows = "".join('<tr class="event"><td class="muted small nowrap">%s</td><td class="text">%s</td></tr>'
                   % (utc(at), shown(text)) for at, text in events)
    return '<h3>Events</h3><table class="events">%s</table>' % rows

