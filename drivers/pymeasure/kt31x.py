# SPDX-License-Identifier: MIT
"""A PyMeasure instrument for the KT31X-KT300 evaluation board, driven through `ktdac serve`.

    from kt31x import KT31xEvaluationBoard
    board = KT31xEvaluationBoard("TCPIP::127.0.0.1::5025::SOCKET")
    board.device = "KT310"
    board.power_down = "normal"
    board.reference = 2.5
    board.voltage = 1.25        # the nearest code: 0x8000
    print(board.code)           # 32768

Every value is checked here before anything is sent (a ValueError), and every setting goes
out with the error count in the same message (`...;:SYST:ERR:COUN?`), so that it is one
exchange: what the server refused is then read from its queue and raised as a KT31xError
with its SCPI error codes and texts. Written for PyMeasure 0.9 (Debian 12's python3-pymeasure) and pyvisa
with its pure Python backend, pyvisa-py ("@py")."""

import math
import numbers

from pymeasure.instruments import Instrument
from pymeasure.instruments.validators import strict_discrete_set, strict_range

DEVICES = ("KT300", "KT310", "KT311", "KT312", "KT313")
POWER_DOWN = {"normal": "NORM", "tri-state": "TST", "100k": "R100", "1k": "R1K"}
SHAPES = {"sine": "SIN", "square": "SQU", "triangle": "TRI", "ramp": "RAMP", "user": "USER"}


class KT31xError(Exception):
    """What the server refused: a list of (code, text) from its error queue."""

    def __init__(self, errors):
        self.errors = errors
        super().__init__("; ".join(f"{code}, {text}" for code, text in errors))


def _real(value):
    """Any real number, numpy's among them (numbers.Real), as a finite float; a bool, text,
    NaN or an infinity is a ValueError."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError(f"{value!r} is not a number")
    number = float(value)
    if not math.isfinite(number):
        raise ValueError(f"{value!r} is not a finite number")
    return number


def whole_in(value, values):
    """A whole number (any integral number, numpy's among them, or a real one with nothing
    after the point) within values' bounds; anything else is a ValueError before it is sent."""
    if isinstance(value, numbers.Integral) and not isinstance(value, bool):
        number = int(value)
    else:
        real = _real(value)
        if real != int(real):
            raise ValueError(f"{value!r} is not a whole number")
        number = int(real)
    return int(strict_range(number, values))


def within(value, values):
    """A number within the bounds, both taken."""
    number = _real(value)
    if not values[0] <= number <= values[1]:
        raise ValueError(f"{value!r} is outside [{values[0]}, {values[1]}]")
    return number


def above(value, values):
    """A number above the lower bound, up to the upper one."""
    number = within(value, values)
    if number == values[0]:
        raise ValueError(f"{value!r} is not above {values[0]}")
    return number


