"""Python's standard logging, written by foundation's process logger.

Robot programs and the libraries they use log through ``logging``
(``logging.getLogger(__name__)``). ``install()`` attaches one ``Handler`` to the
root logger, so those records reach foundation's console and log file with
the same line layout as every other line, their source file in the source
column, and foundation's per-file and per-package thresholds deciding what is
written::

    import logging
    import foundation
    import foundation_logging

    foundation.initialize_logging()
    foundation_logging.install()
    logging.getLogger(__name__).info("drive ready")

Records are dropped, as filtered messages are, before ``initialize_logging()``
and after ``shutdown_logging()``.
"""

from __future__ import annotations

import logging
import threading

from foundation import Level, _log_filtered

__all__ = ["Handler", "install", "level_for"]

# Below 10 (DEBUG) is trace, as foundation has a level below debug.
_THRESHOLDS = (
    (logging.CRITICAL, Level.critical),
    (logging.ERROR, Level.error),
    (logging.WARNING, Level.warn),
    (logging.INFO, Level.info),
    (logging.DEBUG, Level.debug),
)
_BY_NUMBER: dict[int, Level] = {}


def level_for(levelno: int) -> Level:
    """foundation's level for a ``logging`` level number: 50 and above critical,
    40 error, 30 warn, 20 info, 10 debug, below 10 trace."""
    level = _BY_NUMBER.get(levelno)
    if level is None:
        level = next((lv for threshold, lv in _THRESHOLDS if levelno >= threshold), Level.trace)
        _BY_NUMBER[levelno] = level
    return level


class Handler(logging.Handler):
    """Writes each record through foundation's filtered path, on behalf of the
    record's source file (``record.pathname``), so that ``set_file_level`` and
    ``set_package_level`` apply to it and the source column shows that file.

    The text is the handler's formatter output: ``"%(message)s"`` unless
    another formatter is set, with exception and stack text appended as
    ``logging.Formatter`` does. Errors while emitting go to ``handleError``, as
    with every standard handler.
    """

    def handle(self, record: logging.LogRecord) -> bool:
        # The handler's own lock is not taken: foundation's logger orders
        # concurrent writes itself, and a record costs a lock round trip less.
        rv = self.filter(record)
        if isinstance(rv, logging.LogRecord):
            record = rv
        if rv:
            self.emit(record)
        return bool(rv)

    def emit(self, record: logging.LogRecord) -> None:
        try:
            if (self.formatter is None and record.exc_info is None and record.exc_text is None
                    and record.stack_info is None):
                # What the default "%(message)s" formatter would produce.
                text = record.getMessage()
            else:
                text = self.format(record)
            _log_filtered(level_for(record.levelno), record.pathname, text)
        except RecursionError:
            raise
        except Exception:
            self.handleError(record)


_install_lock = threading.Lock()
_installed: Handler | None = None


def install() -> Handler:
    """Attaches one ``Handler`` to the root logger and returns it; later calls
    return the same handler and never add a second one. Sets the root logger's
    level to ``NOTSET``, so every record reaches the handler and foundation's
    thresholds (``set_global_level``, ``set_file_level``,
    ``set_package_level``) decide what is written. Loggers given a level of
    their own still filter before that."""
    global _installed
    with _install_lock:
        root = logging.getLogger()
        handler = next((h for h in root.handlers if isinstance(h, Handler)), _installed)
        if handler is None:
            handler = Handler()
        if handler not in root.handlers:
            root.addHandler(handler)
        _installed = handler
        root.setLevel(logging.NOTSET)
        return handler
