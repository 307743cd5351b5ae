"""The C library underneath: finding libru3, the signature of each of its
115 exported functions (and the extension's) for ctypes, and the codes of its header the package
uses (named as in ru3.h without the RU3_ prefix).

``RU3_LIBRARY`` in the environment names the library file to load (a build
tree's ``libru3.so.1``, say); otherwise the installed one is loaded by its
soname, ``libru3.so.1``.
"""

from __future__ import annotations

import ctypes
import os
import threading

SONAME = "libru3.so.1"

# Codes of ru3.h.
#: The code of a position that received no sample. No sample has it: a
#: sample's low four bits are always 0.
NO_SAMPLE = 0x7FFF
MODE_CH1 = 1  # measure modes
TRIG_CH1 = 0  # trigger source ordinals
TRIG_CH2 = 1
TRIG_NONE = 9  # free-running
TIMEOUT_NONE = 0xFFFFFFFF  # trigger time-out: wait for ever
KIND_RISING = 0  # trigger kinds
KIND_FALLING = 1
KIND_FALLING_BELOW = 2
KIND_EITHER = 3
COUPLING_DC = 0
COUPLING_AC = 1

_TYPES = {
    "u8": ctypes.c_uint8,
    "u16": ctypes.c_uint16,
    "u32": ctypes.c_uint32,
    "i32": ctypes.c_int32,
    "f64": ctypes.c_double,
}

# Every export as "result name(arguments)", in the order of the header; a
# trailing * is a pointer to that type (a single value or a host buffer).
PROTOTYPES = """
u16 InitInstrument(u32)
u16 ExitInstrument()
i32 GetMaxSampleFrequency()
f64 GetMaxSampleFrequencyF()
i32 GetMaxRecordLength()
u16 GetSquareWaveGenStatus()
u16 GetFunctionGenStatus()
u16 GetFuncGenMaxAmplitude(f64*)
i32 GetDCLevelStatus()
u16 GetNrChannels(u16*)
u16 SetDataReadyCallback(u32)
u16 SetDataReadyEvent(u32)
u16 StartMeasurement()
u16 ADC_Start()
u16 ADC_Running()
u16 ADC_Abort()
u16 ADC_Triggered()
u16 ADC_Ready()
u16 ADC_ForceTrig()
u16 DoMeasure(i32)
u16 GetMeasurement(f64*, f64*)
u16 GetOneMeasurement(i32, f64*, f64*)
u16 GetMeasurementRaw(u16*, u16*)
u16 GetOneMeasurementRaw(i32, u16*, u16*)
u16 GetOneMeasurementRawCh(u32, i32, u16*)
u16 ADC_GetData(u16*, u16*)
u16 ADC_GetDataVolt(f64*, f64*)
u16 ADC_GetDataCh(u32, u16*)
u16 ADC_GetDataVoltCh(u32, f64*)
u16 GetDigitalInputValues(u16*)
u16 GetOneDigitalValue(u32, u16*)
u16 GetMeasureMode(u8*)
u16 SetMeasureMode(u32)
i32 GetRecordLength()
u16 SetRecordLength(u32)
i32 GetPostSamples()
u16 SetPostSamples(u32)
i32 GetSampleFrequency()
u16 SetSampleFrequency(u32*)
f64 GetSampleFrequencyF()
u16 SetSampleFrequencyF(f64*)
u16 GetResolution(u8*)
u16 SetResolution(u32)
u16 GetExternalClock(u16*)
u16 SetExternalClock(u32)
u16 SetInstrumentConfig(u32)
u16 GetInstrumentConfig(u16*)
u16 SetTransferMode(u32)
u16 GetTransferMode(u32*)
u16 GetSensitivity(u32, f64*)
u16 SetSensitivity(u32, f64*)
u16 GetAutoRanging(u32, u8*)
u16 SetAutoRanging(u32, u32)
u16 GetCoupling(u32, u8*)
u16 SetCoupling(u32, u32)
u16 GetDcLevel(u32, f64*)
u16 SetDcLevel(u32, f64)
u16 GetTriggerSource(u8*)
u16 SetTriggerSource(u32)
u16 GetTriggerMode(u8*)
u16 SetTriggerMode(u32)
u16 GetTriggerModeCh(u32, u8*)
u16 SetTriggerModeCh(u32, u32)
u16 GetTriggerLevel(u32, f64*)
u16 SetTriggerLevel(u32, f64)
u16 GetTriggerHys(u32, f64*)
u16 SetTriggerHys(u32, f64)
u16 GetPXITriggerSlopes(u8*)
u16 SetPXITriggerSlopes(u32)
u16 GetPXITriggerEnables(u8*)
u16 SetPXITriggerEnables(u32)
i32 GetTriggerTimeOut()
u16 SetTriggerTimeOut(u32)
u16 GetCalibrationDate(i32*)
u16 GetSerialNumber(i32*)
u16 GetAvailableResolutions(f64*)
u16 GetAvailableSensitivities(f64*)
i32 GetSquareWaveGenFrequency()
u16 SetSquareWaveGenFrequency(u32*)
u16 GetFuncGenFrequency(f64*)
u16 SetFuncGenFrequency(f64*)
u16 GetFuncGenAmplitude(f64*)
u16 SetFuncGenAmplitude(f64)
u16 GetFuncGenSignalType(u16*)
u16 SetFuncGenSignalType(u32)
u16 GetFuncGenDCOffset(f64*)
u16 SetFuncGenDCOffset(f64)
u16 GetFuncGenSymmetry(f64*)
u16 SetFuncGenSymmetry(f64)
u16 GetFuncGenOutputOn(u16*)
u16 SetFuncGenOutputOn(u32)
u16 FillFuncGenMemory(u32, u16*)
u16 FuncGenBurst(u32)
u16 SetFuncGenTrigSource(u32)
u16 GetFuncGenTrigSource(u8*)
u16 SetFuncGenMode(u32)
u16 GetFuncGenMode(u32)
u16 SetFuncGenEnable(u32)
u16 GetFuncGenEnable(u16*)
u16 SetFuncGenAmplitudeRange(u32)
u16 GetFuncGenAmplitudeRange(u32)
u16 SetDigitalOutputs(u32)
u16 GetDigitalOutputs(u32)
u16 SetupOhmMeasurements(u32)
u16 GetOhmValues(u32, u32)
u16 I2CWrite(u32, u32, u32)
u16 I2CRead(u32, u32, u32)
u16 I2CWriteNoStop(u32, u32, u32)
u16 I2CReadNoStop(u32, u32, u32)
u16 I2CSetSpeed(u32)
u16 I2CGetSpeed(u32)
u16 GetActiveRU3(u8*)
u16 SetActiveRU3(u32)
u16 SetDAC7394(f64, f64)
u16 SetMotorOn(u32, u32)
"""


