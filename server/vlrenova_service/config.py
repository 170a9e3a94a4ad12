"""The service's settings: one INI file, read by every process (the built-in
server, each gunicorn worker, the command line)."""

import configparser
import logging
import os
import urllib.parse

from . import catalog as catalog_module
from .app import Application
from .protocol import DEFAULT_ANSWER_LIFETIME, MAX_ANSWER_LIFETIME
from .service import Settings, UpdateService
from .signing import DigestCache, SigningError, SigningKey
from .store import DEFAULT_FAILURE_LIMIT, DEFAULT_MIN_RUNS, open_store

ENVIRONMENT_VARIABLE = "VLRENOVA_SERVICE_CONFIG"
# The dashboard's token must not be guessable.
MIN_TOKEN_LENGTH = 16


class ConfigError(Exception):
    pass


class Config:
    def __init__(self, path):
        self.path = os.path.abspath(path)
        parser = configparser.ConfigParser(interpolation=None)
        try:
            with open(self.path, encoding="utf-8") as f:
                parser.read_file(f)
        except (OSError, UnicodeDecodeError, configparser.Error) as e:
            raise ConfigError("cannot read the settings %s: %s" % (path, e))
        if not parser.has_section("service"):
            raise ConfigError("%s has no [service] section" % path)
        section = parser["service"]
        here = os.path.dirname(self.path)

        def file_setting(name, required=False):
            value = section.get(name, "").strip()
            if not value:
                if required:
                    raise ConfigError("%s: %s is not set" % (path, name))
                return None
            return os.path.join(here, value)

        self.catalog = file_setting("catalog", required=True)
        database = section.get("database", "").strip() or "sqlite:service.db"
        if database.startswith("sqlite:"):
            database = "sqlite:" + os.path.join(here, database[len("sqlite:"):])
        self.database = database
        self.public_url = url_setting(path, "public_url", section.get("public_url", "").strip(), required=True)
        self.files_url = url_setting(path, "files_url", section.get("files_url", "").strip())
        self.serve_files = section.getboolean("serve_files", fallback=True)
        self.signing_keys = [os.path.join(here, line.strip())
                             for line in section.get("signing_key", "").splitlines() if line.strip()]
        self.answer_lifetime = number_setting(section, path, "answer_lifetime", DEFAULT_ANSWER_LIFETIME, int,
                                              1, MAX_ANSWER_LIFETIME)
        self.min_runs = number_setting(section, path, "halt_min_runs", DEFAULT_MIN_RUNS, int, 1, 10 ** 9)
        self.failure_limit = number_setting(section, path, "halt_failure_share", DEFAULT_FAILURE_LIMIT, float,
                                            0.0, 1.0)
        token_file = file_setting("dashboard_token_file")
        self.dashboard_token = None
        if token_file:
            try:
                with open(token_file, encoding="utf-8") as f:
                    self.dashboard_token = f.read().strip()
            except OSError as e:
                raise ConfigError("%s: cannot read dashboard_token_file: %s" % (path, e))
            if len(self.dashboard_token) < MIN_TOKEN_LENGTH:
                raise ConfigError("%s: the dashboard token must have at least %d characters"
                                  % (path, MIN_TOKEN_LENGTH))

    def keys(self):
        try:
            return [SigningKey(p) for p in self.signing_keys]
        except SigningError as e:
            raise ConfigError(str(e))

    def store(self):
        return open_store(self.database)

    def application(self):
        """The WSGI application these settings describe; the schema is made if missing."""
        if not os.path.isdir(self.catalog):
            raise ConfigError("the catalog folder %s does not exist" % self.catalog)
        keys = self.keys()
        for number, key in enumerate(keys):
            logging.getLogger("vlrenova").info("signing key %d: %s, key id %s", number, key.path, key.id)
        store = self.store()
        store.create_schema_when_reachable()
        settings = Settings(self.public_url, self.files_url, keys, self.answer_lifetime, self.min_runs,
                            self.failure_limit)
        service = UpdateService(catalog_module.Catalog(self.catalog), store, settings, DigestCache())
        return Application(service, self.dashboard_token, self.serve_files)


def url_setting(path, name, value, required=False):
    if not value:
        if required:
            raise ConfigError("%s: %s is not set" % (path, name))
        return None
    parts = urllib.parse.urlsplit(value)
    if parts.scheme not in ("http", "https") or not parts.netloc or parts.query or parts.fragment \
            or any(c.isspace() or ord(c) < 0x20 for c in value):
        raise ConfigError("%s: %s must be an http:// or https:// URL without query or fragment, not %r"
                          % (path, name, value))
    return value.rstrip("/")


def number_setting(section, path, name, default, kind, low, high):
    value = section.get(name, "").strip()
    if not value:
        return default
    try:
        number = kind(value)
    except ValueError:
        raise ConfigError("%s: %s must be a number, not %r" % (path, name, value))
    if not low <= number <= high:
        raise ConfigError("%s: %s must be from %s to %s" % (path, name, low, high))
    return number


def configure_logging():
    logging.basicConfig(level=logging.INFO, format="%(asctime)s %(name)s %(levelname)s %(message)s")
