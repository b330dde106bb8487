#!/usr/bin/env python3
"""Reference traces of the current and velocity controllers, computed independently of the C++
code: each model is written out again here from its equations, in IEEE doubles with the same order
of operations, and stepped the way `qelsim trace` steps a block (parameter call when the arguments
change, outputs, update, record). Run it from anywhere; it rewrites input.csv and expected.csv in
the folder of each model next to this script.
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def div(a, b):
    """IEEE division: Python raises on a zero divisor, the models do not."""
    if b != 0.0 or math.isnan(b):
        return a / b
    if a == 0.0 or math.isnan(a):
        return math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def sign(x):
    if x > 0.0:
        return 1.0
    if x < 0.0:
        return -1.0
    if x == 0.0:
        return 0.0
    return x


def clamp_input(high, low, e):
    if high and low:
        return 0.0
    if high:
        return 0.0 if e > 0.0 else e
    if low:
        return 0.0 if e < 0.0 else e
    return e


def fmt(value):
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, int):
        return str(value)
    if math.isnan(value):
        return "nan"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return "%.17g" % value


def parse(text):
    """Reads a value as C's strtod does for the forms used in the inputs."""
    if text.lower().startswith(("0x", "-0x", "+0x")):
        return float.fromhex(text)
    return float(text)


class CurrentController:
    name = "Qel_Lib_wexa_current_controller_sub"
    inputs = ["currentReference", "currentMeasured"]
    arguments = ["proportionalGain", "integralTime", "referenceLimitBase", "outputLimitBase"]
    outputs = ["controllerOutput"]
    rtb = ["measuredCopy", "integratorInput", "referenceUpperLimit", "referenceLowerLimit",
           "outputLimit"]
    rtdw = ["integratorState"]

    def __init__(self):
        self.b = dict.fromkeys(self.rtb, 0.0)
        self.d = dict.fromkeys(self.rtdw, 0.0)

    def parameter_setup(self, a):
        self.b["referenceUpperLimit"] = 3.0 * a["referenceLimitBase"]
        self.b["referenceLowerLimit"] = (-a["referenceLimitBase"]) * 3.0
        self.b["outputLimit"] = 0.95 * a["outputLimitBase"]

    def outputs_step(self, u, a):
        b, d = self.b, self.d
        b["measuredCopy"] = u["currentMeasured"]
        ref = u["currentReference"]
        if ref > b["referenceUpperLimit"]:
            r = b["referenceUpperLimit"]
        elif b["referenceLowerLimit"] > ref:
            r = b["referenceLowerLimit"]
        else:
            r = ref
        e = r - b["measuredCopy"]
        pi = (div(d["integratorState"], a["integralTime"]) + e) * a["proportionalGain"]
        if abs(pi) > b["outputLimit"]:
            y = sign(pi) * b["outputLimit"]
        else:
            y = pi
        b["integratorInput"] = clamp_input(pi > y, y > pi, e)
        return [y]

    def update(self):
        self.d["integratorState"] = self.b["integratorInput"] * 1e-4 + self.d["integratorState"]


