"""The application for a WSGI server such as gunicorn:

    VLRENOVA_SERVICE_CONFIG=/etc/vlrenova/service.conf \\
        gunicorn --workers 4 --bind 127.0.0.1:8080 vlrenova_service.wsgi:application
"""

import os
import sys

from .config import ENVIRONMENT_VARIABLE, Config, ConfigError, configure_logging

configure_logging()
try:
    application = Config(os.environ[ENVIRONMENT_VARIABLE]).application()
except KeyError:
    sys.exit("vlrenova-service: set %s to the service's settings file" % ENVIRONMENT_VARIABLE)
except ConfigError as e:
    sys.exit("vlrenova-service: %s" % e)
