#!/usr/bin/env python3
"""Reference traces of the eight blocks, computed independently of the C++
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
        e_speed = self.speed_error(u, a)
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

    def speed_error(self, u, a):
        num, den = a["speedScaleNumerator"], a["speedScaleDenominator"]
        v_ref = div(u["speedReference"] * 0.016666666666666666 * num, den)
        v_meas = div(u["speedMeasured"] * 0.016666666666666666 * num, den)
        return v_ref - v_meas

    def update(self):
        b, d = self.b, self.d
        d["speedIntegratorState"] = b["speedIntegratorInput"] * 1e-4 + d["speedIntegratorState"]
        d["currentIntegratorState"] = b["currentIntegratorInput"] * 1e-4 + d["currentIntegratorState"]
        d["saturatedHighPrev"] = b["saturatedHigh"]
        d["saturatedLowPrev"] = b["saturatedLow"]


class PositionController(VelocityController):
    name = "Qel_Lib_wexa_position_controller_sub"
    inputs = ["positionReference", "speedFeedForward", "currentFeedForward", "positionMeasured",
              "speedMeasured", "currentMeasured"]
    arguments = ["speedGain", "currentGain", "positionGain", "speedIntegralTime",
                 "currentIntegralTime", "speedScaleDenominator", "speedScaleNumerator",
                 "currentLimitBase", "outputLimitBase"]

    def speed_error(self, u, a):
        num, den = a["speedScaleNumerator"], a["speedScaleDenominator"]
        p_ref = div(u["positionReference"] * 0.002777777777777778 * num, den)
        p_meas = div(u["positionMeasured"] * 0.002777777777777778 * num, den)
        v_meas = div(u["speedMeasured"] * 0.016666666666666666 * num, den)
        return u["speedFeedForward"] * 0.016666666666666666 + (p_ref - p_meas) * a["positionGain"] - v_meas


def fmin(a, b):
    # The host's minimum: the other operand for one NaN; the second one for equal operands.
    return a if (a < b or math.isnan(b)) else b


def fmax(a, b):
    return a if (a > b or math.isnan(b)) else b


def saturate(u, limit):
    return sign(u) * limit if abs(u) > limit else u


def limit_between(x, upper, lower):
    if x > upper:
        return upper
    if lower > x:
        return lower
    return x


def centre(pa, pb, pc):
    lo = fmin(fmin(pa, pb), pc)
    hi = fmax(fmax(pa, pb), pc)
    off = (0.0 - (hi - lo)) * 0.5
    return [pa - lo + off, pb - lo + off, pc - lo + off]


class CurrentControllerDq:
    name = "Qel_Lib_wexa_current_controller_dq_sub"
    inputs = ["qCurrentReference", "speedInput", "phaseCurrents[0]", "phaseCurrents[1]",
              "phaseCurrents[2]", "electricalAngle"]
    arguments = ["proportionalGain", "couplingFactorA", "couplingFactorB", "integralTime",
                 "couplingDivisor", "couplingFactorC", "referenceLimitBase", "phaseLimit"]
    outputs = ["phaseOutputs[0]", "phaseOutputs[1]", "phaseOutputs[2]"]
    rtb = ["integratorInputQ", "integratorInputD", "referenceUpperLimit", "referenceLowerLimit",
           "couplingFactorScaled", "outputLimitQ", "outputLimitD"]
    rtdw = ["integratorStateQ", "integratorStateD"]

    def __init__(self):
        self.b = dict.fromkeys(self.rtb, 0.0)
        self.d = dict.fromkeys(self.rtdw, 0.0)

    def parameter_setup(self, a):
        self.b["referenceUpperLimit"] = 3.0 * a["referenceLimitBase"]
        self.b["referenceLowerLimit"] = (-a["referenceLimitBase"]) * 3.0
        self.b["couplingFactorScaled"] = 0.15915494309189535 * a["couplingFactorA"]
        self.b["outputLimitQ"] = 0.95 * a["phaseLimit"]
        self.b["outputLimitD"] = 0.95 * a["phaseLimit"]

    def outputs_step(self, u, a):
        b, d = self.b, self.d
        rq = limit_between(u["qCurrentReference"], b["referenceUpperLimit"], b["referenceLowerLimit"])
        sa = u["phaseCurrents[0]"] * 0.6666666666666666
        sb = u["phaseCurrents[1]"] * 0.6666666666666666
        sc = u["phaseCurrents[2]"] * 0.6666666666666666
        alpha = 0.6666666666666666 * sa + -0.3333333333333333 * sb + -0.3333333333333333 * sc
        beta = -0.5773502691896257 * sc + 0.5773502691896257 * sb
        sn = math.sin(u["electricalAngle"])
        cs = math.cos(u["electricalAngle"])
        kp, ti = a["proportionalGain"], a["integralTime"]
        eq = rq - (beta * cs - alpha * sn)
        uq = (div(d["integratorStateQ"], ti) + eq) * kp
        yq = saturate(uq, b["outputLimitQ"])
        b["integratorInputQ"] = clamp_input(uq > yq, yq > uq, eq)
        ed = 0.0 - (alpha * cs + beta * sn)
        ud = (div(d["integratorStateD"], ti) + ed) * kp
        yd = saturate(ud, b["outputLimitD"])
        b["integratorInputD"] = clamp_input(ud > yd, yd > ud, ed)
        w = div(u["speedInput"] * 0.016666666666666666 * a["couplingFactorC"], a["couplingDivisor"])
        w = w * 0.10471975511965977 * a["couplingFactorB"] * rq * b["couplingFactorScaled"]
        vd = yd - w
        vq = yq
        v_alpha = cs * vd - vq * sn
        v_beta = vq * cs + sn * vd
        phases = centre(v_alpha, 0.8660254037844386 * v_beta + -0.5 * v_alpha,
                        -0.8660254037844386 * v_beta + -0.5 * v_alpha)
        limit = a["phaseLimit"]
        return [1.35 * limit_between(v, limit, -limit) for v in phases]

    def update(self):
        b, d = self.b, self.d
        d["integratorStateQ"] = b["integratorInputQ"] * 1e-4 + d["integratorStateQ"]
        d["integratorStateD"] = b["integratorInputD"] * 1e-4 + d["integratorStateD"]


class VelocityControllerDq:
    name = "Qel_Lib_wexa_velocity_controller_dq_sub"
    inputs = ["speedReference", "currentFeedForward", "speedMeasured", "phaseCurrents[0]",
              "phaseCurrents[1]", "phaseCurrents[2]", "electricalAngle"]
    arguments = ["speedGain", "currentGain", "couplingFactorA", "couplingFactorB",
                 "speedIntegralTime", "currentIntegralTime", "speedScaleDenominator",
                 "speedScaleNumerator", "currentLimitBase", "outputLimitBase"]
    outputs = ["phaseOutputs[0]", "phaseOutputs[1]", "phaseOutputs[2]"]
    rtb = ["integratorInputQ", "integratorInputD", "speedIntegratorInput", "speedUpperLimit",
           "speedLowerLimit", "couplingFactorScaled", "outputLimitQ", "outputLimitD",
           "saturatedHigh", "saturatedLow"]
    rtdw = ["speedIntegratorState", "integratorStateQ", "integratorStateD", "saturatedHighPrev",
            "saturatedLowPrev"]
    current_factor = 0.6666666666666666   # applied to each phase current before the transform
    output_gain = 1.35

    def __init__(self):
        self.b = {f: (False if f.startswith("saturated") else 0.0) for f in self.rtb}
        self.d = {f: (False if f.startswith("saturated") else 0.0) for f in self.rtdw}

    def parameter_setup(self, a):
        self.b["speedUpperLimit"] = 3.0 * a["currentLimitBase"]
        self.b["speedLowerLimit"] = (-a["currentLimitBase"]) * 3.0
        self.b["couplingFactorScaled"] = 0.15915494309189535 * a["couplingFactorA"]
        self.b["outputLimitQ"] = 0.95 * a["outputLimitBase"]
        self.b["outputLimitD"] = 0.95 * a["outputLimitBase"]

    def speed_terms(self, u, a):
        num, den = a["speedScaleNumerator"], a["speedScaleDenominator"]
        v_meas = div(u["speedMeasured"] * 0.016666666666666666 * num, den)
        e_speed = div(u["speedReference"] * 0.016666666666666666 * num, den) - v_meas
        return v_meas, e_speed

    def outputs_step(self, u, a):
        b, d = self.b, self.d
        num, den = a["speedScaleNumerator"], a["speedScaleDenominator"]
        v_meas, e_speed = self.speed_terms(u, a)
        u_speed = (div(d["speedIntegratorState"], a["speedIntegralTime"]) + e_speed) * a["speedGain"] * 0.6666666666666666
        iq_ref = limit_between(u_speed, b["speedUpperLimit"], b["speedLowerLimit"])
        if self.current_factor is None:
            ia, ib, ic = u["phaseCurrents[0]"], u["phaseCurrents[1]"], u["phaseCurrents[2]"]
        else:
            ia = u["phaseCurrents[0]"] * self.current_factor
            ib = u["phaseCurrents[1]"] * self.current_factor
            ic = u["phaseCurrents[2]"] * self.current_factor
        alpha = 0.6666666666666666 * ia + -0.3333333333333333 * ib + -0.3333333333333333 * ic
        beta = 0.5773502691896257 * ib + -0.5773502691896257 * ic
        s = math.sin(u["electricalAngle"])
        c = math.cos(u["electricalAngle"])
        kc, tc = a["currentGain"], a["currentIntegralTime"]
        e_q = u["currentFeedForward"] + iq_ref - (beta * c - alpha * s)
        u_q = (div(d["integratorStateQ"], tc) + e_q) * kc
        v_q = saturate(u_q, b["outputLimitQ"])
        b["integratorInputQ"] = clamp_input(u_q > v_q, v_q > u_q, e_q)
        e_d = 0.0 - (alpha * c + beta * s)
        u_d = (div(d["integratorStateD"], tc) + e_d) * kc
        v_d = saturate(u_d, b["outputLimitD"])
        b["integratorInputD"] = clamp_input(u_d > v_d, v_d > u_d, e_d)
        b["speedIntegratorInput"] = clamp_input(d["saturatedHighPrev"], d["saturatedLowPrev"], e_speed)
        w = div(0.016666666666666666 * v_meas * num, den)
        w = w * 0.10471975511965977 * a["couplingFactorB"] * iq_ref * b["couplingFactorScaled"]
        v_d2 = v_d - w
        alpha_s = c * v_d2 - v_q * s
        beta_s = v_q * c + s * v_d2
        phases = centre(alpha_s, -0.5 * alpha_s + 0.8660254037844386 * beta_s,
                        -0.5 * alpha_s + -0.8660254037844386 * beta_s)
        b["saturatedHigh"] = (u_q > v_q) or (u_speed > iq_ref)
        b["saturatedLow"] = (v_q > u_q) or (iq_ref > u_speed)
        limit = a["outputLimitBase"]
        clamped = [limit_between(p, limit, -limit) for p in phases]
        return clamped if self.output_gain is None else [self.output_gain * p for p in clamped]

    def update(self):
        b, d = self.b, self.d
        d["speedIntegratorState"] = b["speedIntegratorInput"] * 1e-4 + d["speedIntegratorState"]
        d["integratorStateQ"] = b["integratorInputQ"] * 1e-4 + d["integratorStateQ"]
        d["integratorStateD"] = b["integratorInputD"] * 1e-4 + d["integratorStateD"]
        d["saturatedHighPrev"] = b["saturatedHigh"]
        d["saturatedLowPrev"] = b["saturatedLow"]


class PositionControllerDq(VelocityControllerDq):
    name = "Qel_Lib_wexa_position_controller_dq_sub"
    inputs = ["positionReference", "speedFeedForward", "currentFeedForward", "positionMeasured",
              "speedMeasured", "phaseCurrents[0]", "phaseCurrents[1]", "phaseCurrents[2]",
              "electricalAngle"]
    arguments = ["speedGain", "currentGain", "positionGain", "couplingFactorA", "couplingFactorB",
                 "speedIntegralTime", "currentIntegralTime", "speedScaleDenominator",
                 "speedScaleNumerator", "currentLimitBase", "outputLimitBase"]
    current_factor = None   # the transform takes the currents as they arrive
    output_gain = None      # the clamped values are the outputs

    def speed_terms(self, u, a):
        num, den = a["speedScaleNumerator"], a["speedScaleDenominator"]
        v_meas = div(u["speedMeasured"] * 0.016666666666666666 * num, den)
        p_ref = div(u["positionReference"] * 0.002777777777777778 * num, den)
        p_meas = div(u["positionMeasured"] * 0.002777777777777778 * num, den)
        e_speed = u["speedFeedForward"] * 0.016666666666666666 + (p_ref - p_meas) * a["positionGain"] - v_meas
        return v_meas, e_speed


def write_trace(model, header, rows):
    """Steps `model` through `rows` (texts in the order of `header`) and writes both files."""
    folder = os.path.join(HERE, model.name)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "input.csv"), "w") as f:
        f.write(",".join(header) + "\n")
        for row in rows:
            f.write(",".join(row) + "\n")

    num_states = getattr(model, "num_states", 0)
    out_header = (["k"] + model.outputs + ["dx[%d]" % i for i in range(num_states)]
                  + ["rtb." + n for n in model.rtb] + ["rtdw." + n for n in model.rtdw])
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
        inputs = {n: values[n] for n in model.inputs}
        if num_states:
            outs = model.outputs_step(inputs, args, [values["x[%d]" % i] for i in range(num_states)])
            outs += model.derivatives()
        else:
            outs = model.outputs_step(inputs, args)
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


def position_controller_rows():
    header = ["positionReference", "speedFeedForward", "currentFeedForward", "positionMeasured",
              "speedMeasured", "currentMeasured", "speedGain", "currentGain", "positionGain",
              "speedIntegralTime", "currentIntegralTime", "speedScaleDenominator",
              "speedScaleNumerator", "currentLimitBase", "outputLimitBase"]
    big = "1e6"
    rows = [
        # one revolution of position error with gain 1: e_speed = 1
        ["360", "0", "0", "0", "0", "0", "1", "1", "1", "1", "1", "1", "1", big, big],
        # ratio 2/1 doubles the position and measured-speed terms but not the feed-forward
        ["90", "60", "0.1", "45", "30", "0.2", "1", "2", "1.5", "0.5", "0.01", "1", "2", big, big],
        # position gain 0: a velocity loop on the feed-forward
        ["1000", "120", "0", "-1000", "60", "0", "1", "1", "0", "1", "1", "1", "1", big, big],
        # a position error far beyond the speed-loop limit 3 * 0.2; flags lag one step
        ["3600", "0", "0", "0", "0", "0", "2", "1", "1", "1", "1", "1", "1", "0.2", big],
        ["3600", "0", "0", "0", "0", "0", "2", "1", "1", "1", "1", "1", "1", "0.2", big],
        ["-3600", "0", "0", "0", "0", "0", "2", "1", "1", "1", "1", "1", "1", "0.2", "0.4"],
        ["-3600", "0", "0", "0", "0", "0", "2", "1", "1", "1", "1", "1", "1", "0.2", "0.4"],
        ["0", "0", "0", "0", "0", "0x1p-4", "2", "1", "1", "1", "1", "3", "7", "0.2", "0.4"],
    ]
    return header, rows


def text(x):
    return "%.17g" % x


def balanced(theta, amplitude):
    return [text(amplitude * math.cos(theta)), text(amplitude * math.cos(theta - 2.0943951023931953)),
            text(amplitude * math.cos(theta + 2.0943951023931953))]


def current_controller_dq_rows():
    header = ["qCurrentReference", "speedInput", "phaseCurrents[0]", "phaseCurrents[1]",
              "phaseCurrents[2]", "electricalAngle", "proportionalGain", "couplingFactorA",
              "couplingFactorB", "integralTime", "couplingDivisor", "couplingFactorC",
              "referenceLimitBase", "phaseLimit"]
    gains = ["2", "0.3", "1.2", "0.01", "4", "0.5", "10", "20"]
    rows = [
        # nothing flowing, nothing commanded: every output 0
        ["0", "0", "0", "0", "0", "0"] + gains,
        # balanced currents at 0.3 rad, a q reference and a speed for the decoupling term
        ["1", "1500"] + balanced(0.3, 1.0) + ["0.3"] + gains,
        ["1", "1500"] + balanced(0.35, 1.0) + ["0.35"] + gains,
        # the q reference beyond its limit 3 * 10, a negative angle not wrapped
        ["45", "-800"] + balanced(-7.5, 2.0) + ["-7.5"] + gains,
        # a small phase limit: both axes saturate and the phases are clamped
        ["5", "200", "1", "-0.5", "-0.5", "2.2"] + gains[:7] + ["0.5"],
        ["-5", "200", "1", "-0.5", "-0.5", "2.2"] + gains[:7] + ["0.5"],
        ["0", "0", "0.25", "0.5", "-0.75", "1"] + ["2", "0.3", "1.2", "0.01", "4", "0.5", "10", "inf"],
    ]
    return header, rows


def velocity_controller_dq_rows():
    header = ["speedReference", "currentFeedForward", "speedMeasured", "phaseCurrents[0]",
              "phaseCurrents[1]", "phaseCurrents[2]", "electricalAngle", "speedGain",
              "currentGain", "couplingFactorA", "couplingFactorB", "speedIntegralTime",
              "currentIntegralTime", "speedScaleDenominator", "speedScaleNumerator",
              "currentLimitBase", "outputLimitBase"]
    gains = ["0.5", "3", "0.3", "1.2", "0.05", "0.01", "2", "3", "5", "40"]
    rows = [
        ["0", "0", "0", "0", "0", "0", "0"] + gains,
        ["600", "0", "0", "1", "-0.5", "-0.5", "0"] + gains,
        ["600", "0.5", "300"] + balanced(1.1, 0.8) + ["1.1"] + gains,
        ["600", "0.5", "300"] + balanced(1.2, 0.9) + ["1.2"] + gains,
        # the speed loop above its limit 3 * 0.1, the q axis saturating at 0.95 * 2
        ["6000", "0", "0"] + balanced(2.0, 0.1) + ["2"] + gains[:8] + ["0.1", "2"],
        ["6000", "0", "0"] + balanced(2.1, 0.1) + ["2.1"] + gains[:8] + ["0.1", "2"],
        ["-6000", "0", "-100"] + balanced(-2.1, 0.1) + ["-2.1"] + gains[:8] + ["0.1", "2"],
        ["-6000", "0", "-100"] + balanced(-2.2, 0.1) + ["-2.2"] + gains[:8] + ["0.1", "2"],
        ["100", "0", "50", "0.1", "0.1", "0.1", "12.5"] + gains,
    ]
    return header, rows


def position_controller_dq_rows():
    header = ["positionReference", "speedFeedForward", "currentFeedForward", "positionMeasured",
              "speedMeasured", "phaseCurrents[0]", "phaseCurrents[1]", "phaseCurrents[2]",
              "electricalAngle", "speedGain", "currentGain", "positionGain", "couplingFactorA",
              "couplingFactorB", "speedIntegralTime", "currentIntegralTime",
              "speedScaleDenominator", "speedScaleNumerator", "currentLimitBase", "outputLimitBase"]
    gains = ["0.5", "3", "2", "0.3", "1.2", "0.05", "0.01", "2", "3", "5", "40"]
    rows = [
        ["0", "0", "0", "0", "0", "0", "0", "0", "0"] + gains,
        # (1, -0.5, -0.5) at angle 0: d component 1, q component 0
        ["0", "0", "0", "0", "0", "1", "-0.5", "-0.5", "0"] + gains,
        ["720", "60", "0.2", "90", "120"] + balanced(0.7, 1.5) + ["0.7"] + gains,
        ["720", "60", "0.2", "95", "120"] + balanced(0.75, 1.5) + ["0.75"] + gains,
        # saturated speed loop and q axis; the outputs clamp at +-outputLimitBase itself
        ["36000", "0", "0", "0", "0"] + balanced(0.2, 0.1) + ["0.2"] + gains[:9] + ["0.1", "1"],
        ["36000", "0", "0", "0", "0"] + balanced(0.3, 0.1) + ["0.3"] + gains[:9] + ["0.1", "1"],
        ["-36000", "0", "0", "0", "0"] + balanced(0.3, 0.1) + ["0.3"] + gains[:9] + ["0.1", "1"],
        ["0", "30", "0", "0", "-40", "0.2", "0.2", "0.2", "-4"] + gains,
    ]
    return header, rows


def round_half_away(x):
    """The host's rounding: to the nearest integer, halves away from zero, sign of zero kept."""
    if not math.isfinite(x) or abs(x) >= 4503599627370496.0:
        return x
    r = float(math.floor(x))
    frac = x - r
    if frac > 0.5 or (frac == 0.5 and x > 0.0):
        r += 1.0
    return math.copysign(r, x) if r == 0.0 else r


