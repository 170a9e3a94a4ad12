"""vlrenova-service: the vendor's command line. Run it with --help."""

import argparse
import json
import logging
import os
import re
import secrets
import shutil
import signal
import sys
import tempfile
import threading

from . import builtin_server
from .catalog import Catalog, check_product
from .config import Config, ConfigError, configure_logging
from .protocol import build_instruction, expiry_time, nothing_offered
from .service import Settings, UpdateService
from .signing import DigestCache, SigningError, SigningKey, file_digest, signed_answer
from .store import StoreError

log = logging.getLogger("vlrenova")

CONFIG_TEMPLATE = """[service]
# The folder of product files (one JSON file per product) and their downloads in files/.
catalog = catalog
# sqlite:FILE (one machine) or a PostgreSQL connection string (several).
database = sqlite:service.db
# The address the updaters reach this service at; {server} in the catalog becomes it.
public_url = %(public_url)s
# Where the downloads are served from, when not by this service ({files} in the catalog).
# files_url = https://cdn.example.com/renova
# The P-256 key that signs answers, one per line; leave it out to sign offline (see the README).
# signing_key = signing-key.pem
# Halt an offer by itself once this many runs have ended and more than this share failed.
halt_min_runs = 50
halt_failure_share = 0.2
dashboard_token_file = dashboard-token
"""


class Failure(Exception):
    pass


def write_atomically(path, data):
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".tmp-")
    with os.fdopen(handle, "wb") as f:
        f.write(data)
    os.replace(temporary, path)


def product_file(config, name):
    """The catalog file of a product: named after it, so one product, one file."""
    slug = re.sub(r"[^A-Za-z0-9._-]+", "-", name).strip("-.") or "product"
    return os.path.join(config.catalog, slug + ".json")


