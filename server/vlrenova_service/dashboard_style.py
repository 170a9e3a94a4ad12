"""The dashboard's look: one style sheet, sent inline with each page (its
Content-Security-Policy lets no style sheet load from anywhere)."""

from .svg_chart import STYLE as CHART_STYLE

STYLE = """
* { box-sizing: border-box; }
body { margin: 0; background: #f5f6f8; color: #1f2933;
       font: 14px/1.45 system-ui, "Segoe UI", "Noto Sans", "DejaVu Sans", sans-serif; }
header { background: #fff; border-bottom: 1px solid #e3e6ea; padding: 10px 28px;
         display: flex; align-items: baseline; gap: 14px; }
header h1 { font-size: 16px; margin: 0; font-weight: 600; }
header h1 a { color: inherit; text-decoration: none; }
header .meta { color: #6b7280; font-size: 12.5px; }
header form { margin-left: auto; }
button { font: inherit; font-size: 12.5px; padding: 4px 12px; border: 1px solid #cfd4da; border-radius: 6px;
         background: #fff; color: #374151; cursor: pointer; }
main { max-width: 1120px; margin: 0 auto; padding: 18px 28px 36px; }
section { background: #fff; border: 1px solid #e3e6ea; border-radius: 8px; padding: 14px 18px 16px;
          margin-bottom: 16px; }
h2 { font-size: 15px; margin: 0 0 10px; font-weight: 600; overflow-wrap: anywhere; }
h2 .muted { font-weight: 400; font-size: 13px; }
h3 { font-size: 12px; text-transform: uppercase; letter-spacing: .05em; color: #6b7280; font-weight: 600;
     margin: 18px 0 6px; }
a { color: #1d4ed8; text-decoration: none; }
a:hover { text-decoration: underline; }
table { border-collapse: collapse; width: 100%; font-variant-numeric: tabular-nums; }
th, td { text-align: left; padding: 5px 10px 5px 0; border-bottom: 1px solid #eef0f3; vertical-align: baseline; }
th { font-weight: 500; color: #6b7280; font-size: 12.5px; white-space: nowrap; }
td.n, th.n { text-align: right; white-space: nowrap; }
td.text { overflow-wrap: anywhere; }
tr:last-child td { border-bottom: none; }
table.codes, table.versions, table.events { width: auto; min-width: 55%; }
table.codes td, table.versions td, table.codes th { padding-right: 22px; }
.muted { color: #6b7280; }
.nowrap { white-space: nowrap; }
.small { font-size: 12.5px; }
.badge { display: inline-block; padding: 0 8px; border-radius: 999px; font-size: 12px; font-weight: 600;
         line-height: 20px; }
.badge.rolling { background: #dbeafe; color: #1e40af; }
.badge.halted { background: #fee2e2; color: #991b1b; }
.badge.complete { background: #dcfce7; color: #166534; }
.badge.retired { background: #eceff3; color: #4b5563; }
.over { color: #b91c1c; font-weight: 600; }
.reason { background: #fef2f2; border-left: 3px solid #dc2626; padding: 7px 12px; margin: 8px 0 4px;
          overflow-wrap: anywhere; }
.note { background: #f8fafc; border-left: 3px solid #94a3b8; padding: 7px 12px; margin: 8px 0 4px; }
.meter { display: inline-block; width: 90px; height: 6px; background: #e5e7eb; border-radius: 3px;
         vertical-align: middle; margin-right: 8px; overflow: hidden; }
.meter span { display: block; height: 6px; background: #3b82f6; }
.versions .meter { width: 180px; }
.versions .meter span { background: #64748b; }
.tiles { display: flex; flex-wrap: wrap; gap: 10px; margin: 12px 0 4px; }
.tile { flex: 1 1 100px; border: 1px solid #e3e6ea; border-radius: 8px; padding: 8px 12px; }
.tile.wide { flex: 2.2 1 230px; }
.tile .label { color: #6b7280; font-size: 12px; }
.tile .value { font-size: 20px; font-weight: 600; font-variant-numeric: tabular-nums; }
.tile .sub { color: #6b7280; font-size: 12px; }
.legend { color: #6b7280; font-size: 12px; margin: 4px 0 0; }
.legend .key { display: inline-block; width: 16px; height: 0; vertical-align: middle; margin: 0 5px 0 12px; }
.legend .key:first-child { margin-left: 0; }
.legend .k-overall { border-top: 2.5px solid #1d4ed8; }
.legend .k-hour { width: 7px; height: 7px; border-radius: 50%; background: #475569; }
.legend .k-limit { border-top: 2px dashed #c2410c; }
.legend .k-runs { width: 10px; height: 8px; background: #cbd5e1; }
.login { max-width: 380px; margin: 80px auto; }
.login input { font: inherit; width: 100%; padding: 7px 9px; border: 1px solid #cfd4da; border-radius: 6px;
               margin: 6px 0 12px; }
.login .refused { color: #b91c1c; }
""" + CHART_STYLE