class VelocityController:
    name = "Qel_Lib_wexa_velocity_controller_sub"
    inputs = ["speedReference", "currentFeedForward", "speedMeasured", "currentMeasured"]
    arguments = ["speedGain", "currentGain", "speedIntegralTime", "currentIntegralTime",
                 "speedScaleDenominator", "speedScaleNumerator", "currentLimitBase",
                 "outputLimitBase"]
    outputs = ["controllerOutput"]
    rtb = ["measuredCopy", "currentIntegratorInput", "speedIntegratorInput", "speedUpperLimit",
           "speedLowerLimit", "outputLimit", "saturatedHigh", "saturatedLow"]
    rtdw = ["speedIntegratorState", "currentIntegratorState", "saturatedHighPrev",
            "saturatedLowPrev"]

    def __init__(self):
        self.b = {f: (False if f.startswith("saturated") else 0.0) for f in self.rtb}
        self.d = {f: (False if f.startswith("saturated") else 0.0) for f in self.rtdw}

    def parameter_setup(self, a):
        self.b["speedUpperLimit"] = 3.0 * a["currentLimitBase"]
        self.b["speedLowerLimit"] = (-a["currentLimitBase"]) * 3.0
        self.b["outputLimit"] = 0.95 * a["outputLimitBase"]

    def outputs_step(self, u, a):
        b, d = self.b, self.d
        num, den = a["speedScaleNumerator"], a["speedScaleDenominator"]
        v_ref = div(u["speedReference"] * 0.016666666666666666 * num, den)
        v_meas = div(u["speedMeasured"] * 0.016666666666666666 * num, den)
        e_speed = v_ref - v_meas
        u_speed = (div(d["speedIntegratorState"], a["speedIntegralTime"]) + e_speed) * a["speedGain"]
        if u_speed > b["speedUpperLimit"]:
            i_ref = b["speedUpperLimit"]
        elif b["speedLowerLimit"] > u_speed:
            i_ref = b["speedLowerLimit"]
        else:
            i_ref = u_speed
        b["measuredCopy"] = u["currentMeasured"]
        e_cur = u["currentFeedForward"] + i_ref - b["measuredCopy"]
        u_cur = (div(d["currentIntegratorState"], a["currentIntegralTime"]) + e_cur) * a["currentGain"]
        if abs(u_cur) > b["outputLimit"]:
            y = sign(u_cur) * b["outputLimit"]
        else:
            y = u_cur
        b["currentIntegratorInput"] = clamp_input(u_cur > y, y > u_cur, e_cur)
        b["speedIntegratorInput"] = clamp_input(d["saturatedHighPrev"], d["saturatedLowPrev"], e_speed)
        b["saturatedHigh"] = (u_cur > y) or (u_speed > i_ref)
        b["saturatedLow"] = (y > u_cur) or (i_ref > u_speed)
        return [y]

    def update(self):
        b, d = self.b, self.d
        d["speedIntegratorState"] = b["speedIntegratorInput"] * 1e-4 + d["speedIntegratorState"]
        d["currentIntegratorState"] = b["currentIntegratorInput"] * 1e-4 + d["currentIntegratorState"]
        d["saturatedHighPrev"] = b["saturatedHigh"]
        d["saturatedLowPrev"] = b["saturatedLow"]


def bits(x):
    return x.hex() if not math.isnan(x) else "nan"


def write_trace(model, header, rows):
    """Steps `model` through `rows` (texts in the order of `header`) and writes both files."""
    folder = os.path.join(HERE, model.name)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "input.csv"), "w") as f:
        f.write(",".join(header) + "\n")
        for row in rows:
            f.write(",".join(row) + "\n")

    out_header = (["k"] + model.outputs + ["rtb." + n for n in model.rtb]
                  + ["rtdw." + n for n in model.rtdw])
    lines = [",".join(out_header)]
    previous = None
    for k, row in enumerate(rows):
        values = dict(zip(header, (parse(t) for t in row)))
        args = {n: values[n] for n in model.arguments}
        # A NaN argument counts as changed only when its bits change; compare bit patterns.
        key = [struct_bits(args[n]) for n in model.arguments]
        if k == 0 or key != previous:
            model.parameter_setup(args)
        previous = key
        outs = model.outputs_step({n: values[n] for n in model.inputs}, args)
        model.update()
        record = ([k] + outs + [model.b[n] for n in model.rtb] + [model.d[n] for n in model.rtdw])
        lines.append(",".join(fmt(v) for v in record))
    with open(os.path.join(folder, "expected.csv"), "w") as f:
        f.write("\n".join(lines) + "\n")


def struct_bits(x):
    import struct
    return struct.pack("<d", x)


