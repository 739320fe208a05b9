"""The wire protocol's facts for the Python tests, read from the driver's headers."""
import pathlib
import re


def _constant(header, name):
    text = (pathlib.Path(__file__).resolve().parents[2] / "src" / header).read_text()
    match = re.search(r"\b" + name + r"\s*=\s*(0x[0-9A-Fa-f]+|[0-9]+)\s*;", text)
    if not match:
        raise RuntimeError(f"protocol_facts: no numeric {name} in src/{header}")
    return int(match.group(1), 0)


END = bytes([_constant("link/protocol.h", "kEndCharacter")])
ACK = bytes([_constant("link/protocol.h", "kAck")])
MAX_TELEGRAM_LENGTH = _constant("decode/decoder_state.h", "kMaxTelegramLength")