# The library's extension after the 115 (ru3_extension.h).
EXTENSION_PROTOTYPES = """
u16 Ext_SetFullPreTrigger(u32)
u16 Ext_GetFullPreTrigger(u8*)
"""


class RecordInfo(ctypes.Structure):
    """RU3RecordInfo of ru3_extension.h: the facts of the record in the buffers."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("sequence", ctypes.c_uint32),
        ("sample_rate", ctypes.c_double),
        ("range", ctypes.c_double * 2),
        ("coupling", ctypes.c_int32 * 2),
        ("unit", ctypes.c_int32),
        ("length", ctypes.c_int32),
        ("trigger_position", ctypes.c_int32),
        ("first_sample", ctypes.c_int32),
        ("forced", ctypes.c_int32),
        ("full_pretrigger", ctypes.c_int32),
        ("channels", ctypes.c_int32),
    ]


def record_info(lib: ctypes.CDLL) -> RecordInfo:
    """The facts of the record now in the library's buffers."""
    info = RecordInfo()
    info.size = ctypes.sizeof(info)
    status = lib.Ext_GetRecordInfo(ctypes.byref(info))
    if status != 0:
        raise OSError(f"Ext_GetRecordInfo: status {status}")
    return info


def _ctype(text: str):
    if text.endswith("*"):
        return ctypes.POINTER(_TYPES[text[:-1]])
    return _TYPES[text]


def parse_prototypes(text: str = PROTOTYPES) -> dict[str, tuple[str, list[str]]]:
    """name -> (result type, argument types) as written in PROTOTYPES."""
    table = {}
    for line in text.strip().splitlines():
        result, rest = line.split(" ", 1)
        name, args = rest.rstrip(")").split("(")
        table[name] = (result, [a.strip() for a in args.split(",") if a.strip()])
    return table


_lock = threading.Lock()
_library: ctypes.CDLL | None = None


def library() -> ctypes.CDLL:
    """The loaded library with every export's argument and result types set.

    Loaded once per process: the library keeps one instrument for the whole
    process, whoever loads it.
    """
    global _library
    with _lock:
        if _library is None:
            path = os.environ.get("RU3_LIBRARY") or SONAME
            try:
                lib = ctypes.CDLL(path)
            except OSError as error:
                raise OSError(
                    f"cannot load the RU3 driver library {path!r} ({error}); install it, "
                    "or name the file in RU3_LIBRARY"
                ) from error
            prototypes = {**parse_prototypes(), **parse_prototypes(EXTENSION_PROTOTYPES)}
            for name, (result, args) in prototypes.items():
                function = getattr(lib, name)
                function.restype = _ctype(result)
                function.argtypes = [_ctype(a) for a in args]
            lib.Ext_GetRecordInfo.restype = ctypes.c_uint16
            lib.Ext_GetRecordInfo.argtypes = [ctypes.POINTER(RecordInfo)]
            _library = lib
        return _library