def mod(x, y):
    r = x - float(math.floor(x / y)) * y
    return 0.0 if r == y else r


def sensor_lookup(x, table):
    n = 119
    if x <= 0.0:
        i = 0
    elif x < float(n):
        lo, hi, mid = 0, n, n >> 1
        while hi - lo > 1:
            if x < float(mid):
                hi = mid
            else:
                lo = mid
            mid = (hi + lo) >> 1
        i = lo
    else:
        i = n - 1
    f = (x - float(i)) / (float(i + 1) - float(i))
    return (table[i + 1] - table[i]) * f + table[i]


TABLE = ["angleErrorTable[%d]" % i for i in range(120)]
SENSING_RTDW = ["obsAngle", "obsSpeedFilt", "enc2SpeedFilt", "enc3SpeedFilt", "enc3PrevAngle",
                "obsSpeedInt", "enc2PrevAngle", "enc2AngleHold", "enc3AngleHold", "sens1AngleHold"]
TWO_PI = 6.283185307179586


class Plant:
    """What both motors share: the measurement chain at a sensor tick (every row is one)."""

    def __init__(self):
        self.b = dict.fromkeys(self.rtb, 0.0)
        self.d = dict.fromkeys(self.rtdw, 0.0)

    def parameter_setup(self, a):
        pass

    def sensing(self, theta_m, channels, a):
        b, d = self.b, self.d
        n = theta_m * 0.15915494309189535
        if math.trunc(a["sensorErrorsOn"]) != 0:
            res = a["angleResolution"]

            def q(u):
                return round_half_away(u / res) * res
            h1 = 1.0 * math.sin(12.566370614359172 * n + 0.0) + 0.0
            h2 = 0.1 * math.sin(251.32741228718345 * n + 0.0) + 0.0
            theta2 = q(n + (h2 + h1) * a["encoderErrorAmplitude"] * 0.002777777777777778)
            theta3 = q(n + h1 * 1.0 * 0.002777777777777778)
            table = [a[name] for name in TABLE]
            theta1 = q(sensor_lookup(mod(120.0 * n, 120.0), table) * 0.002777777777777778 + n)
        else:
            theta1 = theta2 = theta3 = n
        phi = d["obsAngle"]
        d["enc2AngleHold"] = theta2
        b["enc2Angle"] = d["enc2AngleHold"]
        d["enc3AngleHold"] = theta3
        b["enc3Angle"] = d["enc3AngleHold"]
        sensor = math.trunc(a["sensorSelect"])
        if sensor == 1:
            angle, speed = phi, d["obsSpeedFilt"]
        elif sensor == 2:
            angle, speed = b["enc2Angle"], d["enc2SpeedFilt"]
        else:
            angle, speed = b["enc3Angle"], d["enc3SpeedFilt"]
        gl, gm, tau = a["gearLoadTurns"], a["gearMotorTurns"], a["speedFilterTau"]
        measured_speed = div(60.0 * speed * gl, gm)
        measured_angle = 360.0 * div(gl * angle, gm)
        quantised = round_half_away(div((b["enc3Angle"] - d["enc3PrevAngle"]) / 0.0001, 2.44140625)) * 2.44140625
        b["enc3SpeedFiltDot"] = div(quantised - d["enc3SpeedFilt"], tau)
        phi_w = mod(phi, TWO_PI)
        d["sens1AngleHold"] = theta1
        for name, value in zip(self.holds, channels):
            d[name] = value
        theta_w = mod(d["sens1AngleHold"], TWO_PI)
        sq = round_half_away(math.sin(theta_w) / 0.00048828125) * 0.00048828125
        cq = round_half_away(math.cos(theta_w) / 0.00048828125) * 0.00048828125
        b["obsError"] = (sq * math.cos(phi_w) - math.sin(phi_w) * cq) * 1440000.0
        b["obsSpeed"] = b["obsError"] * 0.0014 + d["obsSpeedInt"]
        b["obsSpeedFiltDot"] = div(b["obsSpeed"] - d["obsSpeedFilt"], tau)
        b["enc2SpeedFiltDot"] = div((b["enc2Angle"] - d["enc2PrevAngle"]) / 0.0001 - d["enc2SpeedFilt"], tau)
        res = a["currentResolution"]
        currents = [round_half_away(div(d[name], res)) * res for name in self.holds]
        return [measured_angle, measured_speed] + currents

    def friction_and_load(self, te, omega, u, a):
        gl, gm, eff = a["gearLoadTurns"], a["gearMotorTurns"], a["gearEfficiency"]
        shaft = div(a["gearMotorTurns"] * te, gl) * eff
        load = div(div(u["loadTorque"] * gl, gm), eff)
        friction = sign(omega) * (abs(omega) * a["viscousFriction"] + a["coulombFriction"])
        return shaft, div(te - load - friction, a["inertia"])

    def update(self):
        b, d = self.b, self.d
        d["obsAngle"] = b["obsSpeed"] * 0.0001 + d["obsAngle"]
        d["obsSpeedFilt"] = b["obsSpeedFiltDot"] * 0.0001 + d["obsSpeedFilt"]
        d["enc2SpeedFilt"] = b["enc2SpeedFiltDot"] * 0.0001 + d["enc2SpeedFilt"]
        d["enc3SpeedFilt"] = b["enc3SpeedFiltDot"] * 0.0001 + d["enc3SpeedFilt"]
        d["enc3PrevAngle"] = b["enc3Angle"]
        d["obsSpeedInt"] = b["obsError"] * 0.0001 + d["obsSpeedInt"]
        d["enc2PrevAngle"] = b["enc2Angle"]