def read_product(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except FileNotFoundError:
        return None
    except (OSError, ValueError) as e:
        raise Failure("cannot read %s: %s" % (path, e))


def write_product(path, fields):
    problem = check_product(fields)
    if problem:
        raise Failure("%s would not be taken: %s" % (path, problem))
    write_atomically(path, (json.dumps(fields, indent=2, ensure_ascii=False) + "\n").encode("utf-8"))


# --- commands --------------------------------------------------------------------------

def command_init(args):
    folder = os.path.abspath(args.folder)
    settings = os.path.join(folder, "service.conf")
    if os.path.exists(settings):
        raise Failure("%s exists already" % settings)
    os.makedirs(os.path.join(folder, "catalog", "files"), exist_ok=True)
    token = os.path.join(folder, "dashboard-token")
    with open(os.open(token, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "w") as f:
        f.write(secrets.token_urlsafe(24) + "\n")
    with open(settings, "w", encoding="utf-8") as f:
        f.write(CONFIG_TEMPLATE % {"public_url": args.public_url})
    Config(settings).store().create_schema()
    print("made %s: its settings in service.conf, products in catalog/, the dashboard's token in %s"
          % (folder, token))


def command_serve(args):
    config = Config(args.config)
    application = config.application()
    tls = None
    if args.certificate or args.key:
        if not (args.certificate and args.key):
            raise Failure("--certificate and --key go together")
        tls = builtin_server.tls_context(args.certificate, args.key)
    server = builtin_server.Server((args.bind, args.port), application, tls)
    port = server.server_address[1]
    log.info("serving %s on %s:%d (%s), database %s", config.catalog, args.bind, port,
             "TLS" if tls else "plain HTTP", application.service.store.kind)
    if args.port_file:
        write_atomically(args.port_file, b"%d\n" % port)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    threading.Thread(target=server.serve_forever, args=(0.2,), daemon=True).start()
    stop.wait()
    server.shutdown()
    server.server_close()
    if args.port_file:
        try:
            os.remove(args.port_file)
        except OSError:
            pass


def command_publish(args):
    config = Config(args.config)
    store = config.store()
    store.create_schema()
    if not 1 <= args.update_id <= 0x7FFFFFFF:
        raise Failure("--update-id must be from 1 to 2147483647")
    existing = store.offer(args.update_id)
    if existing is not None and (existing.program_name, existing.version) != (args.product, args.version):
        # Reports carry no product: an id names one offer, one version of one
        # product, whose counts and halt are that version's alone.
        raise Failure("UpdateId %d is %s %s's already; every offer needs an id of its own"
                      % (args.update_id, existing.program_name, existing.version))
    path = product_file(config, args.product)
    fields = read_product(path) or {"ProgramName": args.product}
    if fields.get("ProgramName") != args.product:
        raise Failure("%s is the file of %r" % (path, fields.get("ProgramName")))
    name = args.file_name or os.path.basename(args.setup)
    if "/" in name or "\\" in name or name in ("", ".", ".."):
        raise Failure("--file-name must be a plain file name")
    sha256, size = file_digest(args.setup)
    relative = "%s/%s/%s" % (os.path.basename(path)[:-len(".json")], args.version, name)
    if config.serve_files or not config.files_url:
        target = os.path.join(config.catalog, "files", *relative.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(args.setup, target + ".tmp")
        os.replace(target + ".tmp", target)
    fields.update({
        "NewProductVersion": args.version,
        "MaxUpdateableProductVersionExistingOnServer": args.version,
        "UpdateId": args.update_id,
        "Rollout": args.rollout,
        "Download": [{"Url": "{files}/" + relative, "RelativeTargetFolder": "", "FileName": name,
                      "Sha256": sha256, "Size": size}],
    })
    if args.change_log:
        fields["ChangeLogUrl"] = args.change_log
    # An answer signed offline was for the previous offer.
    fields.pop("SignedAnswer", None)
    fields.pop("SignedNothing", None)
    store.register_offer(args.update_id, args.product, args.version, args.rollout, config.min_runs,
                         config.failure_limit)
    write_product(path, fields)
    print("published %s %s as UpdateId %d to %g %% of its machines: %s (%d bytes, SHA-256 %s)"
          % (args.product, args.version, args.update_id, args.rollout, path, size, sha256))
    if not config.serve_files and config.files_url:
        print("upload %s to %s/%s" % (args.setup, config.files_url, relative))


def offer_or_fail(store, update_id):
    offer = store.offer(update_id)
    if offer is None:
        raise Failure("there is no offer with UpdateId %d" % update_id)
    return offer


def command_rollout(args):
    store = Config(args.config).store()
    offer = offer_or_fail(store, args.update_id)
    if not 0 <= args.percent <= 100:
        raise Failure("the percentage must be from 0 to 100")
    if args.percent < offer.percent:
        print("note: lowering the rollout stops offering it to machines that had it; those that "
              "installed it keep it")
    offer = store.set_offer(args.update_id, "rollout %g %% -> %g %%" % (offer.percent, args.percent),
                            percent=float(args.percent))
    print("UpdateId %d: %s at %g %%" % (offer.update_id, offer.state, offer.percent))


def command_halt(args):
    store = Config(args.config).store()
    offer_or_fail(store, args.update_id)
    reason = args.reason or "halted by the vendor"
    offer = store.set_offer(args.update_id, "halted: " + reason, halted=1, halt_reason=reason)
    print("UpdateId %d: halted (%s)" % (offer.update_id, reason))


def command_resume(args):
    config = Config(args.config)
    store = config.store()
    offer_or_fail(store, args.update_id)
    values = {"halted": 0, "halt_reason": ""}
    if args.min_runs is not None:
        values["min_runs"] = args.min_runs
    if args.failure_share is not None:
        values["failure_limit"] = args.failure_share
    offer = store.set_offer(args.update_id, "resumed by the vendor", **values)
    print("UpdateId %d: %s at %g %%" % (offer.update_id, offer.state, offer.percent))
    counts = store.counts(args.update_id)
    if counts.ended >= offer.min_runs and counts.failure_share > offer.failure_limit:
        print("note: its failures are still above the limit, so the next ended run halts it again; "
              "give --min-runs or --failure-share to resume it")


def command_counts(args):
    store = Config(args.config).store()
    offers = store.offers()
    if args.update_id is not None:
        offers = [o for o in offers if o.update_id == args.update_id]
        if not offers:
            raise Failure("there is no offer with UpdateId %d" % args.update_id)
    for offer in offers:
        counts = store.counts(offer.update_id)
        print("%s %s (UpdateId %d): %s at %g %%" % (offer.program_name, offer.version, offer.update_id,
                                                    offer.state, offer.percent))
        print("  offered %d, started %d, succeeded %d, failed %d, canceled %d; failure share %.1f %% "
              "(halts above %.1f %% after %d runs)" % (counts.offered, counts.started, counts.succeeded,
                                                      counts.failed, counts.canceled, 100 * counts.failure_share,
                                                      100 * offer.failure_limit, offer.min_runs))
        if counts.failure_codes():
            print("  failure codes: " + ", ".join("%d: %d" % c for c in counts.failure_codes()))
        if offer.halted:
            print("  halted: " + offer.halt_reason)


def command_sign(args):
    """Signs a product's answers on a machine that holds the key, so that the
    service needs none: the offer's and the "nothing offered" answer."""
    config = Config(args.config)
    try:
        key = SigningKey(args.key)
    except SigningError as e:
        raise Failure(str(e))
    catalog = Catalog(config.catalog)
    product = catalog.find(args.product)
    if product is None:
        raise Failure("the catalog has no product %r" % args.product)
    expires = expiry_time(args.days * 24 * 60 * 60)
    service = UpdateService(catalog, None, Settings(config.public_url, config.files_url), DigestCache())
    fields = service.filled_fields({k: v for k, v in product.fields.items()
                              if k not in ("SignedAnswer", "SignedNothing", "Rollout", "ProgramName")})
    fields["Expires"] = expires
    folder = os.path.join(config.catalog, "signed")
    os.makedirs(folder, exist_ok=True)
    stem = os.path.basename(product.path)[:-len(".json")]
    offer_path = os.path.join(folder, stem + "-offer.xml")
    nothing_path = os.path.join(folder, stem + "-nothing.xml")
    write_atomically(offer_path, signed_answer(build_instruction(fields, program_name=product.name), key))
    write_atomically(nothing_path, signed_answer(nothing_offered(product.name, expires), key))
    stored = read_product(product.path)
    stored["SignedAnswer"] = "signed/" + os.path.basename(offer_path)
    stored["SignedNothing"] = "signed/" + os.path.basename(nothing_path)
    write_product(product.path, stored)
    print("signed %s's answers with key %s, valid until %s: %s, %s"
          % (product.name, key.id, expires, offer_path, nothing_path))
    print("sign them again before then: an updater refuses an expired answer")


def parser():
    top = argparse.ArgumentParser(prog="vlrenova-service", description="The update service for VLRenovaWorker.")
    commands = top.add_subparsers(dest="command", required=True)

    def command(name, function, help_text, config=True):
        sub = commands.add_parser(name, help=help_text, description=help_text)
        if config:
            sub.add_argument("--config", required=True, metavar="FILE", help="the service's settings file")
        sub.set_defaults(function=function)
        return sub

    sub = command("init", command_init, "make a service folder: settings, catalog, database, dashboard token",
                  config=False)
    sub.add_argument("folder")
    sub.add_argument("--public-url", required=True, metavar="URL", help="the address updaters reach it at")

    sub = command("serve", command_serve, "run the service with its built-in server")
    sub.add_argument("--bind", default="127.0.0.1", metavar="ADDRESS")
    sub.add_argument("--port", type=int, default=8080)
    sub.add_argument("--certificate", metavar="PEM", help="the certificate chain for TLS")
    sub.add_argument("--key", metavar="PEM", help="the certificate's private key")
    sub.add_argument("--port-file", metavar="FILE", help="write the port here once it listens")

    sub = command("publish", command_publish, "offer a new version from its setup file")
    sub.add_argument("--product", required=True, metavar="NAME", help="the ProgramName the updaters send")
    sub.add_argument("--version", required=True)
    sub.add_argument("--update-id", required=True, type=int, metavar="N", help="unique over all products")
    sub.add_argument("--setup", required=True, metavar="FILE")
    sub.add_argument("--file-name", metavar="NAME", help="its name on the machine (default: the file's)")
    sub.add_argument("--rollout", type=float, default=10.0, metavar="PERCENT",
                     help="the share of machines offered it at first (default 10)")
    sub.add_argument("--change-log", metavar="URL")

    sub = command("rollout", command_rollout, "set the share of machines an offer goes to")
    sub.add_argument("update_id", type=int)
    sub.add_argument("percent", type=float)

    sub = command("halt", command_halt, "stop offering an offer")
    sub.add_argument("update_id", type=int)
    sub.add_argument("--reason")

    sub = command("resume", command_resume, "offer a halted offer again")
    sub.add_argument("update_id", type=int)
    sub.add_argument("--min-runs", type=int, help="a new least number of ended runs before it halts")
    sub.add_argument("--failure-share", type=float, help="a new failure share (0 to 1) above which it halts")

    sub = command("counts", command_counts, "print the offers' counts")
    sub.add_argument("update_id", type=int, nargs="?")

    sub = command("sign", command_sign, "sign a product's answers offline (the key stays on this machine)")
    sub.add_argument("--product", required=True, metavar="NAME")
    sub.add_argument("--key", required=True, metavar="PEM")
    sub.add_argument("--days", type=int, default=30, help="how long the answers stay valid (default 30)")
    return top


def main(argv=None):
    configure_logging()
    args = parser().parse_args(argv)
    try:
        args.function(args)
    except (Failure, ConfigError, StoreError) as e:
        print("vlrenova-service: %s" % e, file=sys.stderr)
        return 1
    return 0
