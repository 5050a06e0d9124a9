"""Sound levels of a Pelmok deployment computed from their definitions with
numpy and scipy, against pelmok-data levels' CSV table and NetCDF file.

usage: levels_reference.py DATA_FOLDER RATE CALIBRATION.csv GAIN_DB LEVELS.csv LEVELS.nc
Prints one line per disagreement and "checked N levels" at the end.
"""
import csv
import math
import os
import sys

import netCDF4
import numpy as np
import scipy.signal

folder, rate, cal_path, gain, csv_path, nc_path = sys.argv[1:7]
rate, gain = int(rate), float(gain)
lsb = 2.5 / 8388607
cal = np.loadtxt(cal_path, delimiter=",", comments="#", skiprows=1)
problems = []
checked = 0


def sensitivity(f):
    """Linear in dB over log frequency, the end values beyond."""
    return np.interp(np.log10(np.maximum(f, 1e-9)), np.log10(cal[:, 0]), cal[:, 1])


def codes(path):
    words = np.fromfile(path, dtype="<u4").astype(np.int64) & 0xFFFFFF
    return np.where(words >= 0x800000, words - 0x1000000, words)


def band_power(f, psd, df, lo, hi):
    overlap = np.clip(np.minimum(hi, f + df / 2) - np.maximum(lo, f - df / 2), 0, None)
    return float(np.sum(psd * overlap))


def expect(what, got, want, tolerance):
    global checked
    checked += 1
    if not (abs(got - want) <= tolerance):
        problems.append(f"{what}: {got} against {want}")


def reference(x):
    nper = min(rate, len(x))
    f, p = scipy.signal.welch(x.astype(float), fs=rate, window="hann", nperseg=nper, detrend=False)
    p = p * lsb**2 / 10 ** ((sensitivity(f) + gain) / 10)
    df = f[1] - f[0]
    levels = {}
    lo, hi = cal[0, 0], min(cal[-1, 0], rate / 2)
    levels["broadband"] = 10 * math.log10(band_power(f, p, df, lo, hi))
    levels["sel"] = levels["broadband"] + 10 * math.log10(len(x) / rate)
    s1k = sensitivity(np.array([1000.0]))[0]
    levels["peak"] = 20 * math.log10(np.max(np.abs(x)) * lsb) - s1k - gain
    n = 10
    while 10 ** ((n + 0.5) / 10) <= rate / 2:
        lo, hi = 10 ** ((n - 0.5) / 10), 10 ** ((n + 0.5) / 10)
        if lo >= cal[0, 0] and hi <= cal[-1, 0]:
            levels[("decidecade", round(10 ** (n / 10), 4))] = (10 * math.log10(band_power(f, p, df, lo, hi)), hi - lo)
        n += 1
    return levels


rows = list(csv.DictReader(open(csv_path, newline="")))
by_record = {}
for row in rows:
    if row["record"] != "":
        by_record.setdefault((row["file"], row["record"]), []).append(row)
names = sorted(os.listdir(folder))
if len(by_record) != len(names):
    problems.append(f"{len(by_record)} records in the table, {len(names)} files")
for name in names:
    ref = reference(codes(os.path.join(folder, name)))
    for row in by_record.get((name, "0"), []):
        kind, level = row["kind"], float(row["level_db"])
        if kind in ("broadband", "sel", "peak"):
            expect(f"{name} {kind}", level, ref[kind], 0.01)
        elif kind == "decidecade":
            want, width = ref.pop((kind, float(row["centre_hz"])))
            if width >= 10:
                expect(f"{name} decidecade {row['centre_hz']}", level, want, 0.05)
    left = [k for k in ref if isinstance(k, tuple)]
    if left:
        problems.append(f"{name}: decidecade bands missing from the table: {left}")

# Percentiles: exact, by nearest rank over the records' rows as written.
series = {}
for row in rows:
    if row["record"] != "" and row["kind"] in ("broadband", "decidecade", "hmd"):
        series.setdefault((row["centre_hz"], row["low_hz"], row["high_hz"]), []).append(float(row["level_db"]))
for row in rows:
    if row["record"] == "" and row["kind"].startswith("p"):
        values = series[(row["centre_hz"], row["low_hz"], row["high_hz"])]
        want = np.percentile(values, int(row["kind"][1:]), method="inverted_cdf")
        expect(f"{row['kind']} {row['centre_hz']}", float(row["level_db"]), want, 0)

# The NetCDF file: its dimensions, units and attributes, and the table's hmd rows.
nc = netCDF4.Dataset(nc_path)
hmd = [r for r in rows if r["kind"] == "hmd" and r["record"] != ""]
centres = sorted({float(r["centre_hz"]) for r in hmd})
if nc.dimensions["time"].size != len(names) or not nc.dimensions["time"].isunlimited():
    problems.append(f"time dimension {nc.dimensions['time']}")
if nc.variables["psd"].dimensions != ("time", "frequency"):
    problems.append(f"psd dimensions {nc.variables['psd'].dimensions}")
if nc.variables["psd"].units != "dB re 1 \u00b5Pa\u00b2/Hz" or nc.variables["frequency"].units != "Hz":
    problems.append("units " + nc.variables["psd"].units)
if not nc.variables["time"].units.startswith("seconds since 1970-01-01") or nc.Conventions != "CF-1.8":
    problems.append("time units or Conventions")
if not nc.source.startswith("Pelmok receiver data files, pelmok-data 0."):
    problems.append("source attribute " + nc.source)
if "calibration" not in nc.ncattrs() or cal_path not in nc.calibration:
    problems.append("calibration attribute")
frequency = nc.variables["frequency"][:]
bounds = nc.variables["frequency_bounds"][:]
if np.any(bounds[1:, 0] != bounds[:-1, 1]) or np.any(bounds[:, 0] > frequency) or np.any(bounds[:, 1] < frequency):
    problems.append("hmd bands do not tile")
psd = nc.variables["psd"][:]
times = netCDF4.num2date(nc.variables["time"][:], nc.variables["time"].units, only_use_cftime_datetimes=False)
starts = sorted({r["start_utc"] for r in hmd})
for t, when in enumerate(times):
    if when.strftime("%Y-%m-%dT%H:%M:%S.%f")[:23] + "Z" != starts[t]:
        problems.append(f"time {when} against {starts[t]}")
column = {round(float(c), 4): i for i, c in enumerate(frequency)}
for r in hmd:
    t = starts.index(r["start_utc"])
    expect(f"netcdf {r['start_utc']} {r['centre_hz']}", float(psd[t, column[float(r["centre_hz"])]]),
           float(r["level_db"]), 0.006)

for p in problems[:20]:
    print(p)
print(f"checked {checked} levels, {len(problems)} disagree")