class MotorSingleWinding(Plant):
    name = "Qel_Lib_motor_sub"
    inputs = ["armatureVoltage", "loadTorque"]
    arguments = (["sensorSelect", "currentResolution", "angleResolution", "inertia", "inductance",
                  "resistance", "coulombFriction", "viscousFriction", "motorConstant",
                  "speedFilterTau"] + TABLE
                 + ["gearLoadTurns", "gearEfficiency", "gearMotorTurns", "encoderErrorAmplitude",
                    "sensorErrorsOn"])
    outputs = ["measuredAngle", "measuredSpeed", "measuredCurrent", "shaftTorque"]
    num_states = 3
    rtb = ["enc2Angle", "enc3Angle", "omegaMSignal", "iArmDot", "omegaMDot", "enc3SpeedFiltDot",
           "obsError", "obsSpeed", "obsSpeedFiltDot", "enc2SpeedFiltDot"]
    rtdw = SENSING_RTDW + ["iHold"]
    holds = ["iHold"]

    def outputs_step(self, u, a, x):
        b = self.b
        theta_m, i_arm, omega_m = x
        k = a["motorConstant"]
        te = i_arm * k
        b["omegaMSignal"] = omega_m
        b["iArmDot"] = div(u["armatureVoltage"] - b["omegaMSignal"] * k - i_arm * a["resistance"], a["inductance"])
        shaft, b["omegaMDot"] = self.friction_and_load(te, b["omegaMSignal"], u, a)
        measured = self.sensing(theta_m, [i_arm], a)
        return measured + [shaft]

    def derivatives(self):
        return [self.b["omegaMSignal"], self.b["iArmDot"], self.b["omegaMDot"]]