def current_controller_rows():
    # Columns deliberately not in port and argument order.
    header = ["integralTime", "currentMeasured", "proportionalGain", "outputLimitBase",
              "currentReference", "referenceLimitBase"]
    rows = [
        # gain 1, large limits, constant error 1: outputs 1, 1.0001, 1.0002
        ["1", "0", "1", "1e6", "1", "1e6"],
        ["1", "0", "1", "1e6", "1", "1e6"],
        ["1", "0", "0x1p+0", "1e6", "1", "1e6"],
        # output limit 0.95 * 10: saturated high with e > 0 and low with e < 0 stop integrating
        ["1", "-0.5", "100", "10", "1", "1e6"],
        ["1", "0.5", "100", "10", "-1", "1e6"],
        # saturated high with e < 0 and low with e > 0 still integrate
        ["1e-5", "0", "100", "10", "-0.5", "1e6"],
        ["-1e-5", "0", "100", "10", "0.5", "1e6"],
        # reference limit +-3: 3 passes unchanged, 3.5 is limited, -7 is limited below
        ["1", "2.5", "1", "1e6", "3", "1"],
        ["1", "2.5", "1", "1e6", "3.5", "1"],
        ["1", "-2.5", "1", "1e6", "-7", "1"],
        # |u| exactly at the output limit (0.95 * 20 = 19): not saturated
        ["1", "0", "19", "20", "1", "1e6"],
        # a negative output limit base: every u counts as saturated
        ["1", "0", "2", "-2", "1", "1e6"],
        # an infinite output limit never saturates
        ["1", "0", "2", "inf", "1", "1e6"],
        # integral time 0: the PI sum becomes infinite
        ["0", "0", "1", "1e6", "0.25", "1e6"],
        ["0", "0", "1", "1e6", "0.25", "1e6"],
        # the measured NaN propagates into the output and the integrator
        ["1", "nan", "1", "1e6", "1", "1e6"],
        ["1", "0", "1", "1e6", "1", "-inf"],
    ]
    return header, rows


def velocity_controller_rows():
    header = ["speedReference", "currentFeedForward", "speedMeasured", "currentMeasured",
              "speedGain", "currentGain", "speedIntegralTime", "currentIntegralTime",
              "speedScaleDenominator", "speedScaleNumerator", "currentLimitBase", "outputLimitBase"]
    big = "1e6"
    rows = [
        # e_speed = 1, i_ref = 1, speedIntegratorState 1e-4 after the update
        ["60", "0", "0", "0", "1", "1", "1", "1", "1", "1", big, big],
        ["60", "0", "0", "0", "1", "1", "1", "1", "1", "1", big, big],
        # a scaling ratio 3/2 and a feed-forward
        ["120", "0.25", "30", "0.5", "2", "0.5", "0.01", "0.02", "2", "3", big, big],
        # speed loop above its limit (3 * 0.1): i_ref = 0.3 plus feed-forward; flags lag a step
        ["600", "0.5", "0", "0", "10", "1", "1", "1", "1", "1", "0.1", big],
        ["600", "0.5", "0", "0", "10", "1", "1", "1", "1", "1", "0.1", big],
        # now the current loop saturates high as well (0.95 * 0.5)
        ["600", "0.5", "0", "0", "10", "5", "1", "1", "1", "1", "0.1", "0.5"],
        ["-600", "0.5", "0", "0", "10", "5", "1", "1", "1", "1", "0.1", "0.5"],
        # speed loop below its lower limit while the current loop saturates high: both flags
        ["-600", "5", "0", "-3", "10", "5", "1", "1", "1", "1", "0.1", "0.5"],
        ["60", "0", "0", "0", "10", "5", "1", "1", "1", "1", "0.1", "0.5"],
        # u_speed exactly at its limit 3 * 1 is not limited and sets no flag
        ["60", "0", "0", "0", "3", "1", "1e300", "1", "1", "1", "1", big],
        # negative limits on both loops
        ["60", "0", "0", "0", "1", "1", "1", "1", "1", "1", "-0.1", "-0.5"],
        # zero denominator: infinite speeds, NaN error
        ["60", "0", "30", "0", "1", "1", "1", "1", "0", "1", big, big],
    ]
    return header, rows


def main():
    write_trace(CurrentController(), *current_controller_rows())
    write_trace(VelocityController(), *velocity_controller_rows())


if __name__ == "__main__":
    main()
