#!/usr/bin/env python3
"""A bench-scope automation script as a lab would write it for any SCPI
oscilloscope: set up the time base, the channels and an edge trigger, take a
single record, wait for it with *OPC?, read the preamble and the waveform,
take the measurements and fetch a screenshot for the report.

    bench_scope.py TCPIP::127.0.0.1::5025::SOCKET [report-dir]
"""
import json
import os
import sys

import pyvisa

MEASUREMENTS = ("VPP", "VAMPlitude", "VTOP", "VBASe", "PERiod", "FREQuency", "RISetime", "FALLtime",
                "PWIDth", "NWIDth", "DUTYcycle")


def run(resource, report_dir=None):
    rm = pyvisa.ResourceManager("@py")
    scope = rm.open_resource(resource, read_termination="\n", write_termination="\n", timeout=20000)
    try:
        scope.write("*RST;*CLS")
        identity = scope.query("*IDN?").strip()

        # Horizontal: 1 ms/div, the trigger at the left edge of the screen.
        scope.write(":TIMebase:SCALe 1ms")
        scope.write(":TIMebase:POSition 5ms")
        # Vertical: CH1 500 mV/div DC, CH2 200 mV/div DC, 1:1 probes.
        for channel, scale in ((1, "500mV"), (2, "200mV")):
            scope.write(f":CHANnel{channel}:DISPlay ON")
            scope.write(f":CHANnel{channel}:SCALe {scale}")
            scope.write(f":CHANnel{channel}:COUPling DC")
            scope.write(f":CHANnel{channel}:PROBe 1")
            scope.write(f":CHANnel{channel}:OFFSet 0")
        # Edge trigger on CH1, rising through 100 mV, waiting for it.
        scope.write(":TRIGger:EDGE:SOURce CHANnel1")
        scope.write(":TRIGger:EDGE:SLOPe POSitive")
        scope.write(":TRIGger:EDGE:LEVel 0.1")
        scope.write(":TRIGger:SWEep NORMal")
        scope.write(":ACQuire:TYPE NORMal")

        scope.write(":SINGle")
        assert scope.query("*OPC?").strip() == "1"

        result = {"idn": identity, "channels": {}}
        for channel in (1, 2):
            scope.write(f":WAVeform:SOURce CHANnel{channel}")
            scope.write(":WAVeform:FORMat WORD")
            scope.write(":WAVeform:BYTeorder MSBFirst")
            (fmt, kind, points, count, xinc, xorig, xref, yinc, yorig, yref) = \
                scope.query_ascii_values(":WAVeform:PREamble?")
            codes = scope.query_binary_values(":WAVeform:DATA?", datatype="H", is_big_endian=True)
            volts = [(c - yref) * yinc + yorig for c in codes]
            times = [xorig + (i - xref) * xinc for i in range(len(codes))]
            figures = {name: scope.query_ascii_values(f":MEASure:{name}? CHANnel{channel}")[0]
                       for name in MEASUREMENTS}
            result["channels"][channel] = {"points": int(points), "xincrement": xinc, "times": times,
                                           "volts": volts, "measure": figures,
                                           "scale": float(scope.query(f":CHANnel{channel}:SCALe?"))}
        result["timebase"] = float(scope.query(":TIMebase:SCALe?"))
        result["rate"] = float(scope.query(":ACQuire:SRATe?"))

        scope.write(":HARDcopy:INKSaver OFF")  # what many scripts send first; an error here is harmless
        png = scope.query_binary_values(":DISPlay:DATA? PNG", datatype="B", container=bytes)
        result["png"] = len(png)
        if report_dir:
            with open(os.path.join(report_dir, "screen.png"), "wb") as f:
                f.write(png)
        result["errors"] = []
        while True:
            error = scope.query(":SYSTem:ERRor?").strip()
            if error.startswith("0,"):
                break
            result["errors"].append(error)
        result["png_magic"] = png[:8].hex()
        return result
    finally:
        scope.close()
        rm.close()


if __name__ == "__main__":
    report = run(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None)
    for channel, c in report["channels"].items():
        print(f"CH{channel}: {c['points']} points, " +
              ", ".join(f"{k} {v:.6g}" for k, v in c["measure"].items()))
    print(json.dumps({k: v for k, v in report.items() if k != "channels"}))