class MotorDq(Plant):
    name = "Qel_Lib_motor_dq_sub"
    inputs = ["phaseVoltage[0]", "phaseVoltage[1]", "phaseVoltage[2]", "loadTorque"]
    arguments = (["sensorSelect", "currentResolution", "angleResolution", "inertia", "inductance",
                  "resistance", "coulombFriction", "viscousFriction", "fluxLinkage", "polePairs",
                  "speedFilterTau"] + TABLE
                 + ["gearLoadTurns", "gearEfficiency", "gearMotorTurns", "encoderErrorAmplitude",
                    "sensorErrorsOn"])
    outputs = ["measuredAngle", "measuredSpeed", "measuredCurrent[0]", "measuredCurrent[1]",
               "measuredCurrent[2]", "shaftTorque", "electricalAngle"]
    num_states = 4
    rtb = ["enc2Angle", "enc3Angle", "omegaMSignal", "idDot", "iqDot", "omegaMDot",
           "enc3SpeedFiltDot", "obsError", "obsSpeed", "obsSpeedFiltDot", "enc2SpeedFiltDot"]
    rtdw = SENSING_RTDW + ["iaHold", "ibHold", "icHold"]
    holds = ["iaHold", "ibHold", "icHold"]

    def outputs_step(self, u, a, x):
        b = self.b
        theta_m, iq, i_d, omega_m = x
        va, vb, vc = u["phaseVoltage[0]"], u["phaseVoltage[1]"], u["phaseVoltage[2]"]
        v_alpha = 0.6666666666666666 * va + -0.3333333333333333 * vb + -0.3333333333333333 * vc
        v_beta = 0.5773502691896257 * vb + -0.5773502691896257 * vc
        pp, flux, ind, res = a["polePairs"], a["fluxLinkage"], a["inductance"], a["resistance"]
        theta_e = theta_m * pp
        c = math.cos(theta_e)
        s = math.sin(theta_e)
        vd = v_alpha * c + v_beta * s
        vq = v_beta * c - v_alpha * s
        te = iq * flux * pp
        b["omegaMSignal"] = omega_m
        omega_e = b["omegaMSignal"] * pp
        b["idDot"] = div(vd + iq * ind * 0.15915494309189535 * omega_e - i_d * res, ind)
        b["iqDot"] = div(vq - (i_d * ind * 0.15915494309189535 + flux) * omega_e - iq * res, ind)
        i_alpha = i_d * c - iq * s
        i_beta = i_d * s + iq * c
        shaft, b["omegaMDot"] = self.friction_and_load(te, b["omegaMSignal"], u, a)
        electrical = mod(theta_e, TWO_PI)
        ia = i_alpha
        ib = -0.5 * i_alpha + 0.8660254037844386 * i_beta
        ic = -0.5 * i_alpha + -0.8660254037844386 * i_beta
        measured = self.sensing(theta_m, [ia, ib, ic], a)
        return measured + [shaft, electrical]

    def derivatives(self):
        b = self.b
        return [b["omegaMSignal"], b["iqDot"], b["idDot"], b["omegaMDot"]]