class KT31xEvaluationBoard(Instrument):
    """The evaluation board of the KT300 (14 data bits) and the KT310..KT313 (16 data bits),
    reached through `ktdac serve` over a raw socket (SCPI, port 5025 by default)."""

    device = Instrument.control(
        "DAC:DEV?", "DAC:DEV %s",
        """The DAC model: one of KT300, KT310, KT311, KT312, KT313. Changing it sends no
        frame.""",
        validator=strict_discrete_set, values=DEVICES)

    code = Instrument.control(
        "DAC:CODE?", "DAC:CODE %d",
        """The code last sent, 0..16383 for the KT300 and 0..65535 for the others. Setting it
        sends one frame in the present power-down mode; a code beyond the model's last is
        refused by the server (KT31xError, -222).""",
        validator=whole_in, values=(0, 65535), get_process=int)

    power_down = Instrument.control(
        "DAC:PDOW?", "DAC:PDOW %s",
        """The power-down mode: "normal", "tri-state", "100k" (100 kOhm to ground) or "1k"
        (1 kOhm to ground). Setting it sends the present code in that mode.""",
        validator=strict_discrete_set, values=POWER_DOWN, map_values=True)

    # The reference and the voltage are queries that can fail (no reference set yet), and a
    # failed query answers nothing: they are asked together with the error count, so that a
    # refusal is raised at once rather than waited for until the timeout.
    @property
    def reference(self):
        """The reference voltage in volts, from 0.001 to 1000 as a DAC's can be (this
        connection's own), for voltage."""
        return float(self._ask_checked("VOLT:REF?"))

    @reference.setter
    def reference(self, volts):
        self.write("VOLT:REF %.9g" % within(volts, (0.001, 1000)))

    @property
    def voltage(self):
        """The ideal output in volts for the code last sent. Setting it sends the nearest
        code; a voltage beyond the reference's span is refused by the server. Needs the
        reference set first."""
        return float(self._ask_checked("VOLT?"))

    @voltage.setter
    def voltage(self, volts):
        self.write("VOLT %.9g" % within(volts, (0, 1000)))

    # The function generator: the waveform OUTPut ON plays, beside the serving of clients.
    shape = Instrument.control(
        "FUNC?", "FUNC %s",
        """The waveform: "sine", "square", "triangle", "ramp", or "user" (samples)."""
        , validator=strict_discrete_set, values=SHAPES, map_values=True)

    frequency = Instrument.control(
        "FREQ?", "FREQ %.9g", """The shape's frequency in Hz, at most half the sample rate.""",
        validator=above, values=(0, 500000), get_process=float)

    sample_rate = Instrument.control(
        "FUNC:SRAT?", "FUNC:SRAT %.9g", """Samples a second, up to 1e6.""",
        validator=above, values=(0, 1e6), get_process=float)

    sample_count = Instrument.measurement(
        "DATA:DAC:POIN?", """How many user samples are loaded.""", get_process=int)

    @property
    def amplitude(self):
        """The shape's amplitude in volts peak to peak (full scale until set; needs the
        reference)."""
        return float(self._ask_checked("VOLT:AMPL?"))

    @amplitude.setter
    def amplitude(self, volts):
        self.write("VOLT:AMPL %.9g" % above(volts, (0, 1000)))

    @property
    def offset(self):
        """The shape's middle in volts (mid-scale until set; needs the reference)."""
        return float(self._ask_checked("VOLT:OFFS?"))

    @offset.setter
    def offset(self, volts):
        self.write("VOLT:OFFS %.9g" % within(volts, (-1000, 1000)))

    @property
    def cycles(self):
        """Cycles a play lasts; None: until stopped (a user waveform's cycle is its samples
        once through)."""
        answer = float(self.ask("BURS:NCYC?"))
        return None if answer >= 9.9e37 else int(answer)

    @cycles.setter
    def cycles(self, count):
        self.write("BURS:NCYC INF" if count is None else "BURS:NCYC %d" % whole_in(count, (1, 10**12)))

    @property
    def output(self):
        """True while a waveform plays. Setting it True plays the waveform set; False stops
        it, the output left at the last sample."""
        return self.ask("OUTP?").strip() == "1"

    @output.setter
    def output(self, playing):
        if not isinstance(playing, bool):
            raise ValueError(f"{playing!r} is not True or False")
        self.write("OUTP ON" if playing else "OUTP OFF")

    def load_samples(self, codes):
        """Loads the user waveform's samples, codes of the model, as one definite-length
        block of 16-bit codes; the shape is then "user" to play them."""
        codes = [whole_in(code, (0, 65535)) for code in codes]
        if not codes:
            raise ValueError("no samples")
        self.write("FORM:BORD NORM")
        self.adapter.connection.write_binary_values("DATA:DAC ", codes, datatype="H",
                                                    is_big_endian=True)
        if int(self.ask("SYST:ERR:COUN?").strip()) != 0:
            self.check_errors()

    def wait_until_played(self):
        """Returns once a play of a set length has played (*OPC?, held by the server until
        then); at once when nothing of a set length plays. Give the connection a timeout
        longer than the play."""
        self.ask("*OPC?")

    def abort(self):
        """Stops the waveform playing."""
        self.write("ABOR")

    board_status = Instrument.measurement(
        "DAC:STAT?", """The board library's status for the last frame (0: taken).""",
        get_process=int)

    event_status = Instrument.measurement(
        "*ESR?", """The standard event status register (IEEE 488.2); reading clears it.""",
        get_process=int)

    status_byte = Instrument.measurement("*STB?", """The status byte (IEEE 488.2).""",
                                         get_process=int)

    def __init__(self, resource, name="KT31X-KT300 evaluation board", **kwargs):
        kwargs.setdefault("visa_library", "@py")
        kwargs.setdefault("read_termination", "\n")
        kwargs.setdefault("write_termination", "\n")
        kwargs.setdefault("timeout", 5000)
        super().__init__(resource, name, includeSCPI=True, **kwargs)

    def write(self, command):
        """Sends a command and the error count in one message, so that it costs one exchange
        whatever the server does with acknowledgements; raises KT31xError with the whole
        queue when the command was refused."""
        if int(self.ask(command + ";:SYST:ERR:COUN?").strip()) != 0:
            self.check_errors()

    def check_errors(self):
        """Reads the whole error queue; raises KT31xError when it held anything."""
        errors = []
        while True:
            code, text = self.ask("SYST:ERR?").strip().split(",", 1)
            if int(code) == 0:
                break
            errors.append((int(code), text.strip('"')))
        if errors:
            raise KT31xError(errors)
        return errors

    def _ask_checked(self, query):
        value, _, count = self.ask(query + ";:SYST:ERR:COUN?").strip().rpartition(";")
        if not value or int(count) != 0:
            self.check_errors()
        return value

    def reset(self):
        """Code 0 in normal operation, in one frame, as when the main window opens."""
        self.write("*RST")

    def clear(self):
        """Empties the error queue and the event status register."""
        self.write("*CLS")

    def send_raw(self, bits, data):
        """One raw frame of `bits` bits, as the SPI test window writes one."""
        bits = whole_in(bits, (-32768, 32767))
        data = whole_in(data, (0, 0xFFFFFFFF))
        self.write(f"DAC:RAW {bits},#H{data:X}")

    def self_test(self):
        """True when the board connection holds (*TST? answers 0)."""
        passed = int(self.ask("*TST?")) == 0
        if not passed:
            self.check_errors()
        return passed
