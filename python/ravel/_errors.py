"""Exceptions of the ravel package."""

# Status classes of the engine and what they mean.
STATUS_TEXT = {
    256: "out of memory",
    257: "the shared i-vector model could not be used",
    768: "invalid argument",
    769: "the engine is not initialised",
    1024: "model data unreadable or inconsistent",
    1280: "input rejected by feature or i-vector extraction",
    1536: "scoring argument of the wrong length or missing",
    1792: "template malformed or of the wrong length",
    1793: "template format version differs from the engine's",
    4095: "internal error",
}

# Detail codes are grouped by the subsystem that produced them (bits 12-15).
DETAIL_GROUP_TEXT = {
    0x1: "model container",
    0x2: "engine interface",
    0x4: "feature extraction",
    0x5: "GMM posteriors",
    0x6: "HTK model reader",
    0x7: "i-vector extractor or shared model store",
    0x8: "scoring",
}

DETAIL_TEXT = {
    0x2100: "memory exhausted",
    0x2020: "null output, empty template or negative duration",
    0x2030: "template malformed or of the wrong length",
    0x2031: "template format version differs from the engine's",
    0x1015: "model container unreadable",
    0x1016: "model container malformed",
}


def explain(status, detail):
    """One line saying what a status and detail code mean."""
    text = STATUS_TEXT.get(status, "status %d" % status)
    if detail:
        where = DETAIL_TEXT.get(detail)
        if where is None:
            group = DETAIL_GROUP_TEXT.get((detail >> 12) & 0xF)
            where = ("in the %s" % group) if group else None
        if where:
            text += " (%s)" % where
    return text


class RavelError(RuntimeError):
    """An engine call failed.

    Attributes: ``status`` (the status class the call returned), ``detail``
    (the detail code the engine kept for it, 0 where it keeps none),
    ``operation`` (the call) and ``explanation`` (what the codes mean).
    """

    def __init__(self, status, detail, operation):
        self.status = int(status)
        self.detail = int(detail)
        self.operation = operation
        self.explanation = explain(self.status, self.detail)
        super().__init__("%s failed: status %d, detail 0x%X: %s"
                         % (operation, self.status, self.detail, self.explanation))

    def __reduce__(self):
        # Dask ships worker exceptions back to the client by pickling them.
        return (RavelError, (self.status, self.detail, self.operation))


class DiarizationError(RuntimeError):
    """Diarization of a recording failed; ``reason`` is the driver's text
    ("Wave sprit Error", "ulx Initialize error", "ulx cross matching error",
    "Diarization error")."""

    def __init__(self, path, reason):
        self.path = path
        self.reason = reason
        super().__init__("%s: %s" % (path, reason))

    def __reduce__(self):
        return (DiarizationError, (self.path, self.reason))