def plant_rows(model, voltage_columns):
    """A motor turning through a few ticks under each sensor, errors off, then on."""
    table = [text(0.5 * math.sin(i * 0.21) + 0.1 * math.cos(i * 1.3)) for i in range(120)]
    header = list(model.inputs) + list(model.arguments) + ["x[%d]" % i for i in range(model.num_states)]
    rows = []
    k = 0
    for errors in ("0", "1"):
        for sensor in ("1", "2.7", "-1"):
            for step in range(4):
                k += 1
                t = k * 1e-4
                theta = 0.3 + 60.0 * t + 2.0 * t * t
                omega = 60.0 + 4.0 * t
                values = {
                    "loadTorque": text(0.25 * math.sin(k)), "sensorSelect": sensor,
                    "currentResolution": "0.01", "angleResolution": text(1.0 / 4096),
                    "inertia": "0.002", "inductance": "0.0015", "resistance": "0.8",
                    "coulombFriction": "0.05", "viscousFriction": "0.0002", "motorConstant": "0.12",
                    "fluxLinkage": "0.02", "polePairs": "4", "speedFilterTau": "0.0005",
                    "gearLoadTurns": "1", "gearEfficiency": "0.95", "gearMotorTurns": "8",
                    "encoderErrorAmplitude": "0.7", "sensorErrorsOn": errors,
                }
                for i, name in enumerate(TABLE):
                    values[name] = table[i]
                for i, name in enumerate(voltage_columns):
                    values[name] = text(24.0 * math.cos(4.0 * theta - i * 2.0943951023931953 + 0.4))
                states = [text(theta)] + [text(1.5 + 0.1 * i + 0.01 * k) for i in range(model.num_states - 2)]
                states += [text(omega)]
                values.update({"x[%d]" % i: v for i, v in enumerate(states)})
                rows.append([values[name] for name in header])
    # a rotor at standstill at a negative angle: the friction term vanishes, the angle wraps
    last = dict(zip(header, rows[-1]))
    last["x[0]"] = "-2.5"
    last["x[%d]" % (model.num_states - 1)] = "0"
    rows.append([last[name] for name in header])
    return header, rows


def main():
    write_trace(CurrentController(), *current_controller_rows())
    write_trace(VelocityController(), *velocity_controller_rows())
    write_trace(PositionController(), *position_controller_rows())
    write_trace(CurrentControllerDq(), *current_controller_dq_rows())
    write_trace(VelocityControllerDq(), *velocity_controller_dq_rows())
    write_trace(PositionControllerDq(), *position_controller_dq_rows())
    write_trace(MotorSingleWinding(), *plant_rows(MotorSingleWinding, ["armatureVoltage"]))
    write_trace(MotorDq(), *plant_rows(MotorDq, ["phaseVoltage[0]", "phaseVoltage[1]", "phaseVoltage[2]"]))


if __name__ == "__main__":
    main()
